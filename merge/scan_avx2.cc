// The AVX2 kernel, for x86-64 processors that have it: masks 32 bytes at a
// time. Only the functions marked for AVX2 use it, so nothing this file
// shares with the rest of the program needs the instructions.
#include "merge/scan_kernel.h"

#include <immintrin.h>

namespace {

// 32 bits of a movemask, placed for the k-th 32 bytes of the window.
__attribute__((target("avx2"))) inline std::uint64_t Bits(__m256i v, int k) {
  return std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(v))}
         << (32 * k);
}

// 0xFF in each byte of `x` that is whitespace, 0 in the others.
__attribute__((target("avx2"))) inline __m256i WhitespaceBytes(__m256i x) {
  // Tab to carriage return: x - '\t' is at most 4 as an unsigned byte.
  __m256i low = _mm256_sub_epi8(x, _mm256_set1_epi8('\t'));
  return _mm256_or_si256(
      _mm256_cmpeq_epi8(x, _mm256_set1_epi8(' ')),
      _mm256_cmpeq_epi8(_mm256_min_epu8(low, _mm256_set1_epi8(4)), low));
}

// The same steps as the SSE2 builder, written apart: AVX2 intrinsics compile
// only inside functions marked for AVX2, so one template over both vector
// types would carry that mark into code every x86-64 processor runs.
__attribute__((target("avx2"))) inline WindowMasks Avx2Masks(
    const char* data, std::size_t size, char trigger,
    const StopStarts& starts) {
  if (size != 64 || starts.firsts > 2 || starts.seconds > 2) {
    return PlainMasks(data, size, trigger, starts);
  }
  const __m256i t = _mm256_set1_epi8(trigger);
  // Every set holds one or two bytes: a second one repeats the first.
  const __m256i first0 = _mm256_set1_epi8(starts.first[0]);
  const __m256i first1 = _mm256_set1_epi8(starts.first[starts.firsts - 1]);
  const __m256i second0 = _mm256_set1_epi8(starts.second[0]);
  const __m256i second1 = _mm256_set1_epi8(starts.second[starts.seconds - 1]);
  WindowMasks m;
  for (int k = 0; k < 2; ++k) {
    __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data) + k);
    __m256i first = _mm256_or_si256(_mm256_cmpeq_epi8(x, first0),
                                    _mm256_cmpeq_epi8(x, first1));
    __m256i second = _mm256_or_si256(_mm256_cmpeq_epi8(x, second0),
                                     _mm256_cmpeq_epi8(x, second1));
    m.triggers |= Bits(_mm256_cmpeq_epi8(x, t), k);
    m.blanks |= Bits(WhitespaceBytes(x), k);
    m.firsts |= Bits(first, k);
    m.seconds |= Bits(second, k);
  }
  return m;
}

__attribute__((target("avx2"))) inline TagMasks Avx2WindowMasks(
    const char* data) {
  TagMasks m{};
  for (int k = 0; k < 2; ++k) {
    __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data) + k);
    auto is = [x](char c) __attribute__((target("avx2"))) {
      return _mm256_cmpeq_epi8(x, _mm256_set1_epi8(c));
    };
    // The blanks of HTML are whitespace but for the vertical tab.
    __m256i slash = is('/');
    __m256i spaces = _mm256_or_si256(
        _mm256_andnot_si256(is('\v'), WhitespaceBytes(x)), slash);
    // Letters: in lower case, at most 'z' - 'a' above 'a'.
    __m256i lower = _mm256_sub_epi8(_mm256_or_si256(x, _mm256_set1_epi8(0x20)),
                                    _mm256_set1_epi8('a'));
    __m256i letters = _mm256_cmpeq_epi8(
        _mm256_min_epu8(lower, _mm256_set1_epi8('z' - 'a')), lower);
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

__attribute__((target("avx2"))) void Avx2TagMasks(const char* data, int windows,
                                                  TagMasks* out) {
  for (int w = 0; w < windows; ++w) out[w] = Avx2WindowMasks(data + 64 * w);
}

__attribute__((target("avx2"))) const char* FindStopAvx2(
    const char* begin, const char* end, char trigger, Words stops,
    const StopStarts& starts, bool* stop) {
  return WalkWindows<Avx2Masks, FindWhitespaceSse2>(begin, end, trigger, stops,
                                                    starts, stop);
}
