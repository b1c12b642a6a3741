// Inside the scanner: the HTML mode's pass over a page's body, written once
// over a kernel's markup masks. Only the kernel files include this.
//
// The pass jumps from '<' to '<' and, inside a tag, from one '>' or quote
// to the next, by the lowest set bit of the masks of 64 bytes at a time;
// only a tag's first few bytes and its name are read one by one.
#ifndef MERGE_SCAN_MARKUP_H_
#define MERGE_SCAN_MARKUP_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "merge/html_chars.h"
#include "merge/scan_kernel.h"

using MarkupMasksFunction = MarkupMasks (*)(const char*, std::size_t);

// Which of the masks a search looks for.
enum MarkupByte : unsigned {
  kLess = 1,
  kGreater = 2,
  kDouble = 4,
  kSingle = 8,
};

// Searches forward through [begin, end) by the masks of the 64-byte window
// that holds the search's start, computed when the search reaches it.
template <MarkupMasksFunction MasksOf>
class MarkupCursor {
 public:
  MarkupCursor(const char* begin, const char* end) : begin_(begin), end_(end) {}

  // The first byte at or after `from` that is one of `bytes`, or `end`.
  __attribute__((always_inline)) const char* Next(const char* from,
                                                  unsigned bytes) {
    if (from >= end_) return end_;
    if (window_ == nullptr || from < window_ || from - window_ >= 64) {
      Load(begin_ + ((from - begin_) & ~std::ptrdiff_t{63}));
    }
    std::uint64_t m = Pick(bytes) & (~std::uint64_t{0} << (from - window_));
    while (m == 0) {
      if (end_ - window_ <= 64) return end_;
      Load(window_ + 64);
      m = Pick(bytes);
    }
    return window_ + LowestBit(m);
  }

 private:
  __attribute__((always_inline)) void Load(const char* window) {
    window_ = window;
    masks_ = MasksOf(window, std::min<std::size_t>(64, end_ - window));
  }

  std::uint64_t Pick(unsigned bytes) const {
    return ((bytes & kLess) != 0 ? masks_.less : 0) |
           ((bytes & kGreater) != 0 ? masks_.greater : 0) |
           ((bytes & kDouble) != 0 ? masks_.doubles : 0) |
           ((bytes & kSingle) != 0 ? masks_.singles : 0);
  }

  const char* begin_;
  const char* end_;
  const char* window_ = nullptr;
  MarkupMasks masks_;
};

// Past the '>' that ends the tag whose name ends at `q`: the first '>'
// outside a quoted value, where a quote opens a value when the last byte
// before it that is not blank is a '=' after the name or the last value.
// Null when the view ends first.
template <MarkupMasksFunction MasksOf>
__attribute__((always_inline)) inline const char* PastTagEndMasked(
    MarkupCursor<MasksOf>& cursor, const char* q, const char* end) {
  const char* from = q;
  for (;;) {
    const char* s = cursor.Next(q, kGreater | kDouble | kSingle);
    if (s == end) return nullptr;
    if (*s == '>') return s + 1;
    const char* r = s;
    while (r > from && IsHtmlBlank(static_cast<unsigned char>(r[-1]))) --r;
    if (r > from && r[-1] == '=') {
      const char* close = cursor.Next(s + 1, *s == '"' ? kDouble : kSingle);
      if (close == end) return nullptr;
      from = q = close + 1;
    } else {
      q = s + 1;
    }
  }
}

// The second letters of a set of names, by their first, each letter by its
// low five bits, the same in either case.
struct SecondLetters {
  std::uint32_t byFirst[32] = {};
};

constexpr SecondLetters SecondLettersOf(
    std::initializer_list<const char*> names) {
  SecondLetters set;
  for (const char* name : names) {
    set.byFirst[name[0] & 31] |= std::uint32_t{1} << (name[1] & 31);
  }
  return set;
}

// For a tag whose name begins with the letter `first` and then `second`:
// false when the name cannot be one the pass must look at, that is one that
// ends the body or, in a start tag, one whose text is read whole. Any byte
// may follow the letter; one that is no letter may say true.
inline bool NameMayMatter(bool endTag, char first, char second) {
  static constexpr SecondLetters kStart =
      SecondLettersOf({"script", "style", "title", "textarea", "xmp", "iframe",
                       "noscript", "noembed", "noframes", "plaintext"});
  static constexpr SecondLetters kEnd = SecondLettersOf({"body", "html"});
  const SecondLetters& names = endTag ? kEnd : kStart;
  return (names.byFirst[first & 31] >> (second & 31)) & 1;
}

// FindBodyEnd over the masks of `MasksOf`.
template <MarkupMasksFunction MasksOf>
__attribute__((always_inline)) inline const char* WalkBody(const char* begin,
                                                           const char* end,
                                                           bool* found) {
  *found = false;
  MarkupCursor<MasksOf> cursor(begin, end);
  const char* p = begin;
  for (;;) {
    const char* lt = cursor.Next(p, kLess);
    if (lt == end) return end;
    if (end - lt < 4) return lt;
    const char* q = lt + 1;
    bool endTag = *q == '/';
    if (endTag) ++q;
    if (!IsAsciiLetter(*q)) {
      if (endTag || *q == '!' || *q == '?') return lt;  // a comment or the like
      p = lt + 1;                                       // a '<' that is text
      continue;
    }
    // A tag with no quote before its first '>' ends there; only a name
    // that may matter needs reading.
    const char* stop = cursor.Next(q + 1, kGreater | kDouble | kSingle);
    if (stop == end) return lt;
    if (*stop == '>' && !NameMayMatter(endTag, q[0], q[1])) {
      p = stop + 1;
      continue;
    }
    const char* name = q;
    q = NameEnd(q, end);
    if (q == end) return lt;
    std::size_t size = q - name;
    if (!endTag && OpensRawText(name, size)) return lt;
    const char* past = PastTagEndMasked(cursor, q, end);
    // A tag whose '>' is not in the view may never end, and be text.
    if (past == nullptr) return lt;
    if (endTag && EndsBody(name, size)) {
      *found = true;
      return lt;
    }
    p = past;
  }
}

#endif  // MERGE_SCAN_MARKUP_H_
