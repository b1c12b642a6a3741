// The built program, run as a user runs it: console input piped in, in a
// fresh folder with temb/.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/scratch.h"

namespace {

namespace fs = std::filesystem;

class EndToEnd : public ScratchTest {
 protected:
  void MakeSite() {
    WriteFile("t.html",
              "<html>\r\n<head>\r\n<title>T</title>\r\n</head>\r\n"
              "<body bgcolor=white>\r\n####\r\n</body>\r\n</html>\r\n");
    WriteFile("in.html",
              "<html>\n<head>\n<title>One</title>\n</head>\n<body>\n"
              "<p>Hi</p>\n</body>\n</html>\n");
  }
};

const std::string kInMerged =
    "<html>\r\n<head>\n<title>One</title>\n<body \n bgcolor=white>\r\n\n"
    "<p>Hi</p>\n\r\n</body>\r\n</html>\r\n";

TEST_F(EndToEnd, MergeWithoutQuitEndsAtConsoleEnd) {
  MakeSite();
  ProgramRun run = RunTembrix("a\nt.html\nin.html\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                         "Successfully opened temb/in.html (Output file) "
                         "and in.html (Input file)\n" +
                         kMenu);
  EXPECT_EQ(ReadFile("temb/in.html"), kInMerged) << "bytes kept, CR LF too";
  // The last name may end the input without a line end.
  fs::remove("temb/in.html");
  EXPECT_EQ(RunTembrix("a t.html in.html").status, 0);
  EXPECT_EQ(ReadFile("temb/in.html"), kInMerged);
}

TEST_F(EndToEnd, MenuHelpBangAndQuit) {
  ProgramRun run = RunTembrix("x\nh\na\n!\nQ\nh\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(kMenu) + kMenu +
                         "Help is not avaliable yet\n" + kMenu +
                         kTemplatePrompt + kMenu);
  run = RunTembrix("");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kMenu);
}

TEST_F(EndToEnd, ConsoleEndAtEveryPrompt) {
  MakeSite();
  for (std::string input : {"a", "a\n", "a t.html", "a t.html\n \n",
                            "a nope in.html\n", "a t.html nope"}) {
    ProgramRun run = RunTembrix(input);
    EXPECT_EQ(run.status, 0) << input;
    EXPECT_FALSE(Exists("temb/in.html")) << input;
  }
  ProgramRun run = RunTembrix("a t.html nope ");
  EXPECT_EQ(run.out, std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                         "Could not open nope\n" + kTemplatePrompt + kMenu);
}

TEST_F(EndToEnd, FilesThatCannotBeOpened) {
  MakeSite();
  fs::create_directory("folder");
  const std::string longName(300, 'n');
  ProgramRun run =
      RunTembrix("a folder in.html t.html folder t.html " + longName + " ! q");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                         "Could not open folder\n" + kTemplatePrompt +
                         kInputPrompt + "Could not open folder\n" +
                         kTemplatePrompt + kInputPrompt + "Could not open " +
                         longName + "\n" + kTemplatePrompt + kMenu);
  // Without temb/ the merge runs, says why nothing was written, and ends.
  fs::remove("temb");
  run = RunTembrix("a t.html in.html q");
  EXPECT_EQ(run.out, std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                         "Could not open temb/in.html\n"
                         "Please make sure you have a folder called temb in "
                         "the current directory\n"
                         " and in.html (Input file)\n" +
                         kMenu);
  EXPECT_FALSE(Exists("temb"));
}

TEST_F(EndToEnd, ReadFilesSurviveAsOutputs) {
  MakeSite();
  WriteFile("temb/in.html", "template in the output folder <head> ####");
  ProgramRun run = RunTembrix("a temb/in.html in.html q");
  EXPECT_EQ(run.out, std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                         "Could not open temb/in.html\n"
                         "The output file would overwrite the template or "
                         "the input\n"
                         " and in.html (Input file)\n" +
                         kMenu);
  EXPECT_EQ(ReadFile("temb/in.html"),
            "template in the output folder <head> ####");
}

}  // namespace
