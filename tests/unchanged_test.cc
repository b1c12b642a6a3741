// An output that already holds the merged page is left untouched: no
// temporary file, no rename, the same inode and time. Everything else is
// replaced whole, as before.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "tests/reference_merge.h"
#include "tests/scratch.h"

namespace {

const std::string kTemplate =
    "<html>\n<head>\n</head>\n<body bgcolor=white>\n####\n</body>\n</html>\n";

std::string Page(const std::string& text) {
  return "<head>\n<title>" + text + "</title>\n</head>\n<body>\n" + text +
         "\n</body>\n";
}

// The inode and the modification time of a file.
std::pair<ino_t, long> Stamp(const std::string& name) {
  struct stat st;
  EXPECT_EQ(stat(name.c_str(), &st), 0) << name;
  return {st.st_ino, st.st_mtim.tv_sec * 1000000000L + st.st_mtim.tv_nsec};
}

class Unchanged : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    WriteFile("t.html", kTemplate);
    for (const char* name : kNames) WriteFile(name, Page(name));
    WriteFile("list.txt", "a.html b.html c.html d.html e.html f.html\n");
  }
  // Runs the list; every output must then hold its merged page.
  std::string RunList(const std::string& fault = "") {
    ProgramRun run =
        RunCommand("env " + fault + " LD_PRELOAD=" + TEMBRIX_FAULT_SHIM +
                       " ASAN_OPTIONS=verify_asan_link_order=0 " + TEMBRIX_EXE +
                       " --list list.txt t.html",
                   "");
    EXPECT_EQ(run.status, 0) << fault;
    for (const char* name : kNames) {
      EXPECT_EQ(ReadFile(std::string("temb/") + name),
                ReferenceMerge(ReadFile("t.html"), ReadFile(name)))
          << fault << " " << name;
    }
    return run.out;
  }
  const char* const kNames[6] = {"a.html", "b.html", "c.html",
                                 "d.html", "e.html", "f.html"};
};

TEST_F(Unchanged, RerunLeavesOutputsUntouchedAndReplacesWhatDiffers) {
  const std::string first = RunList();
  ASSERT_EQ(link("temb/a.html", "linked.html"), 0);
  auto before = Stamp("temb/a.html");
  // Nothing changed: same console lines, same inodes and times, the hard
  // link still shared.
  EXPECT_EQ(RunList(), first);
  EXPECT_EQ(Stamp("temb/a.html"), before);
  EXPECT_EQ(Stamp("linked.html"), before);
  // Outputs off by their last byte, a byte short or long, or empty, and one
  // changed input: only those are replaced.
  std::string merged = ReadFile("temb/b.html");
  WriteFile("temb/b.html", merged.substr(0, merged.size() - 1) + "X");
  WriteFile("temb/c.html", merged.substr(0, merged.size() - 1));
  WriteFile("temb/d.html", ReadFile("temb/d.html") + "\n");
  WriteFile("temb/e.html", "");
  WriteFile("f.html", Page("changed"));
  auto f = Stamp("temb/f.html");
  EXPECT_EQ(RunList(), first);
  EXPECT_EQ(Stamp("temb/a.html"), before);
  EXPECT_NE(Stamp("temb/f.html"), f);
  // A changed template replaces every output.
  WriteFile("t.html", kTemplate + "<!-- -->\n");
  EXPECT_EQ(RunList(), first);
  EXPECT_NE(Stamp("temb/a.html").first, before.first);
  EXPECT_EQ(ReadFile("linked.html"),
            merged.empty() ? "" : ReadFile("linked.html"));
}

TEST_F(Unchanged, LargePagesThatDifferFarIn) {
  std::string body;
  while (body.size() < (700 << 10)) body += "<p>a line of the page</p>\n";
  WriteFile("big.html", Page(body));
  const std::string merged = ReferenceMerge(kTemplate, Page(body));
  const std::string run = std::string(TEMBRIX_EXE) + " t.html big.html";
  // Differing past several blocks, or holding more after an equal start:
  // the equal part is read back from the earlier page.
  for (const std::string& earlier :
       {std::string(merged).replace(500000, 1, "#"), merged + merged,
        merged.substr(0, 300000)}) {
    WriteFile("temb/big.html", earlier);
    EXPECT_EQ(RunCommand(run, "").status, 0);
    EXPECT_TRUE(ReadFile("temb/big.html") == merged) << earlier.size();
  }
  auto before = Stamp("temb/big.html");
  EXPECT_EQ(RunCommand(run, "").status, 0);
  EXPECT_EQ(Stamp("temb/big.html"), before);
}

TEST_F(Unchanged, FaultsWhileComparing) {
  const std::string first = RunList();
  auto before = Stamp("temb/a.html");
  // A full disk, or no room for a temporary file: an unchanged site is
  // merged as before, with nothing written.
  EXPECT_EQ(RunList("FAULT_CALL=write FAULT_PATH=.tembrix- FAULT_ERRNO=" +
                    std::to_string(ENOSPC)),
            first);
  EXPECT_EQ(RunList("FAULT_CALL=open FAULT_PATH=.tembrix- FAULT_AFTER=1 "
                    "FAULT_ERRNO=" +
                    std::to_string(ENOSPC)),
            first);
  EXPECT_EQ(Stamp("temb/a.html"), before);
  // The earlier page cannot be read to compare: it is simply replaced.
  EXPECT_EQ(RunList("FAULT_CALL=read FAULT_PATH=temb/a.html FAULT_AFTER=9"),
            first);
  EXPECT_NE(Stamp("temb/a.html").first, before.first);
  // A read error in the input: the earlier page stays, though it was equal
  // so far.
  before = Stamp("temb/b.html");
  ProgramRun run =
      RunCommand(std::string("env LD_PRELOAD=") + TEMBRIX_FAULT_SHIM +
                     " FAULT_CALL=read FAULT_PATH=/b.html "
                     "FAULT_AFTER=20 ASAN_OPTIONS=verify_asan_"
                     "link_order=0 " +
                     TEMBRIX_EXE + " t.html ./b.html",
                 "");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "Successfully opened temb/./b.html (Output file) and ./b.html "
            "(Input file)\nCould not read ./b.html\n");
  EXPECT_EQ(Stamp("temb/b.html"), before);
}

}  // namespace
