// Faults a user can run into: odd folders and files, unreadable or vanished
// names, binary pages, console input that stops anywhere, huge lists. Each
// case checks what the user sees, and that no file outside temb changed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "tests/reference_merge.h"
#include "tests/scratch.h"

namespace {

namespace fs = std::filesystem;

// The contents of every file outside temb/, by path.
std::map<std::string, std::string> FilesOutsideTemb() {
  std::map<std::string, std::string> files;
  // A folder a test made unreadable is passed over, not an error: the
  // tests run as ordinary users too.
  for (auto it = fs::recursive_directory_iterator(
           ".", fs::directory_options::skip_permission_denied);
       it != fs::recursive_directory_iterator(); ++it) {
    if (it->path() == "./temb") {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file() && !it->is_symlink()) {
      files[it->path().string()] = ReadFile(it->path().string());
    }
  }
  return files;
}

const std::string kTemplate =
    "<html>\n<head>\n<title>T</title>\n</head>\n<body bgcolor=white>\n####\n"
    "</body>\n</html>\n";
const std::string kInput =
    "<html>\n<head>\n<title>In</title>\n</head>\n<body>\n<p>Hi</p>\n</body>\n";
class Faults : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    WriteFile("t.html", kTemplate);
    WriteFile("in.html", kInput);
    WriteFile("list.txt", "in.html\n");
  }
  // Runs a dialogue and checks that nothing outside temb changed.
  std::string Dialogue(const std::string& consoleInput) {
    auto before = FilesOutsideTemb();
    ProgramRun run = RunTembrix(consoleInput);
    EXPECT_EQ(run.status, 0) << consoleInput;
    EXPECT_TRUE(FilesOutsideTemb() == before) << consoleInput;
    return run.out;
  }
};

TEST_F(Faults, OutputFolderOrOutputThatIsNoPlaceToWrite) {
  const std::string cannot = std::string(kMenu) + kTemplatePrompt +
                             kInputPrompt + "Could not open temb/in.html\n" +
                             kNoFolder + " and in.html (Input file)\n" + kMenu;
  // The output is a folder.
  fs::create_directory("temb/in.html");
  EXPECT_EQ(Dialogue("a t.html in.html q"), cannot);
  // temb is a file, not a folder.
  fs::remove_all("temb");
  WriteFile("temb", "not a folder");
  EXPECT_EQ(Dialogue("a t.html in.html q"), cannot);
  EXPECT_EQ(ReadFile("temb"), "not a folder");
}

TEST_F(Faults, NamesThatAreFoldersTooLongOrGoneBeforeTheMerge) {
  fs::create_directory("folder");
  const std::string longName(300, 'n');
  EXPECT_EQ(Dialogue("a folder in.html t.html " + longName + " ! l t.html " +
                     longName + " q"),
            std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                "Could not open folder\n" + kTemplatePrompt + kInputPrompt +
                "Could not open " + longName + "\n" + kTemplatePrompt + kMenu +
                kListPrompts + "couldn't open list file (" + longName +
                ") please try again \n" + kMenu);
  // The input goes away after it was named, the list after it was named
  // and before the merge: each counts as a file that cannot be opened.
  ProgramRun run = RunCommand(
      std::string("sh -c \"(printf 'a t.html\\n'; rm in.html; printf "
                  "'in.html\\n!\\n'; printf 'l t.html\\n'; rm list.txt; "
                  "printf 'list.txt q') | ") +
          TEMBRIX_EXE + "\"",
      "");
  EXPECT_EQ(run.out, std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                         "Could not open in.html\n" + kTemplatePrompt + kMenu +
                         kListPrompts +
                         "couldn't open list file (list.txt) please try "
                         "again \n" +
                         kMenu);
  EXPECT_TRUE(fs::is_empty("temb"));
  // A device or a FIFO is no page: /dev/zero would never end, and a FIFO
  // without a writer would never begin.
  ASSERT_EQ(mkfifo("fifo", 0644), 0);
  EXPECT_EQ(Dialogue("a /dev/zero in.html t.html fifo ! l t.html fifo q"),
            std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                "Could not open /dev/zero\n" + kTemplatePrompt + kInputPrompt +
                "Could not open fifo\n" + kTemplatePrompt + kMenu +
                kListPrompts +
                "couldn't open list file (fifo) please try again \n" + kMenu);
}

TEST_F(Faults, UnreadableFilesAndReadOnlyTemb) {
  std::string prefix;
  if (geteuid() == 0) {
    // Root reads and writes whatever the mode says: run the program as
    // nobody instead, in a folder everybody may enter.
    if (std::system("command -v setpriv > /dev/null") != 0) {
      GTEST_SKIP() << "running as root without setpriv: modes cannot deny";
    }
    prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    fs::permissions(".", fs::perms::all);
    fs::permissions("temb", fs::perms::all);
  }
  fs::create_directory("locked");
  WriteFile("locked/p.html", kInput);
  WriteFile("secret.html", kInput);
  // Taken while every file can be read, and compared after the modes are
  // given back: an ordinary user cannot read them in between.
  auto before = FilesOutsideTemb();
  fs::permissions("locked", fs::perms::none);
  fs::permissions("secret.html", fs::perms::none);
  ProgramRun run = RunCommand(prefix + TEMBRIX_EXE,
                              "a secret.html in.html t.html secret.html t.html "
                              "locked/p.html ! l t.html secret.html q");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                         "Could not open secret.html\n" + kTemplatePrompt +
                         kInputPrompt + "Could not open secret.html\n" +
                         kTemplatePrompt + kInputPrompt +
                         "Could not open locked/p.html\n" + kTemplatePrompt +
                         kMenu + kListPrompts +
                         "couldn't open list file (secret.html) please try "
                         "again \n" +
                         kMenu);
  // A read-only output is refused, not replaced behind the user's back.
  WriteFile("temb/in.html", "earlier");
  fs::permissions("temb/in.html", fs::perms::owner_read |
                                      fs::perms::group_read |
                                      fs::perms::others_read);
  run = RunCommand(prefix + TEMBRIX_EXE, "a t.html in.html q");
  EXPECT_EQ(run.out, std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                         "Could not open temb/in.html\n" + kNoFolder +
                         " and in.html (Input file)\n" + kMenu);
  EXPECT_EQ(ReadFile("temb/in.html"), "earlier");
  fs::remove("temb/in.html");
  // A read-only temb: the merge runs and says it could not write.
  fs::permissions("temb", fs::perms::owner_read | fs::perms::owner_exec |
                              fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  run = RunCommand(prefix + TEMBRIX_EXE, "a t.html in.html q");
  EXPECT_EQ(run.out, std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                         "Could not open temb/in.html\n" + kNoFolder +
                         " and in.html (Input file)\n" + kMenu);
  EXPECT_TRUE(fs::is_empty("temb"));
  fs::permissions("locked", fs::perms::owner_all);
  fs::permissions("secret.html", fs::perms::owner_read);
  EXPECT_TRUE(FilesOutsideTemb() == before);
}

TEST_F(Faults, BinaryAndUtf16PagesMergeByTheSameRules) {
  std::mt19937 rng(5);
  std::string binary;
  for (int n = 0; n < 200000; ++n) binary += static_cast<char>(rng() & 0xff);
  binary += " <head> x </head> <body> y </body>";
  // UTF-16: every tag word has zero bytes inside, so none is recognised.
  std::string utf16 = "\xff\xfe";
  for (char c : kInput) utf16 += std::string(1, c) + '\0';
  WriteFile("binary.html", binary);
  WriteFile("utf16.html", utf16);
  std::string out = Dialogue(
      "a t.html binary.html a t.html utf16.html a "
      "binary.html in.html q");
  EXPECT_NE(out.find("and in.html (Input file)"), std::string::npos);
  EXPECT_TRUE(ReadFile("temb/binary.html") ==
              ReferenceMerge(kTemplate, binary));
  EXPECT_EQ(ReadFile("temb/utf16.html"), ReferenceMerge(kTemplate, utf16));
  EXPECT_EQ(ReadFile("temb/utf16.html"),
            "<html>\n<body \n bgcolor=white>\n\n</body>\n</html>\n");
  EXPECT_TRUE(ReadFile("temb/in.html") == ReferenceMerge(binary, kInput));
}

TEST_F(Faults, ConsoleInputThatStopsAnywhere) {
  const std::string session =
      "a t.html in.html l t.html list.txt h x a nope in.html ! q";
  for (std::size_t cut = 0; cut <= session.size(); ++cut) {
    std::string out = Dialogue(session.substr(0, cut));
    // Every run ends with the menu: the last thing before the exit.
    ASSERT_GE(out.size(), std::string(kMenu).size()) << cut;
    EXPECT_EQ(out.substr(out.size() - std::string(kMenu).size()), kMenu) << cut;
  }
}

TEST_F(Faults, ConsoleOutputThatGoesAway) {
  // A full device, a closed descriptor and a reader that stops: the menu
  // ends at the first failed write, however much input comes; the command
  // line merges every page and fails at the end. Each says why.
  const std::string exe = std::string("timeout 20 ") + TEMBRIX_EXE;
  const std::string said = "tembrix: standard output could not be written: ";
  const struct {
    std::string command;
    std::string err;  // after `said`
    bool merged;
  } cases[] = {
      {"yes h | " + exe + " > /dev/full", "No space left on device", false},
      {"yes h | " + exe + " >&-", "Bad file descriptor", false},
      {"yes h | " + exe +
           " 2>err | head -c 1 > /dev/null; s=${PIPESTATUS[1]}; cat err >&2; "
           "exit $s",
       "Broken pipe", false},
      {exe + " t.html in.html > /dev/full", "No space left on device", true},
      {exe + " t.html in.html in.html >&-", "Bad file descriptor", true},
      {exe + " --help > /dev/full", "No space left on device", false},
      {exe + " -h >&-", "Bad file descriptor", false},
      {exe + " --version > /dev/full", "No space left on device", false},
  };
  for (const auto& c : cases) {
    std::remove("temb/in.html");
    ProgramRun run = RunCommand("bash -c '" + c.command + "'", "");
    EXPECT_EQ(run.status, 1) << c.command;
    EXPECT_EQ(run.err, said + c.err + "\n") << c.command;
    EXPECT_EQ(Exists("temb/in.html"), c.merged) << c.command;
  }
}

TEST_F(Faults, ListOfAHundredThousandNames) {
  const int count = 100000;
  std::string list;
  for (int n = 0; n < count; ++n) {
    std::string name = "n" + std::to_string(n);
    WriteFile(name, "<head> " + name + " </head> <body> " + name + "</body>");
    list += name + '\n';
  }
  WriteFile("list.txt", list);
  // Sanitizer builds take minutes over a list this long.
  ProgramRun run = RunCommand(TEMBRIX_EXE, "l t.html list.txt q", 600);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  int wrong = 0;
  for (int n = 0; n < count; ++n) {
    std::string name = "n" + std::to_string(n);
    if (ReadFile("temb/" + name) != "<html>\n<head> " + name +
                                        " <body \n bgcolor=white>\n " + name +
                                        "\n</body>\n</html>\n") {
      ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(run.out.size(),
            std::string(kMenu).size() * 2 + kListPrompts.size() +
                static_cast<std::size_t>(count) *
                    std::string("Successfully opened temb/ (Output file) and "
                                " (Input file)\n")
                        .size() +
                2 * (list.size() - count));
}

}  // namespace
