// The Windows program under Wine: backslash in the output prefix, and text
// mode on every file and on the console (CR LF reads as a newline, and every
// newline written becomes CR LF). Each start of Wine costs a second or more,
// so each test carries many commands through one run.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/scratch.h"

namespace {

namespace fs = std::filesystem;

// Every newline as the Windows console writes it.
std::string Crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

ProgramRun RunUnderWine(const std::string& consoleInput) {
  return RunCommand(std::string("wine ") + TEMBRIX_WINDOWS_EXE, consoleInput,
                    300);
}

std::string Opened(const std::string& output, const std::string& input) {
  return "Successfully opened " + output + " (Output file) and " + input +
         " (Input file)\n";
}

class Windows : public ScratchTest {
 protected:
  void MakeSite() {
    WriteFile("t.html", Crlf("<html>\n<head>\n<title>T</title>\n</head>\n"
                             "<body bgcolor=white>\n<table><tr><td>\n####\n"
                             "</td></tr></table>\n</body>\n</html>\n"));
    WriteFile("in.html", Crlf("<html>\n<head>\n<title>Page one</title>\n"
                              "</head>\n<body>\n<p>Hello</p>\n</body>\n"
                              "</html>\n"));
  }
};

const std::string kMerged = Crlf(
    "<html>\n<head>\n<title>Page one</title>\n<body \n bgcolor=white>\n"
    "<table><tr><td>\n\n<p>Hello</p>\n\n</td></tr></table>\n</body>\n"
    "</html>\n");

TEST_F(Windows, MergesFoldersGuardAndListInTextMode) {
  MakeSite();
  fs::create_directories("pages");
  fs::create_directories("temb/pages");
  WriteFile("pages/a.html", ReadFile("in.html"));
  WriteFile("temb/x.html", ReadFile("t.html"));
  WriteFile("x.html", ReadFile("in.html"));
  WriteFile("list.txt", "in.html\r\npages\\a.html\r\nmissing.html\r\n");
  // The console input has CR LF line ends too; no q at the end.
  ProgramRun run =
      RunUnderWine(Crlf("a\nt.html\nin.html\na t.html pages\\a.html\n"
                        "a temb\\x.html x.html\nl t.html list.txt\n"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            Crlf(std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                 Opened("temb\\in.html", "in.html") + kMenu + kTemplatePrompt +
                 kInputPrompt + Opened("temb\\pages\\a.html", "pages\\a.html") +
                 kMenu + kTemplatePrompt + kInputPrompt +
                 "Could not open temb\\x.html\n"
                 "The output file would overwrite the template or the "
                 "input\n"
                 " and x.html (Input file)\n" +
                 kMenu + kListPrompts + Opened("temb\\in.html", "in.html") +
                 Opened("temb\\pages\\a.html", "pages\\a.html") +
                 "Could not open missing.html\n" + kMenu));
  EXPECT_EQ(ReadFile("temb/in.html"), kMerged);
  EXPECT_EQ(ReadFile("temb/pages/a.html"), kMerged);
  EXPECT_EQ(ReadFile("temb/x.html"), ReadFile("t.html")) << "never truncated";
}

TEST_F(Windows, MissingFolderAndConsoleEnd) {
  MakeSite();
  fs::remove("temb");
  ProgramRun run = RunUnderWine("a t.html in.html h a t.html");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            Crlf(std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                 "Could not open temb\\in.html\n"
                 "Please make sure you have a folder called temb in the "
                 "current directory\n"
                 " and in.html (Input file)\n" +
                 kMenu + "Help is not avaliable yet\n" + kMenu +
                 kTemplatePrompt + kInputPrompt + kMenu));
  EXPECT_FALSE(Exists("temb"));
}

}  // namespace
