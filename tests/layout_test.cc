// The layout mode: its rules case by case, and random templates and pages
// against the plain in-memory version of the rules.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <iostream>
#include <random>
#include <sstream>
#include <string>

#include "merge/apply_temp.h"
#include "tests/html_reference.h"
#include "tests/scratch.h"

namespace {

// Merges `templ` and `page` in the layout mode, the page named `name` (its
// folders made, and temb's), in this process; what standard error got goes
// to *err.
std::string LayoutMerge(const std::string& templ, const std::string& page,
                        const std::string& name = "p.html",
                        std::string* err = nullptr) {
  for (std::size_t at = name.find('/'); at != std::string::npos;
       at = name.find('/', at + 1)) {
    mkdir(name.substr(0, at).c_str(), 0755);
    mkdir(("temb/" + name.substr(0, at)).c_str(), 0755);
  }
  WriteFile("t.html", templ);
  WriteFile(name, page);
  std::ostringstream console, errors;
  std::streambuf* was = std::cout.rdbuf(console.rdbuf());
  std::streambuf* wasErr = std::cerr.rdbuf(errors.rdbuf());
  MergeRun run;
  run.mode.html = run.mode.layout = true;
  MergeOutcome outcome = MergeFile(run, "t.html", name);
  std::cout.rdbuf(was);
  std::cerr.rdbuf(wasErr);
  if (err != nullptr) *err = errors.str();
  return outcome == MergeOutcome::kWritten ? ReadFile("temb/" + name) : "-";
}

int DepthOf(const std::string& name) {
  int depth = 0;
  for (char c : name) depth += c == '/';
  return depth;
}

class Layout : public ScratchTest {};

TEST_F(Layout, EveryRule) {
  const std::string head = "<html lang=\"en\"><head><meta charset=utf-8>";
  const std::string t = head + "<title>T</title></head><body>[####]</body>";
  struct Case {
    std::string templ, page, name, expected;
  };
  const Case cases[] = {
      // The page's head elements before </head>, its body in the marker's
      // place, its title instead of the template's first one in its head.
      {t, "<head><title>P</title><link rel=x></head><body>B</body>", "p.html",
       head + "<title>P</title><link rel=x></head><body>[B]</body>"},
      {t, "<head><link rel=x></head>B", "p.html",
       head + "<title>T</title><link rel=x></head><body>[B]</body>"},
      {"<head>\n<title>T</title>\n</head><body><title>U</title>####",
       "<title>P</title>B", "p.html",
       "<head>\n\n<title>P</title></head><body><title>U</title>B"},
      {"<head><link></head><body><title>U</title>####", "<title>P</title>B",
       "p.html", "<head><link><title>P</title></head><body><title>U</title>B"},
      // No closing head tag: before the body tag.
      {"<head><meta x><body>####", "<meta y>B", "p.html",
       "<head><meta x><meta y><body>B"},
      // Character sets: the template's wins when both declare one.
      {t, "<meta charset=latin1><meta name=a>B", "p.html",
       head + "<title>T</title><meta name=a></head><body>[B]</body>"},
      {t, "<META HTTP-EQUIV=Content-Type content='text/html'><meta name=a>B",
       "p.html", head + "<title>T</title><meta name=a></head><body>[B]</body>"},
      {"<head></head><body>####", "<meta charset=latin1>B", "p.html",
       "<head><meta charset=latin1></head><body>B"},
      {"<head><meta http-equiv=refresh content=1></head><body>####",
       "<meta charset=x>B", "p.html",
       "<head><meta http-equiv=refresh content=1><meta charset=x></head>"
       "<body>B"},
      // Language and direction from the page's html tag.
      {t, "<html lang=de dir='rtl'>B", "p.html",
       "<html dir='rtl' lang=de><head><meta charset=utf-8><title>T</title>"
       "</head><body>[B]</body>"},
      {"<html class=a LANG dir=ltr><head><body>####", "<html lang=\"fr\" dir>B",
       "p.html", "<html class=a LANG=\"fr\" dir=ltr><head><body>B"},
      {"<head><body>####", "<html lang=de>B", "p.html", "<head><body>B"},
      {t, "<html lang>B", "p.html",
       head + "<title>T</title></head><body>[B]</body>"},
      // Links: rebased below the root, every kind of URL.
      {"<head><link href=a.css><link HREF=' b.css'></head>"
       "<body background=i.png><img src=/x srcset='a.png 1x, /b.png 2x,c.png'>"
       "<a href=#top><a href=?q><a href=https://e.org/><a href=mailto:x>"
       "<a href=''><a href=c+d.e:f><a href=c_d:e><form action=f "
       "formaction=g><video poster=v><object data=o>####"
       "<script src=s.js>var a='<a href=x>';</script><a href=z></a href=y>",
       "<a href=mine.html>B", "a/b/c/p.html",
       "<head><link href=../../../a.css><link HREF=' ../../../b.css'></head>"
       "<body background=../../../i.png><img src=/x srcset='../../../a.png 1x,"
       " /b.png 2x,../../../c.png'><a href=#top><a href=?q>"
       "<a href=https://e.org/><a href=mailto:x><a href=''><a href=c+d.e:f>"
       "<a href=../../../c_d:e><form action=../../../f "
       "formaction=../../../g><video poster=../../../v>"
       "<object data=../../../o><a href=mine.html>B"
       "<script src=../../../s.js>var a='<a href=x>';</script>"
       "<a href=../../../z></a href=../../../y>"},
      {"<head><link href=a.css></head><body>####", "B", "d/p.html",
       "<head><link href=../a.css></head><body>B"},
      {"<head><link href=a.css></head><body>####", "B", "p.html",
       "<head><link href=a.css></head><body>B"},
      // A base tag in the head: nothing is rebased.
      {"<head><base href=/s/><link href=a.css></head><body>####", "B",
       "d/p.html", "<head><base href=/s/><link href=a.css></head><body>B"},
      // A tag the template ends inside is no tag.
      {"<head></head><body>####<a href=x", "B", "d/p.html",
       "<head></head><body>B<a href=x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LayoutMerge(c.templ, c.page, c.name), c.expected) << c.page;
    bool ok = false;
    EXPECT_EQ(ReferenceLayoutMerge(c.templ, c.page, DepthOf(c.name), &ok),
              c.expected)
        << c.page;
  }
}

TEST_F(Layout, DifferentCharacterSetsAreWarnedOf) {
  const std::string t =
      "<head><meta http-equiv=content-type content='text/html; "
      "charset=UTF-8'></head><body>####";
  std::string err;
  LayoutMerge(t, "<meta charset=' utf-8 '>B", "p.html", &err);
  EXPECT_EQ(err, "");
  LayoutMerge(t, "<title>x</title>\n  <meta charset=latin1>B", "p.html", &err);
  EXPECT_EQ(err,
            "p.html:2:3: warning: the page declares the character set "
            "\"latin1\", but the template declares \"utf-8\"; the page's "
            "declaration was left out\n");
}

TEST_F(Layout, MenuAndCheckRunInTheMode) {
  const std::string t =
      "<html><head><link href=s.css></head><body>####</body></html>";
  const std::string page = "<html lang=de><title>P</title>B";
  mkdir("d", 0755);
  mkdir("temb/d", 0755);
  WriteFile("t.html", t);
  WriteFile("d/p.html", page);
  ProgramRun check = RunCommand(
      std::string(TEMBRIX_EXE) + " --check --layout t.html d/p.html", "");
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.out, "");
  EXPECT_FALSE(Exists("temb/d/p.html"));
  ProgramRun menu =
      RunCommand(std::string(TEMBRIX_EXE) + " --layout", "a t.html d/p.html q");
  EXPECT_EQ(menu.status, 0);
  EXPECT_EQ(menu.out, std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                          "Successfully opened temb/d/p.html (Output file) "
                          "and d/p.html (Input file)\n" +
                          kMenu);
  EXPECT_EQ(ReadFile("temb/d/p.html"),
            "<html lang=de><head><link href=../s.css><title>P</title></head>"
            "<body>B</body></html>");
}

// Values, names and heads longer than the reader's blocks.
TEST_F(Layout, LongPiecesAcrossBlocks) {
  const std::string blanks(300000, ' ');
  const std::string letters(200000, 'h');
  std::string srcset;
  for (int i = 0; i < 30000; ++i)
    srcset += "i" + std::to_string(i) + ".png 1x, ";
  const std::string templ =
      "<html lang=en><head><meta charset=a><link href=\"" + blanks +
      "a.css\"><link href=" + letters + ":x><link href=" + letters +
      "/x><title>T</title></head><body><img srcset='" + srcset + "'>####";
  std::string page = "<html lang='" + std::string(200000, 'd') + "'><head>";
  for (int i = 0; i < 10000; ++i) page += "<meta charset=b><meta name=n>";
  page += "<title>P</title></head><body>B";
  bool ok = false;
  std::string expected = ReferenceLayoutMerge(templ, page, 2, &ok);
  ASSERT_TRUE(ok);
  EXPECT_TRUE(LayoutMerge(templ, page, "a/b/p.html") == expected);
}

// Random templates and pages from tag fragments, attributes among them,
// merged by the program and by the plain rules at depths 0 to 3.
TEST_F(Layout, RandomPagesMergeAsThePlainRulesSay) {
  const char* const pieces[] = {"<head>",
                                "</head>",
                                "<body>",
                                "</body>",
                                "<html",
                                " lang=",
                                " dir=",
                                " LANG",
                                ">",
                                "'de'",
                                "x",
                                "<title>",
                                "</title>",
                                "<meta",
                                " charset=",
                                " http-equiv=",
                                "content-type",
                                " content=",
                                "'text/html; charset=a'",
                                "<link",
                                " href=",
                                " src=",
                                " srcset=",
                                "\"a 1x, /b, c:d\"",
                                "/x",
                                "#y",
                                "z.css",
                                " ",
                                "\n",
                                "<base",
                                "<script>",
                                "</script>",
                                "<!--",
                                "-->",
                                "<p>",
                                "####",
                                "\"",
                                "'",
                                "=",
                                "<",
                                "</",
                                "<style>",
                                "</style>",
                                "B",
                                "<a",
                                " data=",
                                "mailto:m"};
  std::mt19937 rng(20261210);
  auto randomText = [&](int count) {
    std::string s;
    std::uniform_int_distribution<int> pick(0, std::size(pieces) - 1);
    for (int i = 0; i < count; ++i) s += pieces[pick(rng)];
    return s;
  };
  const char* const names[] = {"p.html", "a/p.html", "a/b/p.html",
                               "a/b/c/p.html"};
  int merged = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string templ = randomText(rng() % 5) + "<head>" +
                        randomText(rng() % 12) + "<body>" +
                        randomText(rng() % 4) + "####" + randomText(rng() % 12);
    std::string page = randomText(rng() % 30);
    const std::string name = names[round % 4];
    bool ok = false;
    std::string expected = ReferenceLayoutMerge(templ, page, round % 4, &ok);
    if (!ok) continue;
    ++merged;
    ASSERT_EQ(LayoutMerge(templ, page, name), expected)
        << "template: " << templ << "\npage: " << page << "\nname: " << name;
  }
  EXPECT_GT(merged, 600) << merged;
}

}  // namespace
