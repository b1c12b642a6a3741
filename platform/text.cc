#include "platform/text.h"

#include <cstring>

namespace {

// Writes code point `cp` as UTF-8 at `out`; gives the count of bytes.
std::size_t PutUtf8(unsigned cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

constexpr unsigned kReplacement = 0xFFFD;

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

}  // namespace

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    unsigned c = *p++;
    if (c < 0x80) continue;
    std::size_t more;
    unsigned cp;
    if (c >= 0xC2 && c <= 0xDF) {
      more = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) < more) return false;
    for (std::size_t i = 0; i < more; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (*p & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((more == 2 && cp < 0x800) || (more == 3 && cp < 0x10000) ||
        (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      return false;
    }
  }
  return true;
}

std::string CutName(const std::string& name, std::size_t count) {
  if (!IsValidUtf8(name)) return name.substr(0, count);
  std::size_t i = 0;
  for (std::size_t chars = 0; i < name.size(); ++i) {
    // Each character starts at a byte that is not a continuation byte.
    if ((static_cast<unsigned char>(name[i]) & 0xC0) != 0x80 &&
        chars++ == count) {
      break;
    }
  }
  return name.substr(0, i);
}

std::string ShownName(std::string_view name) {
  std::string shown(name);
  for (char& c : shown) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) c = '?';
  }
  return shown;
}

bool NamesWindowsDevice(std::string_view path) {
  std::size_t slash = path.find_last_of("/\\");
  std::string_view base =
      slash == std::string_view::npos ? path : path.substr(slash + 1);
  // The extension does not matter, nor blanks before it: "nul .txt" is nul.
  base = base.substr(0, base.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string lower;
  for (char c : base) lower += LowerAscii(c);
  if (lower == "nul" || lower == "con" || lower == "aux" || lower == "prn" ||
      lower == "conin$" || lower == "conout$") {
    return true;
  }
  return lower.size() == 4 &&
         (lower.compare(0, 3, "com") == 0 || lower.compare(0, 3, "lpt") == 0) &&
         lower[3] >= '1' && lower[3] <= '9';
}

Decoder::Decoder(bool crlf, bool detectBom) : crlf_(crlf), detect_(detectBom) {}

std::size_t Decoder::Decode(const char* in, std::size_t size, char* out,
                            bool atEnd) {
  if (detect_) {
    // Gather the first three bytes before deciding.
    while (heldCount_ < 3 && size > 0) {
      held_[heldCount_++] = *in++;
      --size;
    }
    if (heldCount_ < 3 && !atEnd) return 0;
    detect_ = false;
    const auto* b = reinterpret_cast<const unsigned char*>(held_);
    std::size_t mark = 0;
    if (heldCount_ == 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
      mark = 3;
    } else if (heldCount_ >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) ||
                                   (b[0] == 0xFE && b[1] == 0xFF))) {
      mark = 2;
      utf16_ = true;
      bigEndian_ = b[0] == 0xFE;
      crlf_ = false;  // CR and LF are both whitespace in a list anyway
    }
    char rest[3];
    std::size_t restCount = heldCount_ - mark;
    std::memcpy(rest, held_ + mark, restCount);
    heldCount_ = 0;
    std::size_t n = Decode(rest, restCount, out, atEnd && size == 0);
    return n + Decode(in, size, out + n, atEnd);
  }
  if (utf16_) return DecodeUtf16(in, size, out, atEnd);
  if (crlf_) return DecodeCrlf(in, size, out, atEnd);
  std::memcpy(out, in, size);
  return size;
}

std::size_t Decoder::DecodeCrlf(const char* in, std::size_t size, char* out,
                                bool atEnd) {
  // held_[0], when heldCount_ is 1, is a CR or a 0x1A whose fate depends on
  // the byte after it.
  std::size_t n = 0;
  for (std::size_t i = 0; i < size; ++i) {
    char c = in[i];
    if (heldCount_ == 1) {
      heldCount_ = 0;
      if (held_[0] == '\r' && c == '\n') {
        out[n++] = '\n';
        continue;
      }
      out[n++] = held_[0];
    }
    if (c == '\r' || c == '\x1a') {
      held_[0] = c;
      heldCount_ = 1;
    } else {
      out[n++] = c;
    }
  }
  if (atEnd && heldCount_ == 1) {
    // A 0x1A as the very last byte is the old end-of-file mark: dropped.
    if (held_[0] == '\r') out[n++] = '\r';
    heldCount_ = 0;
  }
  return n;
}

std::size_t Decoder::DecodeUtf16(const char* in, std::size_t size, char* out,
                                 bool atEnd) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < size; ++i) {
    held_[heldCount_++] = in[i];
    if (heldCount_ < 2) continue;
    heldCount_ = 0;
    auto first = static_cast<unsigned char>(held_[0]);
    auto second = static_cast<unsigned char>(held_[1]);
    unsigned unit = bigEndian_ ? (first << 8) | second : (second << 8) | first;
    if (highSurrogate_ != 0) {
      unsigned high = highSurrogate_;
      highSurrogate_ = 0;
      if (unit >= 0xDC00 && unit <= 0xDFFF) {
        n += PutUtf8(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00),
                     out + n);
        continue;
      }
      n += PutUtf8(kReplacement, out + n);
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      highSurrogate_ = unit;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      n += PutUtf8(kReplacement, out + n);
    } else {
      n += PutUtf8(unit, out + n);
    }
  }
  if (atEnd) {
    if (highSurrogate_ != 0) n += PutUtf8(kReplacement, out + n);
    if (heldCount_ != 0) n += PutUtf8(kReplacement, out + n);
    highSurrogate_ = 0;
    heldCount_ = 0;
  }
  return n;
}

std::size_t ToTextMode(const char* data, std::size_t size, char* out) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') out[n++] = '\r';
    out[n++] = data[i];
  }
  return n;
}
