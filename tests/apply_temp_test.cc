#include "merge/apply_temp.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>

#include "tests/reference_merge.h"
#include "tests/scratch.h"

namespace {

std::string Merge(const std::string& templ, const std::string& input) {
  std::istringstream t(templ);
  std::istringstream i(input);
  return ProgramMerge(t.rdbuf(), i.rdbuf());
}

const char* const kTemplate =
    "<html>\n<head>\n<title>T</title>\n</head>\n<body bgcolor=white>\n"
    "<table><tr><td>\n####\n</td></tr></table>\n</body>\n</html>\n";
const char* const kInput =
    "<html>\n<head>\n<title>Page one</title>\n</head>\n<body>\n"
    "<p>Hello</p>\n</body>\n</html>\n";
const char* const kMerged =
    "<html>\n<head>\n<title>Page one</title>\n<body \n bgcolor=white>\n"
    "<table><tr><td>\n\n<p>Hello</p>\n\n</td></tr></table>\n</body>\n"
    "</html>\n";

TEST(MergePages, WorkedExample) {
  EXPECT_EQ(Merge(kTemplate, kInput), kMerged);
}

TEST(MergePages, BodyTagSpellings) {
  const std::string input = "<head> h </head> <body> B </body>";
  EXPECT_EQ(Merge("<head> <body> # ### x", input), "<head> h <body>  B  x");
  EXPECT_EQ(Merge("<head> <BODY> ####", input), "<head> h <body>  B ");
  EXPECT_EQ(Merge("<head> <BODY bgcolor=x> ####", input),
            "<head> h <body \n bgcolor=x>  B ");
  // <Body> is no body tag: the template runs out looking for one, and the
  // input's body follows its head content.
  EXPECT_EQ(Merge("<head> <Body> ####", input), "<head> h  B ");
  // Input body tags in either case, with attributes, are dropped.
  EXPECT_EQ(Merge("<head> <body> ####", "<head> </head> <BODY a=b> x </BODY>"),
            "<head> <body>  x ");
  EXPECT_EQ(Merge("<HEAD> <body> ####", "<HEAD> h </HEAD> <body a=b> x"),
            "<HEAD> h <body>  x");
}

TEST(MergePages, HeadTagsAreWordsAfterTheirAngle) {
  // <head><title> is one word: phase one runs on through the template.
  EXPECT_EQ(Merge("a<head><title>T</title> <body> ####", "<head> h"),
            "a<head><title>T</title> <body> ####<head> h");
  // Blanks after '<' are lost and do not hide the tag.
  EXPECT_EQ(Merge("a< head> <body> # ### z", "<head> h </head> <body> b"),
            "a<head> h <body>  b z");
  EXPECT_EQ(Merge("<head> <body> ####", "x <HEAD> y </HEAD> <body> b"),
            "<HEAD> y <body>  b");
  // A closing head tag glued to the body tag is not seen.
  EXPECT_EQ(Merge("<head> <body> #### E", "<head> h </head><body> b"),
            "<head> h </head><body> b<body>  E");
}

TEST(MergePages, MarkerCases) {
  // The input's body content is " | "; the template's body varies.
  auto body = [](const std::string& part) {
    return Merge("<head> <body>" + part, "<head> </head> <body> | </body>");
  };
  EXPECT_EQ(body(" #ff0000 #### end"), "<head> <body> #ff0000  |  end");
  EXPECT_EQ(body(" ##### end"), "<head> <body> ##### end | ");
  EXPECT_EQ(body(" ####</td> end"), "<head> <body> ####</td> end | ");
  EXPECT_EQ(body(" # 1 #### end"), "<head> <body> #1  |  end");
  EXPECT_EQ(body(" # \n#### end"), "<head> <body> ##### end | ")
      << "a lone # swallows the marker";
  EXPECT_EQ(body(" <b>#### end"), "<head> <body> <b> |  end");
  EXPECT_EQ(body(" #### a #### b"), "<head> <body>  |  a #### b")
      << "the second marker is copied";
  EXPECT_EQ(body(" < p> #### end"), "<head> <body> < p>  |  end");
  EXPECT_EQ(body(" x #"), "<head> <body> x # | ") << "trigger alone at the end";
  EXPECT_EQ(body(" x #\n "), "<head> <body> x # | ")
      << "its trailing whitespace is lost";
  EXPECT_EQ(body(" x ####"), "<head> <body> x  | ") << "marker at the end";
}

TEST(MergePages, ClosingBodyTags) {
  auto body = [](const std::string& part) {
    return Merge("<head> <body> #### E", "<head> </head> <body>" + part);
  };
  EXPECT_EQ(body(" a</p></body> b </html>"),
            "<head> <body>  a</p></body> b </html> E");
  EXPECT_EQ(body(" Hello</body> x"), "<head> <body>  Hello E");
  EXPECT_EQ(body(" a </body > x"), "<head> <body>  a  E");
  EXPECT_EQ(body(" a </BODY> more"), "<head> <body>  a  E");
  EXPECT_EQ(body(" a < p> b"), "<head> <body>  a <p> b E");
}

TEST(MergePages, MissingLandmarks) {
  const std::string input = "<head> h </head> <body> b </body>";
  // No head tag in the template: all of it, then the input, no body tag.
  EXPECT_EQ(Merge("<html> <body> #### x", input),
            "<html> <body> #### x<head> h  b ");
  // No head tag in the input: the template's frame alone.
  EXPECT_EQ(Merge("A<head> <body> B#### C", "<html> <body> b"), "A<body> B C");
  // No body tag in the template.
  EXPECT_EQ(Merge("<head> x ####", input), "<head> h  b ");
  // A body tag never closed by '>'.
  EXPECT_EQ(Merge("<head> <body a=b ####", input),
            "<head> h <body \n a=b #### b ");
  // No marker: the input's body follows the template's last character.
  EXPECT_EQ(Merge("<head> <body> T", input), "<head> h <body> T b ");
  // No closing head tag, no body tag, no closing body tag in the input.
  EXPECT_EQ(Merge("<head> <body> #### E", "<head> h <body> b"),
            "<head> h <body> b<body>  E");
  EXPECT_EQ(Merge("<head> <body> #### E", "<head> h </head> b"),
            "<head> h <body>  E");
  EXPECT_EQ(Merge("<head> <body> #### E", "<head> h </head> <body> b\n"),
            "<head> h <body>  b\n E");
  EXPECT_EQ(Merge("", ""), "");
}

TEST(MergePages, EveryByteSurvivesAndLongWordsStream) {
  const std::string odd = std::string("\xA0") + '\0' + "\x1c\xff";
  const std::string longWord(200000, 'w');
  // Odd bytes are word bytes, so they stand apart from the tags here.
  const std::string input = "<head> " + odd + " <" + longWord +
                            " </head> <body> <" + longWord + odd + " </body>";
  const std::string merged =
      Merge("<head> <body> " + odd + " #### " + odd, input);
  // Compared without printing 400 KB on a failure.
  EXPECT_TRUE(merged == "<head> " + odd + " <" + longWord + " <body> " + odd +
                            "  <" + longWord + odd + "  " + odd)
      << merged.size();
}

class ApplyTempTest : public ScratchTest {
 protected:
  // Runs ApplyTemp with the console captured.
  bool Apply(const std::string& templ, const std::string& input) {
    std::ostringstream console;
    std::streambuf* old = std::cout.rdbuf(console.rdbuf());
    MergeRun run;
    bool result = ApplyTemp(run, templ, input);
    std::cout.rdbuf(old);
    console_ = console.str();
    return result;
  }
  std::string console_;
};

TEST_F(ApplyTempTest, OpensReportsAndWritesTheMergedPage) {
  WriteFile("t.html", kTemplate);
  WriteFile("index.html", kInput);
  EXPECT_TRUE(Apply("t.html", "index.html"));
  EXPECT_EQ(console_,
            "Successfully opened temb/index.html (Output file) and "
            "index.html (Input file)\n");
  EXPECT_EQ(ReadFile("temb/index.html"), kMerged);
  // A second run truncates and rewrites the same output.
  WriteFile("temb/index.html", std::string(5000, 'z'));
  EXPECT_TRUE(Apply("t.html", "index.html"));
  EXPECT_EQ(ReadFile("temb/index.html"), kMerged);
}

TEST_F(ApplyTempTest, FailuresToOpen) {
  WriteFile("t.html", kTemplate);
  EXPECT_FALSE(Apply("missing.html", "t.html"));
  EXPECT_EQ(console_, "Could not open missing.html\n");
  EXPECT_FALSE(Apply("t.html", "missing.html"));
  EXPECT_EQ(console_, "Could not open missing.html\n");
  EXPECT_FALSE(Apply("temb", "t.html")) << "a folder is no template";
  EXPECT_EQ(console_, "Could not open temb\n");
  EXPECT_FALSE(Apply("t.html", "temb"));
  EXPECT_FALSE(Apply("t.html", std::string("t.html\0x", 8)));
  EXPECT_FALSE(Exists("temb/t.html")) << "no output is touched";
}

TEST_F(ApplyTempTest, OutputThatCannotBeCreated) {
  WriteFile("t.html", kTemplate);
  WriteFile("in.html", kInput);
  std::filesystem::remove("temb");
  EXPECT_TRUE(Apply("t.html", "in.html"));
  EXPECT_EQ(console_,
            "Could not open temb/in.html\n"
            "Please make sure you have a folder called temb in the current "
            "directory\n"
            " and in.html (Input file)\n");
}

TEST_F(ApplyTempTest, OutputNameKeepsTwentyCharacters) {
  EXPECT_EQ(OutputName("averyverylongpagename.html"),
            "temb/averyverylongpagenam");
  EXPECT_EQ(OutputName("exactlytwentychars.h"), "temb/exactlytwentychars.h");
  EXPECT_EQ(OutputName(""), "temb/");
  WriteFile("t.html", kTemplate);
  WriteFile("averyverylongpagename.html", kInput);
  EXPECT_TRUE(Apply("t.html", "averyverylongpagename.html"));
  EXPECT_EQ(ReadFile("temb/averyverylongpagenam"), kMerged);
}

TEST_F(ApplyTempTest, NeverTruncatesWhatItReads) {
  WriteFile("temb/index.html", kTemplate);
  WriteFile("index.html", kInput);
  const std::string guarded =
      "Could not open temb/index.html\n"
      "The output file would overwrite the template or the input\n"
      " and index.html (Input file)\n";
  EXPECT_TRUE(Apply("temb/index.html", "index.html"));
  EXPECT_EQ(console_, guarded);
  EXPECT_EQ(ReadFile("temb/index.html"), kTemplate);
  // The same file by another spelling, and an input that is its own output.
  EXPECT_TRUE(Apply("./temb//index.html", "index.html"));
  EXPECT_EQ(ReadFile("temb/index.html"), kTemplate);
  WriteFile("temb/x.html", kInput);
  std::filesystem::create_hard_link("temb/x.html", "x.html");
  EXPECT_TRUE(Apply("index.html", "x.html"));
  EXPECT_EQ(console_,
            "Could not open temb/x.html\n"
            "The output file would overwrite the template or the input\n"
            " and x.html (Input file)\n");
  EXPECT_EQ(ReadFile("temb/x.html"), kInput);
}

TEST_F(ApplyTempTest, NeverWritesOutsideTheOutputFolder) {
  WriteFile("t.html", kTemplate);
  WriteFile("in.html", kInput);
  // "../<this folder>/in.html" is in.html here; its output name, cut to 20
  // characters, would be a file beside temb.
  std::string self = std::filesystem::current_path().filename().string();
  std::string input = "../" + self + "/in.html";
  std::string output = OutputName(input);
  EXPECT_TRUE(Apply("t.html", input));
  EXPECT_EQ(console_, "Could not open " + output +
                          "\nThe output file would be outside the folder "
                          "temb\n and " +
                          input + " (Input file)\n");
  EXPECT_FALSE(Exists(output));
  EXPECT_FALSE(Exists(self.substr(0, MAXCHARS - 3)));
  // Folders that come back down stay inside temb and are fine.
  std::filesystem::create_directory("a");
  std::filesystem::create_directory("temb/a");
  EXPECT_TRUE(Apply("t.html", "./a/../in.html"));
  EXPECT_EQ(ReadFile("temb/in.html"), kMerged);
}

TEST_F(ApplyTempTest, OutputLinkedToADeviceIsRefused) {
  WriteFile("t.html", kTemplate);
  WriteFile("x.html", kInput);
  std::filesystem::create_symlink("/dev/null", "temb/x.html");
  EXPECT_TRUE(Apply("t.html", "x.html"));
  EXPECT_EQ(console_, "Could not open temb/x.html\n" + kNoFolder +
                          " and x.html (Input file)\n");
  EXPECT_TRUE(std::filesystem::is_symlink("temb/x.html"));
}

}  // namespace
