#include "console/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/reference_merge.h"
#include "tests/scratch.h"

namespace {

using Action = CommandLine::Action;

// The items of a command line as text: "t=TEMPLATE p=PAGE l=LIST ...".
std::string Shown(const CommandLine& line) {
  std::string text = "t=" + line.templateName;
  for (const CommandLine::Item& item : line.items) {
    text += (item.isList ? " l=" : " p=") + item.name;
  }
  return text;
}

TEST(ParseCommandLine, NamesOptionsAndUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    Action action;
    std::string shown;  // for kMerge; the error for kUsageError
  } cases[] = {
      {{}, Action::kMenu, "t="},
      {{"t.html", "a.html", "b.html"},
       Action::kMerge,
       "t=t.html p=a.html p=b.html"},
      {{"-l", "x.txt", "t.html", "a.html", "--list=y.txt", "--list", "z"},
       Action::kMerge,
       "t=t.html l=x.txt p=a.html l=y.txt l=z"},
      {{"t.html", "--", "-x.html", "--help"},
       Action::kMerge,
       "t=t.html p=-x.html p=--help"},
      {{"-", "-"}, Action::kMerge, "t=- p=-"},
      {{"t.html", "-lx.txt", "a.html"},
       Action::kMerge,
       "t=t.html l=x.txt p=a.html"},
      {{"-h"}, Action::kHelp, ""},
      {{"--version", "--bogus"}, Action::kVersion, ""},
      {{"t.html", "--help"}, Action::kHelp, ""},
      {{"--bogus", "--help"}, Action::kUsageError, "unknown option --bogus"},
      {{"t.html"}, Action::kUsageError, "no page and no list given"},
      {{"-l", "x.txt"}, Action::kUsageError, "no template given"},
      {{"t.html", "--list"},
       Action::kUsageError,
       "option --list needs a file name"},
      // Modes alone start the menu; a check needs pages.
      {{"--html", "--no-sync"}, Action::kMenu, ""},
      {{"--check"}, Action::kUsageError, "no template given"},
      {{"--strict", "--html", "t.html", "a.html"},
       Action::kMerge,
       "t=t.html p=a.html"},
  };
  for (const Case& c : cases) {
    CommandLine line = ParseCommandLine(c.args);
    std::string args;
    for (const std::string& a : c.args) args += a + " ";
    EXPECT_EQ(line.action, c.action) << args;
    if (c.action == Action::kMerge) {
      EXPECT_EQ(Shown(line), c.shown) << args;
    } else if (c.action == Action::kUsageError) {
      EXPECT_EQ(line.error, c.shown) << args;
    }
  }
}

class CommandLineRun : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    WriteFile("t.html", kTemplate);
    for (const char* name : {"a.html", "b.html", "-x.html"}) {
      WriteFile(name, Page(name));
    }
    WriteFile("list.txt", "b.html\n");
  }
  static std::string Page(const std::string& text) {
    return "<head>\n<title>" + text + "</title>\n</head>\n<body>\n" + text +
           "\n</body>\n";
  }
  static std::string Opened(const std::string& name) {
    return "Successfully opened temb/" + name + " (Output file) and " + name +
           " (Input file)\n";
  }
  const std::string kTemplate = "<html>\n<head>\n</head>\n<body x=1>\n####\n";
};

TEST_F(CommandLineRun, MergesLikeTheListCommandAndTellsByStatus) {
  // Standard input stays open and holds a dialogue: it is never read.
  const std::string console = "l t.html list.txt q";
  ProgramRun run = RunCommand(
      std::string(TEMBRIX_EXE) + " t.html a.html --list list.txt -- -x.html",
      console);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, Opened("a.html") + Opened("b.html") + Opened("-x.html"));
  for (const char* name : {"a.html", "b.html", "-x.html"}) {
    EXPECT_EQ(ReadFile(std::string("temb/") + name),
              ReferenceMerge(kTemplate, Page(name)))
        << name;
  }
  // A missing page, a missing list and an output that cannot be written:
  // status 1, the other pages merged all the same.
  WriteFile("temb/b.html", "earlier");
  ProgramRun failed = RunCommand(
      std::string(TEMBRIX_EXE) + " t.html nope.html -l nope.txt b.html",
      console);
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out,
            "Could not open nope.html\n"
            "couldn't open list file (nope.txt) please try again \n" +
                Opened("b.html"));
  // Standard error gives each reason.
  EXPECT_EQ(failed.err,
            "tembrix: nope.html: No such file or directory\n"
            "tembrix: nope.txt: No such file or directory\n");
  EXPECT_EQ(ReadFile("temb/b.html"), ReferenceMerge(kTemplate, Page("b.html")));
  // A folder is built only into a folder of its own.
  ProgramRun folder = RunCommand(std::string(TEMBRIX_EXE) + " t.html temb", "");
  EXPECT_EQ(folder.status, 2);
  EXPECT_EQ(folder.err,
            "tembrix: temb is a folder: a folder is built with --out DIR\n"
            "Try 'tembrix --help' for more information.\n");
}

TEST_F(CommandLineRun, UsageHelpAndVersionNeverWaitForTheConsole) {
  ProgramRun bad =
      RunCommand(std::string(TEMBRIX_EXE) + " --bogus t.html a.html", "");
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err,
            "tembrix: unknown option --bogus\n"
            "Try 'tembrix --help' for more information.\n");
  EXPECT_FALSE(Exists("temb/a.html"));
  // The console is a FIFO held open with nothing in it: a read would wait.
  for (const char* option : {"--help", "--version"}) {
    ProgramRun run =
        RunCommand(std::string("bash -c 'mkfifo c; exec 3<>c; ") + TEMBRIX_EXE +
                       " " + option + " < c; s=$?; rm c; exit $s'",
                   "", 10);
    EXPECT_EQ(run.status, 0) << option;
    EXPECT_NE(run.out.find(option[2] == 'h' ? "Usage: tembrix" : "tembrix 1."),
              std::string::npos)
        << option;
  }
}

}  // namespace
