// The plain kernel: portable C++, one byte at a time for the masks and
// eight at a time for the whitespace search. The reference every other
// kernel is tested against, and the only kernel of a build without x86-64
// vector code.
#include "merge/scan_kernel.h"

#include <cstring>

#include "merge/html_chars.h"

namespace {

// The end of a tag's name from `q`, as EndsName has it, eight bytes at a
// time.
const char* PlainNameEnd(const char* q, const char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHigh = 0x8080808080808080;
  // The tests may also flag a byte next to a real one, or a vertical tab
  // (in the range tab to carriage return): the eight are then looked at
  // one by one.
  while (end - q >= 8) {
    std::uint64_t x;
    std::memcpy(&x, q, 8);
    std::uint64_t low = (x & ~kHigh) + kOnes * (128 - 9);    // high: >= tab
    std::uint64_t high = (x & ~kHigh) + kOnes * (128 - 14);  // high: >= 14
    std::uint64_t tabToReturn = low & ~high & ~x & kHigh;
    if ((BytesEqual(x, ' ') | BytesEqual(x, '/') | BytesEqual(x, '>') |
         tabToReturn) != 0) {
      for (int i = 0; i < 8; ++i) {
        if (EndsName(static_cast<unsigned char>(q[i]))) return q + i;
      }
    }
    q += 8;
  }
  while (q < end && !EndsName(static_cast<unsigned char>(*q))) ++q;
  return q;
}

}  // namespace

WindowMasks PlainMasks(const char* data, std::size_t size, char trigger,
                       const StopStarts& starts) {
  WindowMasks m;
  for (std::size_t i = 0; i < size; ++i) {
    char c = data[i];
    std::uint64_t bit = std::uint64_t{1} << i;
    if (c == trigger) m.triggers |= bit;
    if (IsWhitespace(c)) m.blanks |= bit;
    for (int k = 0; k < starts.firsts; ++k) {
      if (c == starts.first[k]) m.firsts |= bit;
    }
    for (int k = 0; k < starts.seconds; ++k) {
      if (c == starts.second[k]) m.seconds |= bit;
    }
  }
  return m;
}

std::size_t FindWhitespacePlain(const char* data, std::size_t size) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHigh = 0x8080808080808080;
  constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7f;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t x;
    std::memcpy(&x, data + i, 8);
    // A blank is a zero byte of x ^ blanks; tab to carriage return are the
    // bytes above 8 and below 14. Neither test carries across bytes, and a
    // hit only says that the eight hold one: the loop below finds it.
    std::uint64_t blanks = x ^ (kOnes * ' ');
    std::uint64_t low = x & kLow7;
    std::uint64_t hits =
        ((blanks - kOnes) & ~blanks) |
        ((kOnes * (127 + 14) - low) & ~x & (low + kOnes * (127 - 8)));
    if ((hits & kHigh) != 0) break;
  }
  while (i < size && !IsWhitespace(data[i])) ++i;
  return i;
}

const char* FindStopPlain(const char* begin, const char* end, char trigger,
                          Words stops, const StopStarts& starts, bool* stop) {
  return WalkWindows<PlainMasks, FindWhitespacePlain>(begin, end, trigger,
                                                      stops, starts, stop);
}

std::size_t FindNameEndPlain(const char* data, std::size_t size) {
  return PlainNameEnd(data, data + size) - data;
}

void PlainTagMasks(const char* data, int windows, TagMasks* out) {
  for (int w = 0; w < windows; ++w, data += 64) {
    // The classes of the 64 bytes, then each class's bit of eight bytes
    // gathered into one byte by a multiplication.
    unsigned char classes[64];
    for (int i = 0; i < 64; ++i) classes[i] = TagByteOf(data[i]);
    std::uint64_t bits[8] = {};
    for (int g = 0; g < 8; ++g) {
      std::uint64_t x;
      std::memcpy(&x, classes + 8 * g, 8);
      for (int k = 0; k < 8; ++k) {
        std::uint64_t ones = (x >> k) & 0x0101010101010101;
        bits[k] |= ((ones * 0x0102040810204080) >> 56) << (8 * g);
      }
    }
    auto of = [&bits](unsigned char tagByte) {
      return bits[__builtin_ctz(tagByte)];
    };
    TagMasks& m = out[w];
    m.lt = of(kLessByte);
    m.gt = of(kGreaterByte);
    m.double_ = of(kDoubleQuoteByte);
    m.single = of(kSingleQuoteByte);
    m.equals = of(kEqualsByte);
    m.slash = of(kSlashByte);
    m.spaces = of(kBlankByte) | m.slash;
    m.letters = of(kLetterByte);
  }
}
