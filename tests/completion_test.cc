#include "console/completion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::vector<FolderEntry> kEntries = {
    {"template.html", false},
    {"templates", true},
    {"news.html", false},
    {"my page.html", false},
    {".hidden", false},
    {"pages", true},
    {"pages.txt", false},
    {"\xc3\xa9t\xc3\xa9.html", false},  // été
    {"\xc3\xa8re.html", false},         // ère
    {".", true},
    {"..", true}};

TEST(CompleteName, PrefixesFoldersBlanksAndCharacters) {
  struct Case {
    std::string word;
    std::string insert;
    std::size_t candidates;
  } cases[] = {
      {"n", "ews.html ", 1},  // one file: completed, then a blank
      {"templates", "/", 1},  // one folder: its separator
      {"temp", "late", 2},    // two: the part they share
      {"template", "", 2},    // nothing more shared
      {"pages", "", 2},       // "pages/" and "pages.txt"
      {"my", "", 0},          // a name with a blank never fits
      {"", "", 7},            // every name but the hidden ones
      {".h", "idden ", 1},    // hidden names fit a dot
      {"x", "", 0},
      {"\xc3", "", 2},            // never half a character
      {"sub/n", "ews.html ", 1},  // the folder part is kept aside
  };
  for (const Case& c : cases) {
    Completion completion = CompleteName(c.word, kEntries, '/');
    EXPECT_EQ(completion.insert, c.insert) << c.word;
    EXPECT_EQ(completion.candidates.size(), c.candidates) << c.word;
  }
  EXPECT_EQ(CompleteName("pag", kEntries, '\\').candidates,
            (std::vector<std::string>{"pages.txt", "pages\\"}));
}

TEST(WordStart, AfterTheLastBlankBeforeTheCursor) {
  EXPECT_EQ(WordStart("a template.html pag", 19), 16u);
  EXPECT_EQ(WordStart("pages/ab", 8), 0u);
  EXPECT_EQ(WordStart("a b", 2), 2u);
  EXPECT_EQ(WordStart("a\tb c", 3), 2u);
}

TEST(CandidateColumns, DownTheColumnsWithinTheWidth) {
  std::vector<std::string> names = {"a", "bb", "ccc", "d", "\xc3\xa9"};
  EXPECT_EQ(CandidateColumns(names, 80), "a    bb   ccc  d    \xc3\xa9\n");
  EXPECT_EQ(CandidateColumns(names, 10), "a    d\nbb   \xc3\xa9\nccc\n");
  EXPECT_EQ(CandidateColumns(names, 1), "a\nbb\nccc\nd\n\xc3\xa9\n");
}

}  // namespace
