// The bytes and names the HTML mode's tokenizer tests: blanks, letters, tag
// names and the end of a name, each written once. The scanner's name-end
// kernels test the same bytes.
#ifndef MERGE_HTML_CHARS_H_
#define MERGE_HTML_CHARS_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "merge/scan.h"

// The blanks of HTML: space, tab, line feed, form feed, carriage return.
constexpr bool IsHtmlBlank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

constexpr bool IsAsciiLetter(int c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

inline char LowerAscii(int c) {
  return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

// What a byte is to the reader of a tag, as bits: the classes that end a
// name, an attribute's name or an unquoted value, and those the scanner's
// plain kernel masks for the HTML copy, looked up in one table.
enum TagByte : unsigned char {
  kBlankByte = 1,
  kSlashByte = 2,
  kEqualsByte = 4,
  kGreaterByte = 8,
  kLessByte = 16,
  kDoubleQuoteByte = 32,
  kSingleQuoteByte = 64,
  kLetterByte = 128,
};

struct TagByteTable {
  unsigned char of[256] = {};
  constexpr TagByteTable() {
    for (int c = 0; c < 256; ++c) {
      of[c] = static_cast<unsigned char>(
          (IsHtmlBlank(c) ? kBlankByte : 0) | (c == '/' ? kSlashByte : 0) |
          (c == '=' ? kEqualsByte : 0) | (c == '>' ? kGreaterByte : 0) |
          (c == '<' ? kLessByte : 0) | (c == '"' ? kDoubleQuoteByte : 0) |
          (c == '\'' ? kSingleQuoteByte : 0) |
          (IsAsciiLetter(c) ? kLetterByte : 0));
    }
  }
};

inline constexpr TagByteTable kTagBytes;

inline unsigned char TagByteOf(char c) {
  return kTagBytes.of[static_cast<unsigned char>(c)];
}

// True for the bytes that end a tag's name: the blanks, '/' and '>'.
inline bool EndsName(int c) {
  return (kTagBytes.of[c & 0xFF] & (kBlankByte | kSlashByte | kGreaterByte)) !=
         0;
}

// Eight bytes at once: the top bit of each byte of `x` that equals `c`.
// The lowest one flagged is always a true match; a borrow may also flag a
// byte above a true match.
inline std::uint64_t BytesEqual(std::uint64_t x, unsigned char c) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  std::uint64_t y = x ^ (kOnes * c);
  return (y - kOnes) & ~y & (kOnes << 7);
}

// The first byte `c` in [p, end), or `end`. Most runs between the bytes
// that matter are short: their first 32 bytes are looked at eight at a
// time in place, and a longer run is searched by the library.
inline const char* FindByte(const char* p, const char* end, char c) {
  for (int i = 0; i < 4 && end - p >= 8; ++i, p += 8) {
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    // Little-endian: the lowest flag is the first byte, and a sure one.
    std::uint64_t hits = BytesEqual(x, static_cast<unsigned char>(c));
    if (hits != 0) return p + (__builtin_ctzll(hits) >> 3);
  }
  const void* hit = std::memchr(p, c, end - p);
  return hit == nullptr ? end : static_cast<const char*>(hit);
}

// The end of a tag's name that begins at `q`: the first blank, '/' or '>',
// or `end`. Most names are short and end within their first eight bytes;
// the scanner's kernel searches a longer one.
inline const char* NameEnd(const char* q, const char* end) {
  for (const char* head = q + std::min<std::ptrdiff_t>(8, end - q); q < head;
       ++q) {
    if (EndsName(static_cast<unsigned char>(*q))) return q;
  }
  return q + FindNameEnd(q, end - q);
}

// True when the `size` bytes at `name` spell `word` (lower case, letters
// only) in any case.
inline bool NameIs(const char* name, std::size_t size, const char* word) {
  for (std::size_t i = 0; i < size; ++i) {
    if ((name[i] | 0x20) != word[i] || word[i] == '\0') return false;
  }
  return word[size] == '\0';
}

// A set of names told apart fast: most names are ruled out by their
// length and first letter alone, with no jump on the letter.
class NameSet {
 public:
  template <std::size_t N>
  constexpr explicit NameSet(const char* const (&names)[N]) {
    static_assert(N <= kRoom, "a name set holds ten names");
    for (std::size_t i = 0; i < N; ++i) {
      names_[count_++] = names[i];
      std::size_t size = 0;
      while (names[i][size] != '\0') ++size;
      firsts_[size] |= std::uint32_t{1} << (names[i][0] & 31);
    }
  }

  // False when the `size` bytes at `name` are surely none of the names.
  bool MayHave(const char* name, std::size_t size) const {
    return size < 16 && ((firsts_[size] >> (*name & 31)) & 1) != 0;
  }

  // True when the `size` bytes at `name` spell one of the names in any case.
  bool Has(const char* name, std::size_t size) const {
    if (!MayHave(name, size)) return false;
    for (std::size_t i = 0; i < count_; ++i) {
      if (NameIs(name, size, names_[i])) return true;
    }
    return false;
  }

 private:
  static constexpr std::size_t kRoom = 10;
  const char* names_[kRoom] = {};
  std::size_t count_ = 0;
  std::uint32_t firsts_[16] = {};  // by length: the first letters, as bits
};

// The elements whose text is read whole after their start tag, and the end
// tags that end a page's body part: the tags a copy of a body looks at.
inline constexpr const char* kRawTextNames[] = {
    "script", "style",   "title",    "textarea", "xmp",
    "iframe", "noembed", "noframes", "noscript", "plaintext"};
inline constexpr const char* kBodyEndNames[] = {"body", "html"};
inline constexpr NameSet kCopyLooksAt[2] = {NameSet(kRawTextNames),
                                            NameSet(kBodyEndNames)};

// True when a start tag of this name makes the text after it read whole.
inline bool OpensRawText(const char* name, std::size_t size) {
  return kCopyLooksAt[0].Has(name, size);
}

// True when an end tag of this name ends a page's body part.
inline bool EndsBody(const char* name, std::size_t size) {
  return kCopyLooksAt[1].Has(name, size);
}

#endif  // MERGE_HTML_CHARS_H_
