// Reading characters and words from the console or a file. Whitespace is
// exactly space, tab, line feed, vertical tab, form feed and carriage return;
// a word is a maximal run of anything else. Where tags and the body marker
// are found depends only on these rules.
#ifndef MERGE_TOKEN_READER_H_
#define MERGE_TOKEN_READER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "merge/platform.h"
#include "merge/text.h"

// What Look gives when there is no character to deliver; distinct from every
// byte value.
constexpr int kEndOfInput = -1;

// A character source read strictly forward, with two sticky conditions:
// `ended` (a read found no further character) and `failed` (a read delivered
// nothing). A source with neither is good. Neither is ever cleared.
struct Source {
  // Reads an open file through `decoder`, and closes it when the source
  // goes. By default a page: text mode undone where files have it.
  explicit Source(int fd, Decoder decoder = Decoder(TEXT_MODE_FILES, false));
  // Reads `bytes`, copied into the source's own block; at most kBlockSize.
  explicit Source(std::string_view bytes);
  // Reads a stream buffer (the console, or text in memory). `tie`, when set,
  // is flushed before every read from it, so a prompt shows before a wait.
  explicit Source(std::streambuf* stream, std::ostream* tie = nullptr);
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;
  ~Source();

  int fd = -1;
  std::streambuf* stream = nullptr;
  std::ostream* tie = nullptr;
  Decoder decoder;
  std::unique_ptr<char[]> block;
  std::unique_ptr<char[]> raw;  // undecoded bytes, when the decoder needs them
  std::size_t pos = 0;          // next unread byte of block
  std::size_t end = 0;          // one past the last buffered byte
  bool ended = false;
  bool failed = false;
  // A read error, not the end of the file, ended the source. The reader
  // treats it as the end; the caller must not take what it read as whole.
  bool readError = false;
};

// The six whitespace bytes; the test takes no locale into account.
inline bool IsWhitespace(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

#ifdef __SSE2__
// 0xFF in each byte of `x` that is whitespace, 0 in the others.
inline __m128i WhitespaceBytes(__m128i x) {
  // Tab to carriage return: x - '\t' is at most 4 as an unsigned byte.
  __m128i low = _mm_sub_epi8(x, _mm_set1_epi8('\t'));
  return _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8(' ')),
                      _mm_cmpeq_epi8(_mm_min_epu8(low, _mm_set1_epi8(4)), low));
}
#endif

// Index of the first whitespace byte in data[0, size), or size when there is
// none. Looks at 64 or 16 bytes at a time where the processor has SSE2, at
// eight elsewhere; inline, as the merge calls it for every tag.
inline std::size_t FindWhitespace(const char* data, std::size_t size) {
  std::size_t i = 0;
#ifdef __SSE2__
  auto at = [data](std::size_t i) {
    return WhitespaceBytes(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)));
  };
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
#endif
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHigh = 0x8080808080808080;
  constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7f;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t x;
    std::memcpy(&x, data + i, 8);
    // A blank is a zero byte of x ^ blanks; tab to carriage return are the
    // bytes above 8 and below 14. Neither test carries across bytes.
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

// The bytes now buffered ahead of the reader, reading more when none are.
// Empty when the source is not good, or when it has no further character,
// in which case it is marked ended. The view lasts until the next read.
std::string_view Ahead(Source& in);

// Consumes `count` bytes of the view that Ahead gave.
inline void Skip(Source& in, std::size_t count) { in.pos += count; }

// Gives the next character unconsumed, or kEndOfInput (marking the source
// ended when it has just run out). Gives kEndOfInput at once, touching
// nothing, when the source is not good.
int Look(Source& in);

// Consumes and gives the next character, whitespace included; kEndOfInput
// (and failed) when there is none.
int TakeChar(Source& in);

// Skips whitespace, which is lost, then collects the word up to the next
// whitespace, which stays unread. A word that runs to the end is valid and
// leaves the source ended. Fails, leaving *word empty and the source failed
// (and ended, when it ran out while skipping), when no word was there.
bool TakeWord(Source& in, std::string* word);

// Skips whitespace, then consumes one character into *c; everything after it
// stays unread. On failure, as for TakeWord, *c is left unchanged.
bool TakeNonBlank(Source& in, char* c);

// TakeWord in bounded memory: skips whitespace as TakeWord does, then
// collects at most `limit` characters of the word into `head` and gives
// their count. 0 means TakeWord would have failed. A count below `limit`
// means the whole word was taken; at `limit` the word may go on, and its
// rest is read with TakeWordPiece.
std::size_t TakeWordHead(Source& in, char* head, std::size_t limit);

// Consumes and gives the next buffered run of the current word, at most
// `limit` bytes; empty once the word has ended at whitespace (left unread) or
// at the end of the source (marked ended). The view lasts until the next read.
std::string_view TakeWordPiece(Source& in, std::size_t limit = SIZE_MAX);

#endif  // MERGE_TOKEN_READER_H_
