// The merge against the plain character-at-a-time rules, on seeded random
// pages built from the fragments where the rules are easiest to get wrong.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "merge/apply_temp.h"
#include "tests/one_byte_buf.h"
#include "tests/reference_merge.h"

namespace {

const std::vector<std::string>& Fragments() {
  static const std::vector<std::string> fragments = {
      "<head>",
      "<HEAD>",
      "<Head>",
      "< head>",
      "head>",
      "</head>",
      "</HEAD>",
      "</head >",
      "<body>",
      "<BODY>",
      "<body",
      "<BODY",
      " bgcolor=white>",
      "<body bgcolor=x>",
      "</body>",
      "</BODY>",
      "</body >",
      "</body",
      "</p></body>",
      "Hello</body>",
      "####",
      "#####",
      "# ###",
      "#",
      "###",
      "####</td>",
      "<b>####",
      "#ff0000",
      "# 1",
      "<",
      "< p>",
      ">",
      "<p>",
      "text",
      "a",
      " ",
      "  ",
      "\t",
      "\n",
      "\r\n",
      "\v",
      "\f",
      "\r",
      std::string(1, '\0'),
      "\xA0",
      "\x1c\x1f",
      "\xff\xfe",
      "<html>",
      "</html>",
      "<title>T</title>",
      "<head><title>",
      "<<",
      "##",
      std::string(300, 'L'),
      "<" + std::string(70000, 'W'),
      "/body>x",
      "/BODY",
      "/HEAD>",
      "/head>"};
  return fragments;
}

std::string RandomPage(std::mt19937& rng, int pieces) {
  const auto& f = Fragments();
  std::uniform_int_distribution<std::size_t> pick(0, f.size() - 1);
  std::string page;
  for (int n = 0; n < pieces; ++n) page += f[pick(rng)];
  return page;
}

std::string Reference(const std::string& t, const std::string& i) {
  std::istringstream ts(t);
  std::istringstream is(i);
  std::ostringstream o;
  ReferenceMerge(ts, is, o);
  return o.str();
}

std::string Fast(std::streambuf* t, std::streambuf* i) {
  std::ostringstream o;
  Source ts(t);
  Source is(i);
  Sink out(o.rdbuf());
  MergePages(ts, is, out);
  CloseSink(out);
  return o.str();
}

TEST(MergeEquivalence, MatchesPlainRulesOnRandomPages) {
  std::mt19937 rng(20261209);
  std::uniform_int_distribution<int> length(0, 60);
  for (int round = 0; round < 3000; ++round) {
    std::string t = RandomPage(rng, length(rng));
    std::string i = RandomPage(rng, length(rng));
    std::string expected = Reference(t, i);
    std::istringstream tw(t);
    std::istringstream iw(i);
    ASSERT_EQ(Fast(tw.rdbuf(), iw.rdbuf()), expected) << "round " << round;
    if (round % 10 == 0) {  // byte-at-a-time sources: every boundary
      OneByteBuf tb(t);
      OneByteBuf ib(i);
      ASSERT_EQ(Fast(&tb, &ib), expected) << "bytewise round " << round;
    }
  }
}

TEST(MergeEquivalence, MatchesPlainRulesOnWellFormedPages) {
  // Mostly proper pages, so that the later phases are reached often.
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> length(0, 12);
  for (int round = 0; round < 2000; ++round) {
    auto part = [&] { return RandomPage(rng, length(rng)); };
    std::string t = part() + "<head>\n" + part() + "<body" + part() + ">" +
                    part() + "\n####\n" + part();
    std::string i = part() + "<head>" + part() + "</head>\n" + part() +
                    "<body>" + part() + "</body>" + part();
    std::istringstream tw(t);
    std::istringstream iw(i);
    ASSERT_EQ(Fast(tw.rdbuf(), iw.rdbuf()), Reference(t, i))
        << "round " << round;
  }
}

}  // namespace
