// Every scanner kernel this processor can run, against the plain one, the
// HTML mode's search for a byte against the plain search, and its copy's
// skim against the tokenizer.
#include "merge/scan.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "merge/html_chars.h"
#include "merge/html_reader.h"

namespace {

struct Phase {
  char trigger;
  Words stops;
};

// The stop sets of the four copying phases.
const Phase kPhases[] = {{'<', {"head>", "HEAD>"}},
                         {'<', {"/HEAD>", "/head>"}},
                         {'#', {"###"}},
                         {'<', {"/body", "/BODY", "/body>", "/BODY>"}}};

// Where FindStop stops in bytes[0, end), as an offset (-1: nowhere) and
// whether it is at a stop word.
std::pair<long, bool> Stop(ScanKernel kernel, const std::string& bytes,
                           std::size_t end, const Phase& phase) {
  SelectScanKernel(kernel);
  bool stop = false;
  const char* hit = FindStop(bytes.data(), bytes.data() + end, phase.trigger,
                             phase.stops, StartsOf(phase.stops), &stop);
  return {hit == nullptr ? -1 : hit - bytes.data(), stop};
}

// Checks every kernel against the plain one on bytes[0, end) for every end
// in [from, bytes.size()].
void ExpectKernelsAgree(const std::string& bytes, std::size_t from,
                        const std::string& label) {
  ScanKernel chosen = SelectScanKernel(ScanKernel::kPlain);
  for (std::size_t end = from; end <= bytes.size(); ++end) {
    for (const Phase& phase : kPhases) {
      auto plain = Stop(ScanKernel::kPlain, bytes, end, phase);
      SelectScanKernel(ScanKernel::kPlain);
      std::size_t blank = FindWhitespace(bytes.data(), end);
      for (ScanKernel kernel : AvailableScanKernels()) {
        ASSERT_EQ(Stop(kernel, bytes, end, phase), plain)
            << label << " end " << end << " kernel " << int(kernel)
            << " trigger " << phase.trigger;
        ASSERT_EQ(FindWhitespace(bytes.data(), end), blank)
            << label << " end " << end << " kernel " << int(kernel);
      }
    }
  }
  SelectScanKernel(chosen);
}

TEST(ScanKernels, PlainKernelFindsWhitespaceByTheByteTest) {
  ScanKernel chosen = SelectScanKernel(ScanKernel::kPlain);
  for (int c = 0; c < 256; ++c) {
    for (std::size_t lane = 0; lane < 72; ++lane) {
      std::string bytes(80, 'x');
      bytes[lane] = static_cast<char>(c);
      std::size_t expected = IsWhitespace(c) ? lane : bytes.size();
      EXPECT_EQ(FindWhitespace(bytes.data(), bytes.size()), expected) << c;
    }
  }
  SelectScanKernel(chosen);
}

TEST(ScanKernels, BytesPlantedAtEveryLane) {
  // Each piece lands at every lane of two windows, over text full of
  // triggers and stop words, whose meaning it changes.
  const std::string pieces[] = {"<",
                                "#",
                                " ",
                                "\t",
                                "\n",
                                "\v",
                                "\f",
                                "\r",
                                "<head> ",
                                "<HEAD>",
                                "< head>",
                                "</head>\n",
                                "</body ",
                                "</BODY>",
                                "#### ",
                                "# ###",
                                "#x ",
                                "<h",
                                "<he",
                                "/",
                                "h",
                                "#",
                                "\xa0",
                                std::string(1, '\0'),
                                "\x08\x0e\x1f\xff"};
  std::string background;
  while (background.size() < 140) background += "ab<head>x </body>#### /h";
  for (std::size_t p = 0; p < sizeof pieces / sizeof pieces[0]; ++p) {
    for (std::size_t lane = 0; lane < 130; ++lane) {
      std::string bytes = background;
      bytes.replace(lane, pieces[p].size(), pieces[p]);
      bytes.resize(140);
      ExpectKernelsAgree(
          bytes, lane,
          "piece " + std::to_string(p) + " lane " + std::to_string(lane));
    }
  }
}

TEST(ScanKernels, SeededRandomWindows) {
  const std::string alphabet =
      std::string("<#  \n\t\r\v\fheadHEADbodyBODY/>x", 28) +
      std::string(1, '\0') + "\xa0";
  std::mt19937 rng(20261209);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<std::size_t> length(0, 200);
  for (int round = 0; round < 400; ++round) {
    std::string bytes(length(rng), ' ');
    for (char& c : bytes) c = alphabet[pick(rng)];
    ExpectKernelsAgree(bytes, 0, "round " + std::to_string(round));
  }
}

TEST(ScanKernels, NamesEndAtABlankSlashOrGreaterThan) {
  // Long runs of name bytes, each of the bytes that may or may not end a
  // name now and then.
  const std::string enders = std::string(" \t\n\v\f\r/>\0\xff\x0e\x1f=\"", 14);
  std::mt19937 rng(20261211);
  ScanKernel chosen = SelectScanKernel(ScanKernel::kPlain);
  for (int round = 0; round < 400; ++round) {
    std::string bytes(rng() % 120, 'n');
    for (char& c : bytes) {
      if (rng() % 24 == 0) c = enders[rng() % enders.size()];
    }
    for (std::size_t end = 0; end <= bytes.size(); ++end) {
      std::size_t expected = bytes.substr(0, end).find_first_of(" \t\n\f\r/>");
      if (expected == std::string::npos) expected = end;
      for (ScanKernel kernel : AvailableScanKernels()) {
        SelectScanKernel(kernel);
        ASSERT_EQ(FindNameEnd(bytes.data(), end), expected)
            << ::testing::PrintToString(bytes.substr(0, end)) << " kernel "
            << int(kernel);
      }
    }
  }
  SelectScanKernel(chosen);
}

TEST(FindByte, FindsTheFirstOfItsByteAtEveryEnd) {
  // Bytes next to the one looked for, zeros and high bytes, which the
  // eight-at-a-time test could take for it.
  const std::string near = std::string("<;=\0\x80\xff\xbc\x01", 8);
  std::mt19937 rng(20261212);
  for (int round = 0; round < 300; ++round) {
    std::string bytes(rng() % 80, 'x');
    for (char& c : bytes) {
      if (rng() % 6 == 0) c = near[rng() % near.size()];
    }
    for (char wanted : {'<', '\0', '\x80'}) {
      for (std::size_t end = 0; end <= bytes.size(); ++end) {
        const char* data = bytes.data();
        const char* found = FindByte(data, data + end, wanted);
        std::size_t expected = bytes.substr(0, end).find(wanted);
        ASSERT_EQ(found - data,
                  static_cast<std::ptrdiff_t>(
                      expected == std::string::npos ? end : expected))
            << ::testing::PrintToString(bytes.substr(0, end));
      }
    }
  }
}

// What the HTML copy's skim passes, on random markup with every kernel: it
// stops at a place in text, and everything before it is text or tags a copy
// need not look at, as the tokenizer itself reads them.
TEST(SkimTags, PassesOnlyTextAndTagsACopyNeedNotRead) {
  // Plain markup, which the skim passes, and now and then a piece that it
  // must stop at or see through. Each tricky quote holds markup a copy must
  // see, so that a quote taken wrongly for a value, or missed, shows.
  // clang-format off
  const char* const plain[] = {
      "<p>", "</p>", "<a href=\"x.html\">", "</a>", "<td bgcolor=#fff>",
      "<span style=\"a:b\" id='s'>", "</span>", "text ", "words\n", "<br/>",
      "<table>", "</td>", "<img src=\"a\" alt=\"b>c\">", "<x a=b c=\"d\">",
      "<li\tclass=\"x\">"};
  const char* const tricky[] = {
      "=", "\"", "'", "<", ">", "/", " ", "\v", "\f", "\r", "\x01", "\xff",
      "<b", "</", "</b", "<script>", "</body>", "<title>", "<!--", "-->",
      "<?x>", "<xmp>", "<HTML>", "</Body >", "<style>", "</html",
      "<textarea x=\"", "<x a=\"<script>\">", "<x a= \"b><script>\">",
      "<x a=b=\"c><title>\">", "<x \"a><script>\">", "<x a =\"<script>\">",
      "<x =\"<script>\">", "<x/a=\"<script>\">", "<x y=z/w=\"a>b<script>\">",
      "<x a=b=\"c>d<script>\">", "<x a=/ b=\"c><script>\">",
      "<x a= /b=\"c><script>\">", "<x a='b\" c=\"<script>'>",
      "<x a='b\" c=\"'><script>\">", "<x\va=\"<script>\">",
      "<a title='it\"s'><script>", "<x a=\"b c=\"><script>\">",
      "a=\"<script>\" ", "<img src=\"a\"alt=\"<script>\">",
      "<x a=\"0123456789012345678901234567890123456789012345678901234567890"
      "123456789<script>\">",
      "<x a= b=\"0123456789012345678901234567890123456789012345678901234567"
      "89012345><script>\">"};
  // clang-format on
  std::mt19937 rng(20261213);
  ScanKernel chosen = SelectScanKernel(ScanKernel::kPlain);
  for (int round = 0; round < 1500; ++round) {
    std::string page;
    for (int n = static_cast<int>(rng() % 400); n > 0; --n) {
      page += rng() % 40 != 0
                  ? plain[rng() % (sizeof plain / sizeof plain[0])]
                  : tricky[rng() % (sizeof tricky / sizeof tricky[0])];
    }
    // The tokens as the state machine reads them, from a place in text.
    std::stringbuf buffer(page);
    Source source(&buffer);
    HtmlTokenizer tokenizer(source, false);
    std::vector<HtmlToken> tokens;
    for (HtmlToken t = tokenizer.Next(); t.kind != HtmlToken::Kind::kEnd;
         t = tokenizer.Next()) {
      tokens.push_back(t);
    }
    // The skim stops at the start of a window in text, or at a tag's '<':
    // cut short at many places, it shows where it thinks text is.
    for (int cut = 0; cut < 24; ++cut) {
      std::size_t end = cut == 0 ? page.size() : rng() % (page.size() + 1);
      long stopAt = -1;
      for (ScanKernel kernel : AvailableScanKernels()) {
        SelectScanKernel(kernel);
        long at = SkimTags(page.data(), page.data() + end) - page.data();
        if (stopAt < 0) stopAt = at;
        ASSERT_EQ(at, stopAt) << "kernel " << int(kernel) << " " << page;
      }
      auto at = static_cast<std::uint64_t>(stopAt);
      for (const HtmlToken& t : tokens) {
        if (t.start >= at) break;
        bool inText = t.kind == HtmlToken::Kind::kText;
        ASSERT_TRUE(inText || t.end <= at)
            << "inside markup at " << at << " " << page;
        bool passed = inText ||
                      (t.kind == HtmlToken::Kind::kStartTag &&
                       !OpensRawText(t.name, t.nameSize)) ||
                      (t.kind == HtmlToken::Kind::kEndTag &&
                       !EndsBody(t.name, t.nameSize));
        ASSERT_TRUE(passed) << "passed a token at " << t.start << " " << page;
      }
    }
  }
  SelectScanKernel(chosen);
}

}  // namespace
