// Names and encodings, the same on every platform: UTF-8 checks, the cut of
// an input name, names made safe to show on a console, Windows device names,
// and the decoding of file bytes into the characters the reader sees (line
// ends of text mode, byte-order marks, UTF-16 list files).
#ifndef PLATFORM_TEXT_H_
#define PLATFORM_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text);

// The first `count` characters of `name`: code points when the name is valid
// UTF-8, so no character is ever split, and bytes otherwise.
std::string CutName(const std::string& name, std::size_t count);

// `name` as it may be shown on a console: every byte below 0x20 and 0x7F
// becomes '?', so a name cannot move the cursor or erase what was written.
// Bytes 0x80 to 0xFF stay as they are.
std::string ShownName(std::string_view name);

// True when the last part of a path names a Windows device (nul, con, aux,
// prn, com1-com9, lpt1-lpt9, conin$, conout$), in any letter case, with or
// without an extension and trailing blanks or dots.
bool NamesWindowsDevice(std::string_view path);

// Writes data[0, size) to `out` as a text-mode file holds it, every newline
// as CR LF (Windows); `out` has room for 2 * size bytes. Gives the count.
std::size_t ToTextMode(const char* data, std::size_t size, char* out);

// How the bytes of a file become the characters the reader sees.
struct Decoder {
  // `crlf`: text mode as Windows keeps it: a CR LF pair reads as one newline
  // (a lone CR stays) and a single 0x1A as the very last byte is dropped.
  // `detectBom`: a leading UTF-8 byte-order mark is skipped, and a leading
  // UTF-16 mark (either byte order) makes the rest read as UTF-16, decoded to
  // UTF-8; lone surrogates and an odd last byte read as U+FFFD.
  Decoder(bool crlf, bool detectBom);

  // True when the decoder changes nothing and bytes may be read directly.
  bool Transparent() const { return !crlf_ && !detect_ && !utf16_; }

  // Decodes `size` raw bytes into `out`, which has room for
  // DecodedRoom(size) bytes, and gives the count written. Up to a few bytes
  // may be held back until the next call; `atEnd` says no more will come,
  // and flushes what is held.
  std::size_t Decode(const char* in, std::size_t size, char* out, bool atEnd);

  // The room Decode needs for `size` raw bytes.
  static constexpr std::size_t DecodedRoom(std::size_t size) {
    return size / 2 * 3 + 16;
  }

 private:
  std::size_t DecodeUtf16(const char* in, std::size_t size, char* out,
                          bool atEnd);
  std::size_t DecodeCrlf(const char* in, std::size_t size, char* out,
                         bool atEnd);

  bool crlf_;
  bool detect_;
  bool utf16_ = false;
  bool bigEndian_ = false;
  char held_[4] = {};  // raw bytes carried to the next call
  std::size_t heldCount_ = 0;
  unsigned highSurrogate_ = 0;  // a UTF-16 high half waiting for its pair
};

#endif  // PLATFORM_TEXT_H_
