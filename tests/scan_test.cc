// Every scanner kernel this processor can run, against the plain one, and
// the HTML mode's search for a byte against the plain search.
#include "merge/scan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "merge/html_chars.h"

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

}  // namespace
