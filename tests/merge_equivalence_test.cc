// The merge against the plain character-at-a-time rules, on seeded random
// pages built from the fragments where the rules are easiest to get wrong.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "merge/apply_temp.h"
#include "merge/scan.h"
#include "tests/chunk_buf.h"
#include "tests/reference_merge.h"
#include "tests/scratch.h"

namespace {

const std::vector<std::string>& Fragments() {
  static const std::vector<std::string> fragments = {
      "<head>", "<HEAD>", "<Head>", "< head>", "head>", "</head>", "</HEAD>",
      "</head >", "<body>", "<BODY>", "<body", "<BODY", " bgcolor=white>",
      "<body bgcolor=x>", "</body>", "</BODY>", "</body >", "</body",
      "</p></body>", "Hello</body>", "####", "#####", "# ###", "#", "###",
      "####</td>", "<b>####", "#ff0000", "# 1", "<", "< p>", ">", "<p>", "text",
      "a", " ", "  ", "\t", "\n", "\r\n", "\v", "\f", "\r",
      std::string(1, '\0'), "\xA0", "\x1c\x1f", "\xff\xfe", "<html>", "</html>",
      "<title>T</title>", "<head><title>", "<<", "##", std::string(300, 'L'),
      "<" + std::string(5000, 'W'), "/body>x", "/BODY", "/HEAD>", "/head>",
      // Near misses that begin like a tag word or the marker.
      "</b>", "<hr>", "<header>", "</bodyx", "</h1>", "<he", "ad>", "#x", "x<",
      "<p class=x>text</p><td>a</td><tr><td bgcolor=#ffffff>b</td></tr>"};
  return fragments;
}

std::string RandomPage(std::mt19937& rng, int pieces) {
  const auto& f = Fragments();
  std::uniform_int_distribution<std::size_t> pick(0, f.size() - 1);
  std::string page;
  for (int n = 0; n < pieces; ++n) page += f[pick(rng)];
  return page;
}

// Gives the scanner back the kernel it had when a test ends.
struct KernelAfter {
  ScanKernel chosen = SelectScanKernel(ScanKernel::kPlain);
  ~KernelAfter() { SelectScanKernel(chosen); }
};

// Each round scans with the next of the kernels this processor runs, the
// plain one included, whatever the processor has.
void UseKernelOfRound(int round) {
  static const std::vector<ScanKernel> kernels = AvailableScanKernels();
  SelectScanKernel(kernels[round % kernels.size()]);
}

TEST(MergeEquivalence, MatchesPlainRulesOnRandomPages) {
  KernelAfter restore;
  std::mt19937 rng(20261209);
  std::uniform_int_distribution<int> length(0, 60);
  for (int round = 0; round < 3000; ++round) {
    UseKernelOfRound(round);
    std::string t = RandomPage(rng, length(rng));
    std::string i = RandomPage(rng, length(rng));
    std::string expected = ReferenceMerge(t, i);
    std::istringstream tw(t);
    std::istringstream iw(i);
    ASSERT_EQ(ProgramMerge(tw.rdbuf(), iw.rdbuf()), expected)
        << "round " << round;
    // Sources in short pieces: tags cut at every point of a block.
    std::size_t longest = round % 10 == 0 ? 1 : 1 + round % 23;
    ChunkBuf tb(t, longest, round);
    ChunkBuf ib(i, longest, round + 1);
    ASSERT_EQ(ProgramMerge(&tb, &ib), expected) << "chunked round " << round;
  }
}

TEST(MergeEquivalence, MatchesPlainRulesOnWellFormedPages) {
  // Mostly proper pages, so that the later phases are reached often.
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> length(0, 12);
  KernelAfter restore;
  for (int round = 0; round < 2000; ++round) {
    UseKernelOfRound(round);
    auto part = [&] { return RandomPage(rng, length(rng)); };
    std::string t = part() + "<head>\n" + part() + "<body" + part() + ">" +
                    part() + "\n####\n" + part();
    std::string i = part() + "<head>" + part() + "</head>\n" + part() +
                    "<body>" + part() + "</body>" + part();
    std::string expected = ReferenceMerge(t, i);
    std::istringstream tw(t);
    std::istringstream iw(i);
    ASSERT_EQ(ProgramMerge(tw.rdbuf(), iw.rdbuf()), expected)
        << "round " << round;
    ChunkBuf tb(t, 1 + round % 11, round);
    ChunkBuf ib(i, 1 + round % 13, round + 1);
    ASSERT_EQ(ProgramMerge(&tb, &ib), expected) << "chunked round " << round;
  }
}

class FileEquivalence : public ScratchTest {};

TEST_F(FileEquivalence, LargePagesReadFromFilesInBlocks) {
  // Pages of several read blocks, so tags fall on the block edges of files.
  std::mt19937 rng(99);
  KernelAfter restore;
  for (int round = 0; round < 8; ++round) {
    UseKernelOfRound(round);
    std::string t = RandomPage(rng, 40) + "<head>\n" + RandomPage(rng, 40) +
                    "<body>" + RandomPage(rng, 4000) + "\n####\n" +
                    RandomPage(rng, 4000);
    std::string i = "<head>" + RandomPage(rng, 4000) + "</head>\n<body>" +
                    RandomPage(rng, 9000);
    WriteFile("t.html", t);
    WriteFile("i.html", i);
    Source ts(OpenForReading("t.html", nullptr));
    Source is(OpenForReading("i.html", nullptr));
    Sink out;
    ASSERT_EQ(out.CreateReplacement("temb/o.html", nullptr, 0),
              OutputCheck::kReady);
    MergePages(ts, is, out);
    ASSERT_TRUE(out.Finish(true));
    ASSERT_TRUE(ReadFile("temb/o.html") == ReferenceMerge(t, i)) << round;
  }
}

}  // namespace
