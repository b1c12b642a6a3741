// The bytes and names the HTML mode's readers test: blanks, letters, tag
// names and the end of a name. Shared by the careful tokenizer and the
// scanner's fast pass over a page's body, which must agree on every byte.
#ifndef MERGE_HTML_CHARS_H_
#define MERGE_HTML_CHARS_H_

#include <cstddef>

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

// The end of a tag's name that begins at `q`: the first blank, '/' or '>',
// or `end`.
inline const char* NameEnd(const char* q, const char* end) {
  while (q < end && !IsHtmlBlank(static_cast<unsigned char>(*q)) && *q != '/' &&
         *q != '>') {
    ++q;
  }
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

// True when an end tag of this name ends a page's body part.
inline bool EndsBody(const char* name, std::size_t size) {
  return NameIs(name, size, "body") || NameIs(name, size, "html");
}

#endif  // MERGE_HTML_CHARS_H_
