#include "merge/token_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/chunk_buf.h"

namespace {

// Runs a check on a source over `text`, once with the whole text buffered
// and once handed out a byte at a time.
template <typename Check>
void OnBothSources(const std::string& text, Check check) {
  std::istringstream whole(text);
  Source a(whole.rdbuf());
  check(a);
  ChunkBuf bytes(text);
  Source b(&bytes);
  check(b);
}

TEST(TakeWord, LeavesEndingWhitespaceUnread) {
  OnBothSources("abc def", [](Source& in) {
    std::string w;
    ASSERT_TRUE(TakeWord(in, &w));
    EXPECT_EQ(w, "abc");
    EXPECT_EQ(Look(in), ' ');
    ASSERT_TRUE(TakeWord(in, &w));
    EXPECT_EQ(w, "def");
    EXPECT_TRUE(in.ended());    // ran to the end while collecting:
    EXPECT_FALSE(in.failed());  // the word still counts
    EXPECT_EQ(Look(in), kEndOfInput);
    EXPECT_FALSE(TakeWord(in, &w));
    EXPECT_EQ(w, "") << "a failed take never keeps the previous word";
    EXPECT_TRUE(in.failed());
  });
}

TEST(TakeWord, WhitespaceOnlySourceEndsAndFails) {
  OnBothSources(" \t\r\n\v\f", [](Source& in) {
    EXPECT_EQ(Look(in), ' ');
    std::string w = "old";
    EXPECT_FALSE(TakeWord(in, &w));
    EXPECT_EQ(w, "");
    EXPECT_TRUE(in.ended());
    EXPECT_TRUE(in.failed());
    EXPECT_EQ(Look(in), kEndOfInput);
  });
}

TEST(TakeWord, OnlySixBytesAreWhitespace) {
  // No-break space, NUL, the separators 0x1C-0x1F and DEL are word bytes,
  // whatever the locale says.
  std::string odd = std::string("a\xA0") + '\0' + "\x1c\x1d\x1e\x1f\x7f\x85z";
  OnBothSources(odd + "\nnext", [&](Source& in) {
    std::string w;
    ASSERT_TRUE(TakeWord(in, &w));
    EXPECT_EQ(w, odd);
    ASSERT_TRUE(TakeWord(in, &w));
    EXPECT_EQ(w, "next");
  });
  for (int c = 0; c < 256; ++c) {
    bool expected = c == ' ' || c == '\t' || c == '\n' || c == '\v' ||
                    c == '\f' || c == '\r';
    EXPECT_EQ(IsWhitespace(static_cast<unsigned char>(c)), expected) << c;
  }
}

TEST(TakeWord, TagsAreWordsUpToWhitespace) {
  OnBothSources("<head><title>Home</title>\n< body bgcolor=white>",
                [](Source& in) {
                  std::string w;
                  ASSERT_TRUE(TakeWord(in, &w));
                  EXPECT_EQ(w, "<head><title>Home</title>");
                  EXPECT_EQ(TakeChar(in), '\n');
                  EXPECT_EQ(TakeChar(in), '<');
                  ASSERT_TRUE(TakeWord(in, &w));
                  EXPECT_EQ(w, "body") << "the blank after '<' is lost";
                });
}

TEST(TakeWord, LongWordsAreReadWhole) {
  std::string huge(300000, 'x');
  OnBothSources(huge + " y", [&](Source& in) {
    std::string w;
    ASSERT_TRUE(TakeWord(in, &w));
    EXPECT_EQ(w.size(), huge.size());
    ASSERT_TRUE(TakeWord(in, &w));
    EXPECT_EQ(w, "y");
  });
}

TEST(FindWhitespace, AgreesWithTheByteTestAtEveryOffset) {
  // Every byte value, each of the six whitespace bytes planted at each
  // position of a run, so every lane of the eight-byte test is checked.
  std::string all;
  for (int c = 0; c < 256; ++c) {
    if (!IsWhitespace(static_cast<unsigned char>(c))) all += char(c);
  }
  EXPECT_EQ(FindWhitespace(all.data(), all.size()), all.size());
  for (char blank : std::string(" \t\n\v\f\r")) {
    for (std::size_t at = 0; at < 40; ++at) {
      std::string run = all.substr(at % 200, 40);
      run[at] = blank;
      EXPECT_EQ(FindWhitespace(run.data(), run.size()), at)
          << int(blank) << " at " << at;
      EXPECT_EQ(FindWhitespace(run.data(), at), at) << "stops at the size";
    }
  }
}

TEST(TakeWordHead, StopsAtLimitAndLeavesTheRest) {
  OnBothSources("  abcdefghij k", [](Source& in) {
    char head[4];
    ASSERT_EQ(TakeWordHead(in, head, 4), 4u);
    EXPECT_EQ(std::string(head, 4), "abcd");
    std::string rest;
    for (auto p = TakeWordPiece(in); !p.empty(); p = TakeWordPiece(in)) {
      rest.append(p);
    }
    EXPECT_EQ(rest, "efghij");
    EXPECT_EQ(Look(in), ' ');
    ASSERT_EQ(TakeWordHead(in, head, 4), 1u);
    EXPECT_EQ(head[0], 'k');
    EXPECT_EQ(TakeWordHead(in, head, 4), 0u);
    EXPECT_TRUE(in.failed());
  });
}

TEST(TakeNonBlank, TakesOneCharacterAndLeavesTheLine) {
  OnBothSources("  \n a index.html\n", [](Source& in) {
    char c = '?';
    ASSERT_TRUE(TakeNonBlank(in, &c));
    EXPECT_EQ(c, 'a');
    EXPECT_EQ(Look(in), ' ');
    std::string w;
    ASSERT_TRUE(TakeWord(in, &w));
    EXPECT_EQ(w, "index.html");
    EXPECT_FALSE(TakeNonBlank(in, &c));
    EXPECT_EQ(c, 'a') << "a failed take leaves the choice unchanged";
    EXPECT_TRUE(in.ended() && in.failed());
  });
}

TEST(Look, EmptySourceEndsAtOnceAndStaysEnded) {
  OnBothSources("", [](Source& in) {
    EXPECT_EQ(Look(in), kEndOfInput);
    EXPECT_TRUE(in.ended());
    EXPECT_FALSE(in.failed());
    EXPECT_EQ(TakeChar(in), kEndOfInput);
    EXPECT_TRUE(in.failed());
  });
  OnBothSources("\xff", [](Source& in) {
    EXPECT_EQ(Look(in), 0xff) << "bytes come back unsigned, never as the end";
    EXPECT_EQ(TakeChar(in), 0xff);
    EXPECT_EQ(Look(in), kEndOfInput);
  });
}

}  // namespace
