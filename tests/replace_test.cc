// Outputs are replaced whole or not at all: faults injected into the real
// program's system calls, a killed run, two runs at once, a file size limit
// and links. Each case checks what the user sees, that the earlier page is
// whole, and that no temporary file is left.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>

#include "tests/reference_merge.h"
#include "tests/scratch.h"

namespace {

namespace fs = std::filesystem;

const std::string kTemplate =
    "<html>\n<head>\n<title>T</title>\n</head>\n<body bgcolor=white>\n####\n"
    "</body>\n</html>\n";
const std::string kOld = "the earlier page\n";

std::string Page(const std::string& text) {
  return "<html>\n<head>\n<title>" + text + "</title>\n</head>\n<body>\n<p>" +
         text + "</p>\n</body>\n</html>\n";
}

std::string Opened(const std::string& name) {
  return "Successfully opened temb/" + name + " (Output file) and " + name +
         " (Input file)\n";
}

int TempsLeft() {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("temb")) {
    if (entry.path().filename().string().rfind(".tembrix-", 0) == 0) ++count;
  }
  return count;
}

// Runs the program with one fault injected (see tests/fault_shim.cc), with
// `input` on its console and `args` on its command line.
ProgramRun RunWithFault(const std::string& fault, const std::string& input,
                        const std::string& args = "") {
  return RunCommand(std::string("env LD_PRELOAD=") + TEMBRIX_FAULT_SHIM +
                        " ASAN_OPTIONS=verify_asan_link_order=0 " + fault +
                        " " + TEMBRIX_EXE + " " + args,
                    input);
}

class Replace : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    WriteFile("t.html", kTemplate);
    WriteFile("in.html", Page("In"));
    WriteFile("other.html", Page("Other"));
    WriteFile("list.txt", "in.html\nother.html\n");
    WriteFile("temb/in.html", kOld);
  }
};

TEST_F(Replace, InjectedFaultsKeepTheEarlierPage) {
  const std::string merged = ReferenceMerge(kTemplate, Page("In"));
  struct Case {
    std::string fault;
    std::string says;  // after the line that names the files...
    bool replaced;
    bool atEnd = false;  // ...or after the list, when its group is moved
  };
  const Case cases[] = {
      {"FAULT_CALL=read FAULT_PATH=in.html FAULT_AFTER=30",
       "Could not read in.html\n", false},
      {"FAULT_CALL=read FAULT_PATH=t.html FAULT_AFTER=20",
       "Could not read t.html\n", false},
      {"FAULT_CALL=write FAULT_PATH=.tembrix- FAULT_AFTER=10 FAULT_ERRNO=" +
           std::to_string(ENOSPC),
       "Could not write temb/in.html\n", false},
      {"FAULT_CALL=close FAULT_PATH=.tembrix- FAULT_AFTER=1",
       "Could not write temb/in.html\n", false},
      {"FAULT_CALL=rename FAULT_PATH=.tembrix- FAULT_AFTER=1 FAULT_ERRNO=" +
           std::to_string(EXDEV),
       "Could not write temb/in.html\n", false, true},
      {"FAULT_CALL=syncfs FAULT_PATH=temb FAULT_AFTER=1",
       "Could not write temb/in.html\nCould not write temb/other.html\n", false,
       true},
      // An interrupted close has closed the file; an interrupted open is
      // tried again.
      {"FAULT_CALL=close FAULT_PATH=.tembrix- FAULT_AFTER=1 FAULT_ERRNO=" +
           std::to_string(EINTR),
       "", true},
      {"FAULT_CALL=open FAULT_PATH=in.html FAULT_AFTER=1 FAULT_ERRNO=" +
           std::to_string(EINTR),
       "", true},
  };
  for (const Case& c : cases) {
    WriteFile("temb/in.html", kOld);
    fs::remove("temb/other.html");
    ProgramRun run = RunWithFault(c.fault, "l t.html list.txt q");
    EXPECT_EQ(run.status, 0) << c.fault;
    EXPECT_EQ(run.out, std::string(kMenu) + kListPrompts + Opened("in.html") +
                           (c.atEnd ? "" : c.says) + Opened("other.html") +
                           (c.atEnd ? c.says : "") + kMenu)
        << c.fault;
    EXPECT_EQ(ReadFile("temb/in.html"), c.replaced ? merged : kOld) << c.fault;
    // The batch goes on; a failed flush fails the whole group.
    bool otherLost = c.fault.find("syncfs") != std::string::npos;
    EXPECT_EQ(fs::exists("temb/other.html"), !otherLost) << c.fault;
    if (!otherLost) {
      EXPECT_EQ(ReadFile("temb/other.html"),
                ReferenceMerge(kTemplate, Page("Other")))
          << c.fault;
    }
    EXPECT_EQ(TempsLeft(), 0) << c.fault;
  }
}

TEST_F(Replace, HtmlAndLayoutModeFaultsKeepTheEarlierPage) {
  // A page of three blocks, copied as it is read: a tag that outgrows what
  // the reader keeps across a block's edge is read again (lseek), and a
  // tag the file ends inside is dropped. The layout mode reads both files
  // a second time to write them.
  const std::string body = std::string(100 * 1024, 'b') + "<a title='" +
                           std::string(40 * 1024, 'v') + "'>" +
                           std::string(150 * 1024, 'b');
  const std::string page =
      "<head><title>P</title></head><body>" + body + "<a title='x</body>";
  const std::string tail = body + "\n</body>\n</html>\n";
  const std::string htmlMerged =
      "<html>\n<head><title>P</title></head><body bgcolor=white>\n" + tail;
  const std::string layoutMerged =
      "<html>\n<head>\n\n<title>P</title></head>\n<body bgcolor=white>\n" +
      tail;
  WriteFile("in.html", page);
  // The output leads to a file of another name, so that the faults meant
  // for the page never land on the earlier page.
  unlink("temb/in.html");
  ASSERT_EQ(symlink("kept.html", "temb/in.html"), 0);
  const std::string full = std::to_string(page.size() + 10);
  const struct {
    std::string mode, fault;
    bool replaced;
  } cases[] = {
      {"--html", "", true},
      {"--html", "FAULT_CALL=read FAULT_PATH=in.html FAULT_AFTER=200000",
       false},
      {"--html", "FAULT_CALL=lseek FAULT_PATH=in.html FAULT_AFTER=1", false},
      {"--html", "FAULT_CALL=read FAULT_PATH=t.html FAULT_AFTER=20", false},
      {"--html",
       "FAULT_CALL=write FAULT_PATH=.tembrix- FAULT_AFTER=100000 "
       "FAULT_ERRNO=" +
           std::to_string(ENOSPC),
       false},
      {"--layout", "", true},
      {"--layout", "FAULT_CALL=open FAULT_PATH=t.html FAULT_AFTER=2", false},
      {"--layout", "FAULT_CALL=open FAULT_PATH=in.html FAULT_AFTER=2", false},
      {"--layout", "FAULT_CALL=read FAULT_PATH=in.html FAULT_AFTER=" + full,
       false},
      {"--layout", "FAULT_CALL=read FAULT_PATH=t.html FAULT_AFTER=100", false},
      {"--layout", "FAULT_CALL=lseek FAULT_PATH=in.html FAULT_AFTER=1", false},
  };
  for (const auto& c : cases) {
    WriteFile("temb/in.html", kOld);
    ProgramRun run = RunWithFault(c.fault, "", c.mode + " t.html in.html");
    EXPECT_EQ(run.status, c.replaced ? 0 : 1) << c.mode << c.fault;
    EXPECT_EQ(ReadFile("temb/in.html"), !c.replaced          ? kOld
                                        : c.mode == "--html" ? htmlMerged
                                                             : layoutMerged)
        << c.mode << c.fault;
    EXPECT_EQ(TempsLeft(), 0) << c.fault;
    if (!c.replaced) {
      EXPECT_NE(run.err.find("tembrix: "), std::string::npos) << c.fault;
    }
  }
}

TEST_F(Replace, ReadErrorInTheListStopsTheBatch) {
  WriteFile("list.txt", "in.html\nother.html\nthird.html\n");
  // Ten bytes pass: "in.html", then half of the next name.
  ProgramRun run =
      RunWithFault("FAULT_CALL=read FAULT_PATH=list.txt FAULT_AFTER=10",
                   "l t.html list.txt q");
  EXPECT_EQ(run.out, std::string(kMenu) + kListPrompts + Opened("in.html") +
                         "Could not read list.txt\n" + kMenu);
  EXPECT_EQ(ReadFile("temb/in.html"), ReferenceMerge(kTemplate, Page("In")));
  EXPECT_FALSE(Exists("temb/other.html"));
  EXPECT_FALSE(Exists("temb/ot"));
}

TEST_F(Replace, KilledRunLeavesTheEarlierPageWhole) {
  std::string big = "<head> </head> <body> ";
  while (big.size() < 4 << 20) big += "<p>a line of the page</p>\n";
  WriteFile("big.html", big);
  WriteFile("temb/big.html", kOld);
  // Killed when a megabyte of the temporary file is written.
  ProgramRun run = RunCommand(
      std::string("bash -c 'env LD_PRELOAD=") + TEMBRIX_FAULT_SHIM +
          " ASAN_OPTIONS=verify_asan_link_order=0 FAULT_CALL=write "
          "FAULT_PATH=.tembrix- FAULT_AFTER=1048576 FAULT_SIGNAL=9 " +
          TEMBRIX_EXE + " t.html big.html > /dev/null; echo $? > status'",
      "");
  EXPECT_EQ(ReadFile("status"), "137\n");
  EXPECT_EQ(ReadFile("temb/big.html"), kOld);
  // The temporary file is left, hidden and recognisable, and the next run
  // that writes into the folder removes it, for no process uses it now.
  EXPECT_EQ(TempsLeft(), 1);
  run = RunCommand(std::string(TEMBRIX_EXE) + " t.html in.html", "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(TempsLeft(), 0);
}

TEST_F(Replace, EarlierPageThatCannotBeReadBackKeepsItself) {
  // The merged page equals the earlier one for more than a block, then
  // differs: what was equal is read back from the earlier page, and a
  // failed read there fails the page, whose earlier content stays.
  const std::string body(300 * 1024, 'b');
  WriteFile("big.html", "<head> </head> <body> " + body + " </body>");
  ASSERT_EQ(
      RunCommand(std::string(TEMBRIX_EXE) + " t.html big.html", "").status, 0);
  std::string earlier = ReadFile("temb/big.html");
  earlier[earlier.size() - 20] = 'X';
  WriteFile("temb/big.html", earlier);
  ProgramRun run =
      RunWithFault("FAULT_CALL=pread FAULT_PATH=temb/big.html FAULT_AFTER=1000",
                   "", "t.html big.html");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "tembrix: temb/big.html: Input/output error\n");
  EXPECT_EQ(ReadFile("temb/big.html"), earlier);
  EXPECT_EQ(TempsLeft(), 0);
}

TEST_F(Replace, OnlyTemporaryFilesNoRunUsesAreRemoved) {
  // Names as a run writes them: the boot, the process, six characters.
  std::string boot = ReadFile("/proc/sys/kernel/random/boot_id");
  boot.erase(std::remove(boot.begin(), boot.end(), '-'), boot.end());
  boot = boot.substr(0, 12);
  if (boot.size() < 12) GTEST_SKIP() << "no boot id";
  const std::string live = std::to_string(getpid());
  const struct {
    std::string name;
    bool stays;
  } files[] = {
      {".tembrix-" + boot + "-" + live + "-abcdef", true},   // a live writer
      {".tembrix-" + boot + "-999999999-abcdef", false},     // no such process
      {".tembrix-0123456789ab-" + live + "-abcdef", false},  // another boot
      {".tembrix-0-" + live + "-abcdef", true},  // a boot unknown: the process
      {".tembrix-0-999999999-abcdef", false},
      {".tembrix-abcdef", true},  // the form of an earlier version
      {".tembrix-" + boot + "-x-abcdef", true},  // not a name a run writes
  };
  for (const auto& f : files) WriteFile("temb/" + f.name, "left");
  ProgramRun run = RunCommand(std::string(TEMBRIX_EXE) + " t.html in.html", "");
  EXPECT_EQ(run.status, 0);
  for (const auto& f : files)
    EXPECT_EQ(Exists("temb/" + f.name), f.stays) << f.name;
}

TEST_F(Replace, TwoRunsAtOnceLeaveWholePages) {
  WriteFile("t2.html", "<head> </head> <body class=two> #### two\n");
  std::string list;
  for (int n = 0; n < 200; ++n) {
    std::string name = "p" + std::to_string(n) + ".html";
    WriteFile(name, Page(std::string(n * 50, 'x')));
    list += name + "\n";
  }
  WriteFile("list.txt", list);
  // Each run's status counts: none may remove another's files.
  ProgramRun run = RunCommand(
      std::string("bash -c 'for t in t.html t2.html t.html t2.html; do "
                  "(echo \"l $t list.txt q\" | ") +
          TEMBRIX_EXE +
          " > /dev/null) & pids+=($!); done; s=0; for p in ${pids[@]}; do "
          "wait $p || s=1; done; exit $s'",
      "");
  EXPECT_EQ(run.status, 0);
  int wrong = 0;
  for (int n = 0; n < 200; ++n) {
    std::string page = Page(std::string(n * 50, 'x'));
    std::string out = ReadFile("temb/p" + std::to_string(n) + ".html");
    if (out != ReferenceMerge(kTemplate, page) &&
        out != ReferenceMerge(ReadFile("t2.html"), page)) {
      ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(TempsLeft(), 0);
}

TEST_F(Replace, FileSizeLimitIsAFailedWrite) {
  WriteFile("big.html", "<head> </head> <body> " + std::string(300000, 'b'));
  WriteFile("temb/big.html", kOld);
  WriteFile("list.txt", "big.html in.html");
  ProgramRun run =
      RunCommand(std::string("bash -c 'ulimit -f 100; ") + TEMBRIX_EXE + "'",
                 "l t.html list.txt q");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(kMenu) + kListPrompts + Opened("big.html") +
                         "Could not write temb/big.html\n" + Opened("in.html") +
                         kMenu);
  EXPECT_EQ(ReadFile("temb/big.html"), kOld);
  EXPECT_EQ(ReadFile("temb/in.html"), ReferenceMerge(kTemplate, Page("In")));
  EXPECT_EQ(TempsLeft(), 0);
}

TEST_F(Replace, LinksAreFollowedAndModesKept) {
  // A link in temb: its target is replaced, and the link stays a link.
  fs::create_directory("site");
  WriteFile("site/in.html", kOld);
  fs::remove("temb/in.html");
  fs::create_symlink("../site/in.html", "temb/in.html");
  WriteFile("other.html", Page("Other"));
  WriteFile("temb/other.html", kOld);
  ASSERT_EQ(chmod("temb/other.html", 0640), 0);
  // A name holding control bytes is shown with '?' for each.
  ProgramRun run = RunTembrix("l t.html list.txt a t.html \x1b[2Kx.html ! q");
  EXPECT_EQ(run.out, std::string(kMenu) + kListPrompts + Opened("in.html") +
                         Opened("other.html") + kMenu + kTemplatePrompt +
                         kInputPrompt + "Could not open ?[2Kx.html\n" +
                         kTemplatePrompt + kMenu);
  EXPECT_TRUE(fs::is_symlink("temb/in.html"));
  EXPECT_EQ(ReadFile("site/in.html"), ReferenceMerge(kTemplate, Page("In")));
  struct stat st;
  ASSERT_EQ(stat("temb/other.html", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(TempsLeft(), 0);
}

TEST_F(Replace, TemplateChangedBetweenPagesIsReadAfresh) {
  // The template is read afresh for every page, or kept between pages while
  // its file is settled and unchanged: a change of the same size, with its
  // time set back, shows at the next page.
  const std::string changed =
      std::string(kTemplate).replace(kTemplate.find("white"), 5, "black");
  WriteFile("t2.html", changed);
  ProgramRun run = RunCommand(
      std::string(
          "bash -c 'touch -d 2001-01-01 t.html t2.html; sleep 3.1; mkfifo "
          "console; ") +
          TEMBRIX_EXE +
          " < console > /dev/null & exec 3> console; echo \"a t.html "
          "in.html\" >&3; while ! grep -q In temb/in.html; do sleep 0.01; "
          "done; cat t2.html > t.html; touch -d 2001-01-01 t.html; echo \"a "
          "t.html other.html q\" >&3; exec 3>&-; wait; rm console'",
      "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile("temb/in.html"), ReferenceMerge(kTemplate, Page("In")));
  EXPECT_EQ(ReadFile("temb/other.html"),
            ReferenceMerge(changed, Page("Other")));
}

}  // namespace

TEST_F(Replace, StopSignalAnywhereInAListLeavesNoTemporaryFile) {
  WriteFile("third.html", Page("Third"));
  WriteFile("list.txt", "in.html other.html third.html");
  WriteFile("temb/other.html", kOld);
  WriteFile("temb/third.html", kOld);
  // The signal comes right after the n-th open (the list, then the
  // template, the page and the temporary file for each page, then the
  // folder) or rename. The list's temporary files wait for one flush, and
  // every one of them is removed.
  const char* const names[] = {"in.html", "other.html", "third.html"};
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (const char* call : {"open", "rename"}) {
    // Opens 11 and 12 are the folder, flushed before and after the renames.
    for (int n = 1; n <= (call[0] == 'o' ? 12 : 3); ++n) {
      std::string fault = std::string("FAULT_CALL=") + call +
                          " FAULT_AFTER=" + std::to_string(n) +
                          " FAULT_SIGNAL=" + std::to_string(signals[n % 3]);
      ProgramRun run = RunWithFault(fault, "l t.html list.txt q");
      EXPECT_NE(run.status, 0) << fault;
      EXPECT_EQ(TempsLeft(), 0) << fault;
      for (const char* name : names) {
        std::string page = ReadFile(std::string("temb/") + name);
        std::string text = name;
        text[0] = static_cast<char>(std::toupper(text[0]));
        text.resize(text.find('.'));
        EXPECT_TRUE(page == kOld ||
                    page == ReferenceMerge(kTemplate, Page(text)))
            << fault << " " << name;
      }
      for (const char* name : names)
        WriteFile(std::string("temb/") + name, kOld);
    }
  }
}

TEST_F(Replace, PermissionBitsThatCannotBeSetFailTheReplacement) {
  mode_t mask = umask(022);
  // 0666 is more than the umask leaves, so the bits are set after the create.
  ASSERT_EQ(chmod("temb/in.html", 0666), 0);
  ProgramRun run = RunWithFault(
      "FAULT_CALL=fchmod FAULT_PATH=.tembrix- "
      "FAULT_AFTER=1 FAULT_ERRNO=" +
          std::to_string(EPERM),
      "a t.html in.html q");
  EXPECT_EQ(run.out, std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                         Opened("in.html") + "Could not write temb/in.html\n" +
                         kMenu);
  EXPECT_EQ(ReadFile("temb/in.html"), kOld);
  EXPECT_EQ(TempsLeft(), 0);
  if (geteuid() == 0) {
    // As root the owner is given back where the system allows it; where it
    // does not, the page is still replaced, with its bits.
    ASSERT_EQ(chown("temb/in.html", 65534, 65534), 0);
    run = RunWithFault(
        "FAULT_CALL=fchown FAULT_PATH=.tembrix- FAULT_AFTER=1 "
        "FAULT_ERRNO=" +
            std::to_string(EPERM),
        "a t.html in.html q");
    EXPECT_EQ(run.out, std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                           Opened("in.html") + kMenu);
    EXPECT_EQ(ReadFile("temb/in.html"), ReferenceMerge(kTemplate, Page("In")));
    struct stat st;
    ASSERT_EQ(stat("temb/in.html", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    EXPECT_EQ(st.st_uid, 0u);
  }
  umask(mask);
}

TEST_F(Replace, PagesReachTheDiskBeforeTheirRenames) {
  const std::string merged = ReferenceMerge(kTemplate, Page("In"));
  const std::string eio = " FAULT_ERRNO=" + std::to_string(EIO);
  const std::string eintr = " FAULT_ERRNO=" + std::to_string(EINTR);
  const std::string notFlushed =
      ": error: the page was replaced, but its folder could not be flushed "
      "to the disk: Input/output error\n";
  struct Case {
    std::string fault;
    std::string args;  // after the program
    int status;
    bool replaced;    // in.html; other.html too when the args name it
    std::string err;  // for each page, after "tembrix: temb/NAME"
  };
  const Case cases[] = {
      // A single page is flushed alone, then its rename, then its folder,
      // which is opened before the rename. An interruption is no failure.
      {"FAULT_CALL=fdatasync FAULT_PATH=.tembrix- FAULT_AFTER=1" + eio,
       "in.html", 1, false, ": Input/output error\n"},
      {"FAULT_CALL=fdatasync FAULT_PATH=.tembrix- FAULT_AFTER=1" + eintr,
       "in.html", 0, true, ""},
      {"FAULT_CALL=fsync FAULT_PATH=temb FAULT_AFTER=1" + eio, "in.html", 1,
       true, notFlushed},
      {"FAULT_CALL=fsync FAULT_PATH=temb FAULT_AFTER=1" + eintr, "in.html", 0,
       true, ""},
      {"FAULT_CALL=rename FAULT_PATH=temb FAULT_AFTER=1" + eintr, "in.html", 0,
       true, ""},
      // The folder's open (the third on temb/: the earlier page, the
      // temporary, the folder) and its close after the flush.
      {"FAULT_CALL=open FAULT_PATH=temb/ FAULT_AFTER=3" + eio, "in.html", 1,
       false, ": Input/output error\n"},
      {"FAULT_CALL=open FAULT_PATH=temb/ FAULT_AFTER=3" + eintr, "in.html", 0,
       true, ""},
      {"FAULT_CALL=close FAULT_PATH=temb/ FAULT_AFTER=3" + eio, "in.html", 0,
       true, ""},
      // Many pages: one flush for the group, then the renames in order.
      {"FAULT_CALL=syncfs FAULT_PATH=temb FAULT_AFTER=1" + eio,
       "in.html other.html", 1, false, ": Input/output error\n"},
      {"FAULT_CALL=syncfs FAULT_PATH=temb FAULT_AFTER=1" + eintr,
       "in.html other.html", 0, true, ""},
      {"FAULT_CALL=fsync FAULT_PATH=temb FAULT_AFTER=1" + eio,
       "in.html other.html", 1, true, notFlushed},
      {"FAULT_CALL=fdatasync FAULT_PATH=.tembrix- FAULT_AFTER=1" + eio,
       "in.html other.html", 0, true, ""},
      // --no-sync flushes nothing.
      {"FAULT_CALL=fdatasync FAULT_PATH=.tembrix- FAULT_AFTER=1" + eio,
       "--no-sync in.html", 0, true, ""},
      {"FAULT_CALL=syncfs FAULT_PATH=temb FAULT_AFTER=1" + eio,
       "--no-sync in.html other.html", 0, true, ""},
  };
  for (const Case& c : cases) {
    WriteFile("temb/in.html", kOld);
    WriteFile("temb/other.html", kOld);
    ProgramRun run = RunWithFault(c.fault, "", "t.html " + c.args);
    bool two = c.args.find("other") != std::string::npos;
    std::string says;
    std::string err;
    for (const char* name : {"in", "other"}) {
      if (std::string(name) == "other" && !two) break;
      std::string output = std::string("temb/") + name + ".html";
      if (!c.replaced && c.status != 0)
        says += "Could not write " + output + "\n";
      // A reason follows "tembrix: " and the name; an error about the file
      // stands in the form annotators read.
      bool annotated = c.err.rfind(": error: ", 0) == 0;
      if (!c.err.empty())
        err += (annotated ? "" : "tembrix: ") + output + c.err;
    }
    EXPECT_EQ(run.status, c.status) << c.fault << " " << c.args;
    ASSERT_GE(run.out.size(), says.size()) << c.fault;
    EXPECT_EQ(run.out.substr(run.out.size() - says.size()), says)
        << c.fault << " " << c.args;
    EXPECT_EQ(run.err, err) << c.fault << " " << c.args;
    EXPECT_EQ(ReadFile("temb/in.html"), c.replaced ? merged : kOld)
        << c.fault << " " << c.args;
    if (two) {
      EXPECT_EQ(ReadFile("temb/other.html") != kOld, c.replaced) << c.fault;
    }
    EXPECT_EQ(TempsLeft(), 0) << c.fault << " " << c.args;
  }
}

TEST_F(Replace, AListKeepsItsOrderWhileItsPagesWait) {
  // Two names cut to the same output: the later page stays, even where the
  // output already holds what the later page merges to.
  const std::string first = "averyverylongpagename1.html";
  const std::string second = "averyverylongpagename2.html";
  WriteFile(first, Page("One"));
  WriteFile(second, Page("Two"));
  WriteFile("temb/averyverylongpagenam",
            ReferenceMerge(kTemplate, Page("Two")));
  // A page that an earlier page of the list writes is read as it left it.
  fs::create_directory("temb/temb");
  WriteFile("list.txt", first + " " + second + " in.html temb/in.html");
  ProgramRun run =
      RunCommand(std::string(TEMBRIX_EXE) + " t.html --list list.txt", "");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(ReadFile("temb/averyverylongpagenam"),
            ReferenceMerge(kTemplate, Page("Two")));
  EXPECT_EQ(ReadFile("temb/temb/in.html"),
            ReferenceMerge(kTemplate, ReferenceMerge(kTemplate, Page("In"))));
  EXPECT_EQ(TempsLeft(), 0);
}
