// Names and encodings: the cut of a name, names shown on the console,
// Windows device names, and decoding of text mode, byte-order marks and
// UTF-16 lists, fed whole and one byte at a time.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CutName, TwentyCharactersNeverPartOfOne) {
  const struct {
    std::string name, cut;
  } cases[] = {
      {"averyverylongpagename.html", "averyverylongpagenam"},
      {"short.html", "short.html"},
      // 2-, 3- and 4-byte characters count as one each.
      {"\xc3\xbc" + std::string(25, 'e'), "\xc3\xbc" + std::string(19, 'e')},
      {std::string(19, 'a') + "\xe3\x81\x82\xe3\x81\x84",
       std::string(19, 'a') + "\xe3\x81\x82"},
      {std::string(19, 'a') + "\xf0\x9f\x98\x80z",
       std::string(19, 'a') + "\xf0\x9f\x98\x80"},
      // Not UTF-8 (a Latin-1 byte, an overlong form, a surrogate): bytes.
      {std::string(19, 'a') + "\xe9\xe9", std::string(19, 'a') + "\xe9"},
      {std::string(19, 'a') + "\xc0\xafz", std::string(19, 'a') + "\xc0"},
      {std::string(19, 'a') + "\xed\xa0\x80", std::string(19, 'a') + "\xed"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CutName(c.name, 20), c.cut) << c.name;
  }
}

TEST(ShownName, ControlBytesBecomeQuestionMarks) {
  EXPECT_EQ(ShownName(std::string("a\x1b[1A\x7f\t\0b\xa0\xff", 11)),
            "a?[1A???b\xa0\xff");
}

TEST(NamesWindowsDevice, DeviceNamesInAnyFolderAndCase) {
  for (const char* name :
       {"nul", "temb\\NUL", "temb\\documentation\\en\\nul", "temb/con.html",
        "temb\\x\\Aux.tar.gz", "prn ", "COM1", "lpt9.txt", "conout$"}) {
    EXPECT_TRUE(NamesWindowsDevice(name)) << name;
  }
  for (const char* name : {"null", "temb\\nul\\x.html", "com0", "com10",
                           "console.html", "temb\\lpt", "nulx.html"}) {
    EXPECT_FALSE(NamesWindowsDevice(name)) << name;
  }
}

// Decodes `raw` whole, and again one byte a call; both must agree.
std::string DecodeAll(const std::string& raw, bool crlf, bool bom) {
  std::vector<char> out(Decoder::DecodedRoom(raw.size()) + 16);
  Decoder whole(crlf, bom);
  std::size_t n = whole.Decode(raw.data(), raw.size(), out.data(), true);
  std::string once(out.data(), n);
  Decoder bytewise(crlf, bom);
  std::string piecewise;
  for (std::size_t i = 0; i <= raw.size(); ++i) {
    bool last = i == raw.size();
    n = bytewise.Decode(raw.data() + i, last ? 0 : 1, out.data(), last);
    piecewise.append(out.data(), n);
  }
  EXPECT_EQ(once, piecewise) << raw;
  return once;
}

std::string Utf16(const std::u16string& text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xfe\xff" : "\xff\xfe";
  for (char16_t unit : text) {
    char hi = static_cast<char>(unit >> 8);
    char lo = static_cast<char>(unit & 0xff);
    bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return bytes;
}

TEST(Decoder, TextModeLinesAndTheLastCtrlZ) {
  const struct {
    std::string raw, text;
  } cases[] = {
      {"a\r\nb\r\n", "a\nb\n"},
      {"a\rb\r", "a\rb\r"},  // a lone CR stays
      {"a\r\r\nb", "a\r\nb"},
      {"a\x1a"
       "b",
       "a\x1a"
       "b"},             // 0x1A inside is data
      {"ab\x1a", "ab"},  // ... but the very last one is dropped
      {"ab\x1a\x1a", "ab\x1a"},
      {"ab\r\x1a", "ab\r"},
      {"\x1a", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeAll(c.raw, true, false), c.text) << c.raw;
  }
  EXPECT_EQ(DecodeAll("a\r\nb\x1a", false, false), "a\r\nb\x1a");
}

TEST(Decoder, ListEncodingsByByteOrderMark) {
  const struct {
    std::string raw, text;
  } cases[] = {
      {"index.html\nnews.html", "index.html\nnews.html"},
      {"\xef\xbb\xbfindex.html news.html", "index.html news.html"},
      {"\xef\xbb\xbf", ""},
      {"\xef\xbb", "\xef\xbb"},  // too short to be a mark
      {"", ""},
      {Utf16(u"a.html\r\n\u00fcber.html\t\u8868.html", false),
       "a.html\r\n\xc3\xbc"
       "ber.html\t\xe8\xa1\xa8.html"},
      {Utf16(u"a \U0001F600 b\v\f", true), "a \xf0\x9f\x98\x80 b\v\f"},
      // A lone surrogate and an odd last byte read as U+FFFD.
      {Utf16(u"a\xd800 b", false), "a\xef\xbf\xbd b"},
      {Utf16(u"ab", false) + "x", "ab\xef\xbf\xbd"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeAll(c.raw, false, true), c.text) << c.raw;
  }
  // With text mode too: the mark is skipped and CR LF undone.
  EXPECT_EQ(DecodeAll("\xef\xbb\xbf"
                      "a\r\nb\x1a",
                      true, true),
            "a\nb");
}

TEST(IsValidUtf8, AcceptsWellFormedOnly) {
  EXPECT_TRUE(IsValidUtf8("plain \xc3\xa9\xe8\xa1\xa8\xf0\x9f\x98\x80"));
  for (const char* bad : {"\x80", "\xc3", "\xe0\x80\x80", "\xf4\x90\x80\x80",
                          "\xed\xbf\xbf", "\xff", "\xc1\xbf"}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
  }
}

}  // namespace
