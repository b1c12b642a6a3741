// The bytes and names the HTML mode's readers test: blanks, letters, tag
// names and the end of a name. Shared by the careful tokenizer and the
// scanner's fast pass over a page's body, which must agree on every byte.
#ifndef MERGE_HTML_CHARS_H_
#define MERGE_HTML_CHARS_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The blanks of HTML: space, tab, line feed, form feed, carriage return.
inline bool IsHtmlBlank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

inline bool IsAsciiLetter(int c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

inline char LowerAscii(int c) {
  return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

// True for the bytes that end a tag's name: the blanks, '/' and '>'.
inline bool EndsName(int c) { return IsHtmlBlank(c) || c == '/' || c == '>'; }

// The end of a tag's name that begins at `q`: the first blank, '/' or '>',
// or `end`. Past its first eight bytes, a long name is passed eight bytes
// at a time.
inline const char* NameEnd(const char* q, const char* end) {
  for (const char* head = q + std::min<std::ptrdiff_t>(8, end - q); q < head;
       ++q) {
    if (EndsName(static_cast<unsigned char>(*q))) return q;
  }
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHigh = 0x8080808080808080;
  // A byte of x equal to c is a zero byte of x ^ (kOnes * c). The tests may
  // also flag a byte next to a real one, or a vertical tab (in the range
  // tab to carriage return): the eight are then looked at one by one.
  auto has = [](std::uint64_t x, unsigned char c) {
    std::uint64_t y = x ^ (kOnes * c);
    return (y - kOnes) & ~y & kHigh;
  };
  while (end - q >= 8) {
    std::uint64_t x;
    std::memcpy(&x, q, 8);
    std::uint64_t low = (x & ~kHigh) + kOnes * (128 - 9);    // high: >= tab
    std::uint64_t high = (x & ~kHigh) + kOnes * (128 - 14);  // high: >= 14
    std::uint64_t tabToReturn = low & ~high & ~x & kHigh;
    if ((has(x, ' ') | has(x, '/') | has(x, '>') | tabToReturn) != 0) {
      for (int i = 0; i < 8; ++i) {
        if (EndsName(static_cast<unsigned char>(q[i]))) return q + i;
      }
    }
    q += 8;
  }
  while (q < end && !EndsName(static_cast<unsigned char>(*q))) ++q;
  return q;
}

// True when the `size` bytes at `name` spell `word` (lower case, letters
// only) in any case.
inline bool NameIs(const char* name, std::size_t size, const char* word) {
  for (std::size_t i = 0; i < size; ++i) {
    if ((name[i] | 0x20) != word[i] || word[i] == '\0') return false;
  }
  return word[size] == '\0';
}

// True when a start tag of this name makes the text after it read whole.
inline bool OpensRawText(const char* name, std::size_t size) {
  switch (*name | 0x20) {
    case 's':
      return NameIs(name, size, "script") || NameIs(name, size, "style");
    case 't':
      return NameIs(name, size, "title") || NameIs(name, size, "textarea");
    case 'x':
      return NameIs(name, size, "xmp");
    case 'i':
      return NameIs(name, size, "iframe");
    case 'n':
      return NameIs(name, size, "noscript") || NameIs(name, size, "noembed") ||
             NameIs(name, size, "noframes");
    case 'p':
      return NameIs(name, size, "plaintext");
    default:
      return false;
  }
}

// Past the '>' that ends the tag whose name ends at `q`: the first '>'
// outside a quoted value, where a quote opens a value when the last byte
// before it that is not blank is a '=' after the name or the last value.
// Null when `end` comes first.
inline const char* PastTagEnd(const char* q, const char* end) {
  const char* from = q;
  for (;;) {
    while (q < end && *q != '>' && *q != '"' && *q != '\'') ++q;
    if (q == end) return nullptr;
    if (*q == '>') return q + 1;
    const char* r = q;
    while (r > from && IsHtmlBlank(static_cast<unsigned char>(r[-1]))) --r;
    if (r > from && r[-1] == '=') {
      q = static_cast<const char*>(std::memchr(q + 1, *q, end - (q + 1)));
      if (q == nullptr) return nullptr;
      from = ++q;
    } else {
      ++q;
    }
  }
}

// True when an end tag of this name ends a page's body part.
inline bool EndsBody(const char* name, std::size_t size) {
  return NameIs(name, size, "body") || NameIs(name, size, "html");
}

#endif  // MERGE_HTML_CHARS_H_
