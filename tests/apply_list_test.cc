// The list command, run through the built program over generated sites.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/scratch.h"

namespace {

namespace fs = std::filesystem;

class ApplyList : public ScratchTest {
 protected:
  // A template and pages p0.html .. p<count-1>.html, each with its number.
  void MakeSite(int count) {
    WriteFile("t.html", "<html>\n<head>\n<body> T\n####\nE</html>\n");
    for (int n = 0; n < count; ++n) WriteFile(Page(n), Content(n));
  }
  static std::string Page(int n) { return "p" + std::to_string(n) + ".html"; }
  static std::string Content(int n) {
    return "<head> <title>" + std::to_string(n) +
           "</title> </head>\n<body>\npage " + std::to_string(n) +
           "\n</body>\n";
  }
  static std::string Merged(int n) {
    return "<html>\n<head> <title>" + std::to_string(n) +
           "</title> <body> T\n\npage " + std::to_string(n) + "\n\nE</html>\n";
  }
  static std::string Opened(const std::string& name) {
    return "Successfully opened temb/" + name + " (Output file) and " + name +
           " (Input file)\n";
  }
};

TEST_F(ApplyList, MergesEveryNameInOrderWhateverSeparatesThem) {
  MakeSite(4);
  WriteFile("list.txt",
            "p0.html\tp1.html\r\n\v missing.html\fp2.html p3.html\n");
  ProgramRun run = RunTembrix("l t.html list.txt q");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(kMenu) + kListPrompts + Opened("p0.html") +
                         Opened("p1.html") + "Could not open missing.html\n" +
                         Opened("p2.html") + Opened("p3.html") + kMenu);
  for (int n = 0; n < 4; ++n) EXPECT_EQ(ReadFile("temb/" + Page(n)), Merged(n));
  // Without q: the console input ends after the batch, and so does the run.
  fs::remove_all("temb");
  fs::create_directory("temb");
  run = RunTembrix("L\nt.html\nlist.txt\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile("temb/p3.html"), Merged(3));
}

TEST_F(ApplyList, EmptyListsDuplicatesAndSharedPrefixes) {
  MakeSite(1);
  WriteFile("empty.txt", "");
  WriteFile("blank.txt", " \n\t\r\n");
  EXPECT_EQ(RunTembrix("l t.html empty.txt l t.html blank.txt q").out,
            std::string(kMenu) + kListPrompts + kMenu + kListPrompts + kMenu);
  // Names that agree in their first 20 characters write one output; the
  // later one wins. A name listed twice merges twice.
  WriteFile("averyverylongpagename-1.html", Content(1));
  WriteFile("averyverylongpagename-2.html", Content(2));
  WriteFile("list.txt",
            "p0.html p0.html averyverylongpagename-1.html "
            "averyverylongpagename-2.html");
  ProgramRun run = RunTembrix("l t.html list.txt q");
  EXPECT_EQ(run.out, std::string(kMenu) + kListPrompts + Opened("p0.html") +
                         Opened("p0.html") +
                         "Successfully opened temb/averyverylongpagenam "
                         "(Output file) and averyverylongpagename-1.html "
                         "(Input file)\n"
                         "Successfully opened temb/averyverylongpagenam "
                         "(Output file) and averyverylongpagename-2.html "
                         "(Input file)\n" +
                         kMenu);
  EXPECT_EQ(ReadFile("temb/averyverylongpagenam"), Merged(2));
}

TEST_F(ApplyList, FailuresLeaveTheRestOfTheBatchGoing) {
  MakeSite(2);
  WriteFile("list.txt", "p0.html p1.html");
  fs::create_directory("folder");
  ProgramRun run =
      RunTembrix("l nope.html list.txt l t.html missing.txt l t.html folder q");
  EXPECT_EQ(run.out,
            std::string(kMenu) + kListPrompts +
                "Could not open nope.html\n"
                "Could not open nope.html\n" +
                kMenu + kListPrompts +
                "couldn't open list file (missing.txt) please try "
                "again \n" +
                kMenu + kListPrompts +
                "couldn't open list file (folder) please try again \n" + kMenu);
  EXPECT_TRUE(fs::is_empty("temb"));
  fs::remove("temb");
  run = RunTembrix("l t.html list.txt q");
  EXPECT_EQ(run.out, std::string(kMenu) + kListPrompts +
                         "Could not open temb/p0.html\n" + kNoFolder +
                         " and p0.html (Input file)\n" +
                         "Could not open temb/p1.html\n" + kNoFolder +
                         " and p1.html (Input file)\n" + kMenu);
}

TEST_F(ApplyList, NeverTruncatesTheListItReads) {
  MakeSite(2);
  WriteFile("pages.txt", Content(0));
  const std::string list = "p0.html pages.txt p1.html\n";
  WriteFile("temb/pages.txt", list);
  ProgramRun run = RunTembrix("l t.html temb/pages.txt q");
  EXPECT_EQ(run.out, std::string(kMenu) + kListPrompts + Opened("p0.html") +
                         "Could not open temb/pages.txt\n"
                         "The output file would overwrite the template or "
                         "the input\n"
                         " and pages.txt (Input file)\n" +
                         Opened("p1.html") + kMenu);
  EXPECT_EQ(ReadFile("temb/pages.txt"), list);
  EXPECT_EQ(ReadFile("temb/p1.html"), Merged(1));
}

TEST_F(ApplyList, ConsoleEndAtEitherPrompt) {
  MakeSite(1);
  WriteFile("list.txt", "p0.html");
  EXPECT_EQ(RunTembrix("l").out,
            std::string(kMenu) + kListTemplatePrompt + kMenu);
  EXPECT_EQ(RunTembrix("l t.html\n").out,
            std::string(kMenu) + kListPrompts + kMenu);
  EXPECT_TRUE(fs::is_empty("temb"));
  // A list name at the very end of the input is still used.
  EXPECT_EQ(RunTembrix("l t.html list.txt").out,
            std::string(kMenu) + kListPrompts + Opened("p0.html") + kMenu);
}

TEST_F(ApplyList, ThousandsOfNames) {
  const int count = 3000;
  MakeSite(count);
  std::string list;
  for (int n = 0; n < count; ++n) list += Page(n) + (n % 7 ? " " : "\n");
  WriteFile("list.txt", list);
  ProgramRun run = RunTembrix("l t.html list.txt q");
  EXPECT_EQ(run.status, 0);
  std::string expected = std::string(kMenu) + kListPrompts;
  for (int n = 0; n < count; ++n) expected += Opened(Page(n));
  EXPECT_TRUE(run.out == expected + kMenu) << "console text differs";
  int wrong = 0;
  for (int n = 0; n < count; ++n) {
    if (ReadFile("temb/" + Page(n)) != Merged(n)) ++wrong;
  }
  EXPECT_EQ(wrong, 0);
}

TEST_F(ApplyList, ListsWithByteOrderMarksAndUtf8NamesCutByCharacter) {
  MakeSite(2);
  // Twenty-five characters in 33 bytes: the cut keeps twenty, 28 bytes.
  const std::string longName =
      "\xc3\xbc\xc3\xbc\xc3\xbc\xc3\xbc\xe8\xa1\xa8\xe8\xa1\xa8"
      "abcdefghijklmn.html";
  const std::string cut = longName.substr(0, 28);
  WriteFile(longName, Content(7));
  std::string utf16 = "\xff\xfe";
  for (char c : "p1.html\r\n") utf16 += std::string{c, '\0'};
  utf16.resize(utf16.size() - 2);  // the terminator the literal adds
  const struct {
    std::string list;
    std::string names[2];
  } cases[] = {
      {"\xef\xbb\xbfp0.html\n" + longName, {"p0.html", longName}},
      {utf16, {"p1.html", ""}},
  };
  for (const auto& c : cases) {
    WriteFile("list.txt", c.list);
    ProgramRun run = RunTembrix("l t.html list.txt q");
    std::string expected = std::string(kMenu) + kListPrompts;
    for (const std::string& name : c.names) {
      if (!name.empty()) {
        expected += "Successfully opened temb/" +
                    (name == longName ? cut : name) + " (Output file) and " +
                    name + " (Input file)\n";
      }
    }
    EXPECT_EQ(run.out, expected + kMenu) << c.list;
  }
  EXPECT_EQ(ReadFile("temb/p0.html"), Merged(0));
  EXPECT_EQ(ReadFile("temb/p1.html"), Merged(1));
  EXPECT_EQ(ReadFile("temb/" + cut), Merged(7));
}

}  // namespace
