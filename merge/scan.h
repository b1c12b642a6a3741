// The block scanner under the copying phases and the word search: where
// whitespace is, and where a copy loop must stop. It looks at 64 bytes at a
// time through bit masks computed by a kernel for the processor (plain C++,
// SSE2, AVX2 or AVX-512), chosen at first use; every kernel gives the same
// answers as the plain one.
#ifndef MERGE_SCAN_H_
#define MERGE_SCAN_H_

#include <cstddef>
#include <initializer_list>
#include <string_view>
#include <vector>

// The six whitespace bytes: space, tab, line feed, vertical tab, form feed
// and carriage return. No locale is taken into account. Every kernel's
// whitespace masks agree with this test.
inline bool IsWhitespace(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Index of the first whitespace byte in data[0, size), or size when there is
// none.
std::size_t FindWhitespace(const char* data, std::size_t size);

// The stop words of a copy loop, without their trigger.
using Words = std::initializer_list<std::string_view>;

// True when word[0, length) is one of `words`. The length and the first
// byte rule nearly all words out before any comparison of bytes.
bool IsStopWord(const char* word, std::size_t length, Words words);

// The first and second bytes that the stop words of a copy loop begin with
// after their trigger: a trigger followed by anything else stops nothing.
// Every stop word has 3 bytes or more.
struct StopStarts {
  char first[8];
  char second[8];
  int firsts = 0;
  int seconds = 0;
};

StopStarts StartsOf(Words stops);

// Where a copy loop that takes characters one by one, and a word after each
// `trigger`, must stop in [begin, end), which it reads from its start:
// - at a trigger whose word follows at once, ends at whitespace inside the
//   view and is one of `stops` (*stop is set);
// - at a trigger that needs the reader: whitespace right after it, or a
//   word that may go on past the view (*stop is clear).
// Null when neither is there: the whole view is copied as it stands.
// `starts` is StartsOf(stops).
const char* FindStop(const char* begin, const char* end, char trigger,
                     Words stops, const StopStarts& starts, bool* stop);

// The end of an HTML tag name in data[0, size): the index of its first
// blank (space, tab, line feed, form feed, carriage return), '/' or '>', or
// size when there is none. For long names; NameEnd serves short ones.
std::size_t FindNameEnd(const char* data, std::size_t size);

// For a copy of an HTML body from `begin`, a place in text: passes 64
// bytes at a time what a copy need not look at, and gives the place in text
// where the tokenizer's state machine must go on: before the window that
// holds markup it must read, or the '<' of a tag open there, or near `end`.
// Passed are text and tags that neither open an element read whole nor end
// a body, whose quotes open values plainly (an attribute's name and '='
// right before each) or lie in them. Anything less plain is left to the
// state machine, which alone decides what is unusual.
const char* SkimTags(const char* begin, const char* end);

// The kernels the scanner has, by instruction set.
enum class ScanKernel { kPlain, kSse2, kAvx2, kAvx512 };

// The kernels this build has and this processor can run, the plain one
// first and the one chosen at first use last.
std::vector<ScanKernel> AvailableScanKernels();

// Makes the scanner use `kernel`, one of AvailableScanKernels(), so that
// tests can check each; gives the kernel in use before.
ScanKernel SelectScanKernel(ScanKernel kernel);

#endif  // MERGE_SCAN_H_
