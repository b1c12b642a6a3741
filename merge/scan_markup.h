// Inside the scanner: the HTML mode's pass over a page's body, written once
// over a kernel's markup masks. Only the kernel files include this.
//
// The pass takes the '<'s of 64 bytes at a time from their mask and, inside
// a tag, jumps from one '>' or quote to the next by the lowest set bit of
// the masks; only a tag's first two bytes, and the name of a tag that has
// quoted values or may matter, are read byte by byte.
#ifndef MERGE_SCAN_MARKUP_H_
#define MERGE_SCAN_MARKUP_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "merge/html_chars.h"
#include "merge/scan_kernel.h"

using MarkupMasksFunction = MarkupMasks (*)(const char*, std::size_t);

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

// Reads the tag at `lt`, whose name begins at `name`, byte by byte: gives
// past its '>', or `lt` itself where the pass must stop there (*found set
// at the end of the body part). For the few tags the masks leave.
inline const char* PassTag(const char* lt, const char* name, bool endTag,
                           const char* end, bool* found) {
  const char* q = NameEnd(name, end);
  if (q == end) return lt;
  std::size_t size = q - name;
  if (!endTag && OpensRawText(name, size)) return lt;
  const char* past = PastTagEnd(q, end);
  // A tag whose '>' is not in the view may never end, and be text.
  if (past == nullptr) return lt;
  if (endTag && EndsBody(name, size)) {
    *found = true;
    return lt;
  }
  return past;
}

// The number of zero bits below the lowest set bit of `x`, 64 when none is.
__attribute__((always_inline)) inline int TrailingZeros(std::uint64_t x) {
  return x == 0 ? 64 : LowestBit(x);
}

// The first set bit at or after `k` (at most 128) of the 128 bits `low`
// and `high`, or 128. Without branches: where a tag ends is as likely in
// the one window as in the other.
__attribute__((always_inline)) inline int FirstBitFrom(std::uint64_t low,
                                                       std::uint64_t high,
                                                       int k) {
  const std::uint64_t all = ~std::uint64_t{0};
  std::uint64_t l = k < 64 ? low & (all << (k & 63)) : 0;
  std::uint64_t h = k <= 64 ? high : k < 128 ? high & (all << (k & 63)) : 0;
  int t = TrailingZeros(l);
  return t < 64 ? t : 64 + TrailingZeros(h);
}

// The masks of two windows side by side, the second one's bits above the
// first's.
struct TwoWindows {
  MarkupMasks here;
  MarkupMasks next;
  // '>' and quotes, where a tag's name and values may end.
  std::uint64_t hereStops = here.greater | here.doubles | here.singles;
  std::uint64_t nextStops = next.greater | next.doubles | next.singles;

  // Moves on by one window, whose next one has `masks`.
  void Shift(const MarkupMasks& masks) {
    here = next;
    hereStops = nextStops;
    next = masks;
    nextStops = next.greater | next.doubles | next.singles;
  }

  // The first '>' or quote at or after bit `k` (at most 128), or 128.
  __attribute__((always_inline)) int FirstStop(int k) const {
    return FirstBitFrom(hereStops, nextStops, k);
  }

  // The first `quote` ('"' or '\'') at or after bit `k` (at most 128), or
  // 128.
  __attribute__((always_inline)) int FirstQuote(char quote, int k) const {
    return quote == '"' ? FirstBitFrom(here.doubles, next.doubles, k)
                        : FirstBitFrom(here.singles, next.singles, k);
  }
  __attribute__((always_inline)) bool IsGreater(int k) const {
    return ((k < 64 ? here.greater : next.greater) >> (k & 63)) & 1;
  }
};

// The bit of the '>' that ends the tag at `window` + `at`, whose name
// begins at `name`, when the tag ends within the two windows and its name
// cannot matter; else -1, for PassTag to read it.
__attribute__((always_inline)) inline int TagEndInWindows(const TwoWindows& w,
                                                          const char* window,
                                                          int at,
                                                          const char* name,
                                                          bool endTag) {
  // Neither '/' nor a letter is a '>' or a quote, so the search may start
  // after the '<'.
  int stop = w.FirstStop(at + 1);
  const char* from = nullptr;  // the name's end, once a quote needs it
  while (stop < 128 && !w.IsGreater(stop)) {
    const char* quote = window + stop;
    if (from == nullptr) {
      // A name before a quote is short: read byte by byte.
      from = name;
      while (from < quote && !EndsName(static_cast<unsigned char>(*from))) {
        ++from;
      }
      if (from == quote) return -1;  // a quote in the name
    }
    const char* r = quote;
    while (r > from && IsHtmlBlank(static_cast<unsigned char>(r[-1]))) --r;
    if (r > from && r[-1] == '=') {
      int close = w.FirstQuote(*quote, stop + 1);
      if (close == 128) return -1;
      from = window + close + 1;
      stop = w.FirstStop(close + 1);
    } else {
      stop = w.FirstStop(stop + 1);
    }
  }
  if (stop == 128 || NameMayMatter(endTag, name[0], name[1])) return -1;
  return stop;
}

// FindBodyEnd over the masks of `MasksOf`. The '<'s of a window are taken
// in turn from its mask, and the end of a short tag from the masks of that
// window and the next, so that one tag's end is all the next one waits for.
// Quoted values, names that may matter and longer tags are read by
// PassTag.
template <MarkupMasksFunction MasksOf>
__attribute__((always_inline)) inline const char* WalkBody(const char* begin,
                                                           const char* end,
                                                           bool* found) {
  *found = false;
  auto masksAt = [end](const char* window) __attribute__((always_inline)) {
    return window < end
               ? MasksOf(window, std::min<std::size_t>(64, end - window))
               : MarkupMasks();
  };
  const char* window = begin;
  TwoWindows w{masksAt(window), masksAt(window + 64)};
  std::ptrdiff_t from = 0;  // the pass stands in text at window + from
  for (;;) {
    // The '<'s from `from` on, in turn; those inside a tag are passed.
    for (std::uint64_t less = w.here.less; less != 0; less &= less - 1) {
      int at = LowestBit(less);
      if (at < from) continue;
      const char* lt = window + at;
      if (end - lt < 4) return lt;
      bool endTag = lt[1] == '/';
      const char* name = lt + 1 + endTag;
      if (!IsAsciiLetter(*name)) {
        if (endTag || lt[1] == '!' || lt[1] == '?') return lt;  // a comment...
        continue;                                               // or text
      }
      int stop = TagEndInWindows(w, window, at, name, endTag);
      if (stop >= 0) {
        from = stop + 1;
        continue;
      }
      const char* past = PassTag(lt, name, endTag, end, found);
      if (past == lt) return lt;
      from = past - window;
    }
    // On to the window where the pass stands, or the next.
    std::ptrdiff_t step =
        std::max<std::ptrdiff_t>(64, from & ~std::ptrdiff_t{63});
    window += step;
    if (window >= end) return end;
    from = std::max<std::ptrdiff_t>(0, from - step);
    if (step == 64) {
      w.Shift(masksAt(window + 64));
    } else {
      w = TwoWindows{masksAt(window), masksAt(window + 64)};
    }
  }
}

#endif  // MERGE_SCAN_MARKUP_H_
