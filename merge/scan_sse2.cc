// The SSE2 kernel, for every x86-64 processor: masks 16 bytes at a time,
// and the whitespace search 64 and 16 at a time.
#include "merge/scan_kernel.h"

#include <emmintrin.h>

#include "merge/html_chars.h"

namespace {

// 0xFF in each byte of `x` that is whitespace, 0 in the others.
inline __m128i WhitespaceBytes(__m128i x) {
  // Tab to carriage return: x - '\t' is at most 4 as an unsigned byte.
  __m128i low = _mm_sub_epi8(x, _mm_set1_epi8('\t'));
  return _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8(' ')),
                      _mm_cmpeq_epi8(_mm_min_epu8(low, _mm_set1_epi8(4)), low));
}

// 16 bits of a movemask, placed for the k-th 16 bytes of the window.
inline std::uint64_t Bits(__m128i v, int k) {
  return static_cast<std::uint64_t>(
             static_cast<std::uint16_t>(_mm_movemask_epi8(v)))
         << (16 * k);
}

inline WindowMasks Sse2Masks(const char* data, std::size_t size, char trigger,
                             const StopStarts& starts) {
  if (size != 64 || starts.firsts > 2 || starts.seconds > 2) {
    return PlainMasks(data, size, trigger, starts);
  }
  const __m128i t = _mm_set1_epi8(trigger);
  // Every set holds one or two bytes: a second one repeats the first.
  const __m128i first0 = _mm_set1_epi8(starts.first[0]);
  const __m128i first1 = _mm_set1_epi8(starts.first[starts.firsts - 1]);
  const __m128i second0 = _mm_set1_epi8(starts.second[0]);
  const __m128i second1 = _mm_set1_epi8(starts.second[starts.seconds - 1]);
  WindowMasks m;
  for (int k = 0; k < 4; ++k) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data) + k);
    __m128i first =
        _mm_or_si128(_mm_cmpeq_epi8(x, first0), _mm_cmpeq_epi8(x, first1));
    __m128i second =
        _mm_or_si128(_mm_cmpeq_epi8(x, second0), _mm_cmpeq_epi8(x, second1));
    m.triggers |= Bits(_mm_cmpeq_epi8(x, t), k);
    m.blanks |= Bits(WhitespaceBytes(x), k);
    m.firsts |= Bits(first, k);
    m.seconds |= Bits(second, k);
  }
  return m;
}

inline TagMasks Sse2WindowMasks(const char* data) {
  TagMasks m{};
  for (int k = 0; k < 4; ++k) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data) + k);
    auto is = [x](char c) { return _mm_cmpeq_epi8(x, _mm_set1_epi8(c)); };
    // The blanks of HTML are whitespace but for the vertical tab.
    __m128i slash = is('/');
    __m128i spaces =
        _mm_or_si128(_mm_andnot_si128(is('\v'), WhitespaceBytes(x)), slash);
    // Letters: in lower case, at most 'z' - 'a' above 'a'.
    __m128i lower =
        _mm_sub_epi8(_mm_or_si128(x, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    __m128i letters =
        _mm_cmpeq_epi8(_mm_min_epu8(lower, _mm_set1_epi8('z' - 'a')), lower);
    m.lt |= Bits(is('<'), k);
    m.gt |= Bits(is('>'), k);
    m.double_ |= Bits(is('"'), k);
    m.single |= Bits(is('\''), k);
    m.equals |= Bits(is('='), k);
    m.spaces |= Bits(spaces, k);
    m.slash |= Bits(slash, k);
    m.letters |= Bits(letters, k);
  }
  return m;
}

}  // namespace

void Sse2TagMasks(const char* data, int windows, TagMasks* out) {
  for (int w = 0; w < windows; ++w) out[w] = Sse2WindowMasks(data + 64 * w);
}

std::size_t FindWhitespaceSse2(const char* data, std::size_t size) {
  auto at = [data](std::size_t i) {
    return WhitespaceBytes(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)));
  };
  std::size_t i = 0;
  // A long word goes by 64 bytes a step; the blank is found within them.
  for (; i + 64 <= size; i += 64) {
    __m128i any = _mm_or_si128(_mm_or_si128(at(i), at(i + 16)),
                               _mm_or_si128(at(i + 32), at(i + 48)));
    if (_mm_movemask_epi8(any) != 0) break;
  }
  for (; i + 16 <= size; i += 16) {
    int hits = _mm_movemask_epi8(at(i));
    if (hits != 0) return i + static_cast<std::size_t>(__builtin_ctz(hits));
  }
  return i + FindWhitespacePlain(data + i, size - i);
}

std::size_t FindNameEndSse2(const char* data, std::size_t size) {
  std::size_t i = 0;
  for (; i + 16 <= size; i += 16) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    __m128i ends =
        _mm_or_si128(WhitespaceBytes(x),
                     _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('/')),
                                  _mm_cmpeq_epi8(x, _mm_set1_epi8('>'))));
    // Whitespace holds the vertical tab too, which a name may hold.
    for (int hits = _mm_movemask_epi8(ends); hits != 0; hits &= hits - 1) {
      std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(hits));
      if (EndsName(static_cast<unsigned char>(data[at]))) return at;
    }
  }
  return i + FindNameEndPlain(data + i, size - i);
}

const char* FindStopSse2(const char* begin, const char* end, char trigger,
                         Words stops, const StopStarts& starts, bool* stop) {
  return WalkWindows<Sse2Masks, FindWhitespaceSse2>(begin, end, trigger, stops,
                                                    starts, stop);
}
