// The HTML mode: its rules case by case, templates it refuses, and random
// pages against the plain in-memory version of the rules, with pieces that
// straddle the reader's blocks.
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "merge/apply_temp.h"
#include "merge/scan.h"
#include "tests/html_reference.h"
#include "tests/scratch.h"

namespace {

// Merges `templ` and `page` in this process in the HTML mode; the console
// lines are kept out of the test's output.
std::string HtmlMerge(const std::string& templ, const std::string& page) {
  WriteFile("t.html", templ);
  WriteFile("p.html", page);
  std::ostringstream console;
  std::streambuf* was = std::cout.rdbuf(console.rdbuf());
  std::streambuf* wasErr = std::cerr.rdbuf(console.rdbuf());
  MergeRun run;
  run.mode.html = true;
  MergeOutcome outcome = MergeFile(run, "t.html", "p.html");
  std::cout.rdbuf(was);
  std::cerr.rdbuf(wasErr);
  return outcome == MergeOutcome::kWritten ? ReadFile("temb/p.html") : "-";
}

class Html : public ScratchTest {};

TEST_F(Html, PartsOfAPage) {
  // With this template a merged page is the head part, "<body>[", the body
  // part and "]".
  const std::string t = "<!DOCTYPE html><head>T</head><body>[####]";
  struct Case {
    std::string page;
    std::string head;
    std::string body;
  } cases[] = {
      {"<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
       "<title>X</title></head><body class=\"doc\"><p>Hi</p></body></html>",
       "<head><meta charset=\"utf-8\"><title>X</title></head>", "<p>Hi</p>"},
      // A fragment is all body; a head element opens the head part.
      {"<h1>News</h1><p>x", "", "<h1>News</h1><p>x"},
      {"\n<!-- c --><title>A</title>\n<p>x</p>", "<title>A</title>\n",
       "<p>x</p>"},
      {"<HEAD lang=en><META x></HEAD>\n<BODY bgcolor=white>b</BODY>",
       "<HEAD lang=en><META x></HEAD>", "b"},
      // The head part ends at what cannot stand in it.
      {"<head><meta> hello <p>", "<head><meta> ", "hello <p>"},
      {"<head><meta><div>x</div>", "<head><meta>", "<div>x</div>"},
      {"<head><meta></br>x", "<head><meta>", "</br>x"},
      {"<head><meta></p><html><head></head>x",
       "<head><meta></p><html><head></head>", "x"},
      {"<head><meta></body>x", "<head><meta>", ""},
      // Text read whole, comments and quoted values hide end tags.
      {"<head><script>if (a</body>) x=\"</head>\"</script><!-- </body> -->"
       "</head><body><a title=\"</body>\" b='>'>y</a><style>}</body>{</style>"
       "</body ><p>dropped",
       "<head><script>if (a</body>) x=\"</head>\"</script><!-- </body> -->"
       "</head>",
       "<a title=\"</body>\" b='>'>y</a><style>}</body>{</style>"},
      {"<body><!-->x<!--->y</body>", "", "<!-->x<!--->y"},
      {"<body><! x><? y >z</ 1>w</html>", "", "<! x><? y >z</ 1>w"},
      {"<body><plaintext></body>x", "", "<plaintext></body>x"},
      {"<body>a < b <3 </body>", "", "a < b <3 "},
      {"<body><a title=it's>x</body>", "", "<a title=it's>x"},
      // What the file ends inside is dropped: a tag, from its name to any
      // of its values, a comment or the like, a final "</", and an element
      // read whole; a lone '<' at the end is text.
      {"<head></head><body>a <b title=\"x</body> y", "<head></head>", "a "},
      {"<body>a <b", "", "a "},
      {"<body>a <b x=1 ", "", "a "},
      {"<body>a <b xy", "", "a "},
      {"<body>a <b x=", "", "a "},
      {"<body>a <b x=y", "", "a "},
      {"<body>a <b title='x>", "", "a "},
      {"<body>a</body\n", "", "a"},
      {"<body>a<!-- never ended </body>", "", "a"},
      {"<body>a<!x", "", "a"},
      {"<body>a<?x", "", "a"},
      {"<body>a</1", "", "a"},
      {"<body>a</", "", "a"},
      {"<body>a<", "", "a<"},
      {"<body>a<style>x</style", "", "a"},
      {"<body>a<title>x</title y='", "", "a"},
      {"<body><plaintext><a x=\"", "", "<plaintext><a x=\""},
      {"<head><meta><title>T", "<head><meta>", ""},
      {"<head><meta x=\"", "<head>", ""},
      {"<head><textarea></head>", "<head>", ""},
      // A comment also ends at "--!>"; a '=' before a name begins one.
      {"<body><!----!>Hello</body>", "", "<!----!>Hello"},
      {"<body><!--a--!>b<!--!>c</body>-->d", "",
       "<!--a--!>b<!--!>c</body>-->d"},
      {"<body><a =\"x>\"y</body>", "", "<a =\"x>\"y"},
      {"<body><a x==\"y>\"z</body>", "", "<a x==\"y>\"z"},
      {"", "", ""},
      {"  \n", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HtmlMerge(t, c.page),
              "<!DOCTYPE html>" + c.head + "<body>[" + c.body + "]")
        << c.page;
  }
  // Inside each element read whole, in a head part and in a body part.
  for (const char* name : {"script", "style", "title", "textarea", "xmp",
                           "iframe", "noembed", "noframes", "noscript"}) {
    std::string n = name;
    EXPECT_EQ(HtmlMerge(t, "<head><meta><" + n + ">x</" + n),
              "<!DOCTYPE html><head><meta><body>[]")
        << n;
    EXPECT_EQ(HtmlMerge(t, "<body>a<" + n + ">x</" + n + "x>"),
              "<!DOCTYPE html><body>[a]")
        << n;
  }
}

TEST_F(Html, TemplatesWithoutTheirLandmarksAreNotUsed) {
  WriteFile("p.html", "<p>x</p>");
  struct Case {
    std::string templ;
    std::string missing;
  } cases[] = {
      {"<body><head>####", "no head tag found"},
      {"<head><title>####</title>", "no body tag found"},
      {"<head><body>#####", "no marker #### found"},
      {"<head><body><!--####--><b title=####>", "no marker #### found"},
      {"<head><body><script>####</script>", "no marker #### found"},
  };
  for (const Case& c : cases) {
    WriteFile("t.html", c.templ);
    ProgramRun run =
        RunCommand(std::string(TEMBRIX_EXE) + " --html t.html p.html", "");
    EXPECT_EQ(run.status, 1) << c.templ;
    EXPECT_EQ(run.out, "Could not open t.html\n") << c.templ;
    EXPECT_EQ(run.err, "t.html: error: " + c.missing +
                           ", so the template was not used\n")
        << c.templ;
    EXPECT_FALSE(Exists("temb/p.html"));
  }
  // The single-file command asks again; the menu's texts are unchanged.
  WriteFile("good.html", "<head><body>####");
  ProgramRun run = RunCommand(std::string(TEMBRIX_EXE) + " --html",
                              "a t.html p.html good.html p.html q");
  EXPECT_EQ(run.out,
            std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                "Could not open t.html\n" + kTemplatePrompt + kInputPrompt +
                "Successfully opened temb/p.html (Output file) and p.html "
                "(Input file)\n" +
                kMenu);
  EXPECT_EQ(ReadFile("temb/p.html"), "<body><p>x</p>");
  // A page with text but no body content says so.
  WriteFile("p.html", "<head></head><body></body>hello");
  run = RunCommand(std::string(TEMBRIX_EXE) + " --html good.html p.html", "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err,
            "p.html: warning: no body content found, so the merged page has an "
            "empty body\ntembrix: 1 page: 0 lost content, 1 with warnings\n");
  // A page that ends inside markup says where; --strict fails on it.
  const struct {
    std::string page;
    std::string warning;
  } cuts[] = {
      {"<body>a\n<b title=\"x\n</body>",
       "2:1: warning: the page ends inside a tag, so it and what follows "
       "were dropped (\"<b title=\"x\" - the file ends before its '>')"},
      {"<body>a<!-- note",
       "1:8: warning: the page ends inside a comment, so it and what "
       "follows were dropped (\"<!-- note\" - the file ends before its "
       "end)"},
      {"<head><script>x",
       "1:7: warning: the page ends inside a <script> element, so it and "
       "what follows were dropped (\"<script>x\" - the file ends before "
       "</script>)"},
      {"<head>\n\n<TITLE>Hi",
       "3:1: warning: the page ends inside a <title> element, so its text "
       "and what follows were dropped (\"<TITLE>Hi\" - the file ends "
       "before </title>)"},
  };
  for (const auto& c : cuts) {
    WriteFile("p.html", c.page);
    for (const char* strict : {"", "--strict "}) {
      run = RunCommand(
          std::string(TEMBRIX_EXE) + " --html " + strict + "good.html p.html",
          "");
      EXPECT_EQ(run.status, *strict ? 1 : 0) << c.page;
      EXPECT_EQ(run.err, "p.html:" + c.warning +
                             "\ntembrix: 1 page: 0 lost content, 1 with "
                             "warnings\n")
          << c.page;
    }
  }
}

// Bytes this process has read from files so far, as Linux counts them.
long long BytesRead() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return -1;
}

TEST_F(Html, HostilePagesAreReadAtMostTwice) {
  // Tags that never end, or whose every '>' lies in a later quote: each
  // page of 1 MiB is read at most twice, not again from every tag.
  const std::size_t size = 1 << 20;
  auto repeat = [size](const std::string& prefix, const std::string& unit) {
    std::string page = prefix;
    while (page.size() < size) page += unit;
    return page;
  };
  const std::string pages[] = {
      repeat("<body>", "<a x=\"1 "),       repeat("<body>", "</body x=\"1 "),
      repeat("<head>", "<meta x=\"1 "),    repeat("", "<p x=\"1 "),
      repeat("<body>", "<a x=\"1>\" y='"), repeat("<body>", "<!-- -- >"),
      repeat("<body><script>", "</scrip"), repeat("<body>", "<a>text ")};
  for (const std::string& page : pages) {
    long long before = BytesRead();
    std::string merged = HtmlMerge("<head><body>[####]", page);
    long long read = BytesRead() - before;
    if (before < 0) GTEST_SKIP() << "no /proc/self/io";
    EXPECT_LE(read, static_cast<long long>(2 * page.size() + 4096))
        << page.substr(0, 20);
    bool ok = false;
    EXPECT_EQ(merged, ReferenceHtmlMerge("<head><body>[####]", page, &ok))
        << page.substr(0, 20);
  }
}

// The body part is copied as it is read, and a tag is held back until it
// ends: tags and parts longer than what is held, across the reader's blocks.
TEST_F(Html, LongTagsAndPartsAcrossBlocks) {
  const std::string t = "<head>T</head><body>[####]";
  const std::string block(128 * 1024 - 20, 'x');
  const std::string value(40 * 1024, 'v');
  const std::string pages[] = {
      // A tag that ends, and one that the file ends inside.
      "<body>" + block + "<a title=\"" + value + "\">y</a></body>z",
      "<body>" + block + "<a title=\"" + value + "</body>z",
      "<body>" + block + "<a title=\"" + value + "\"</body>z",
      // The end of the body part, held back and never copied.
      "<body>" + block + "</body title='" + value + "'>z",
      "<body>" + block + "</body title='" + value + "'",
      // A head part and a gap longer than a block; a body part in a later
      // block than the one the reader stood in when it began.
      "<head><!--" + value + value + value + value + "--></head>" + block +
          "<p>b</body>",
      "<head><title>" + block + block + "</title><p>b" + block + "</html>",
      "<head></head><!--" + block + "-->" + block + "<p>b</body>"};
  for (const std::string& page : pages) {
    bool templateOk = false;
    std::string expected = ReferenceHtmlMerge(t, page, &templateOk);
    ASSERT_EQ(HtmlMerge(t, page), expected) << page.substr(0, 40);
  }
}

// Random pages from tag fragments, some pushed across the reader's 128 KiB
// blocks, merged by the program and by the plain rules.
TEST_F(Html, RandomPagesMergeAsThePlainRulesSay) {
  const char* const pieces[] = {"<head>",
                                "</head>",
                                "<HEAD lang=x>",
                                "<body>",
                                "<BODY class=\"a>b\">",
                                "</body>",
                                "</BODY >",
                                "</html>",
                                "<html>",
                                "<meta charset=x>",
                                "<title>",
                                "</title>",
                                "<script>",
                                "</script>",
                                "<style>",
                                "</STYLE>",
                                "<textarea>",
                                "</textarea>",
                                "<plaintext>",
                                "<!--",
                                "-->",
                                "<!-->",
                                "<!DOCTYPE html>",
                                "<?x?>",
                                "</ 1>",
                                "</br>",
                                "<p>",
                                "</p>",
                                "<div a='",
                                "'>",
                                "\"",
                                "=",
                                " ",
                                "\n",
                                "text",
                                "####",
                                "#",
                                "<",
                                "</",
                                ">",
                                "<b ",
                                "x=\"",
                                "<noscript>",
                                "</noscript>",
                                "<link>",
                                "\t",
                                "\r\n",
                                "</body",
                                "</html",
                                "<head",
                                "<!-",
                                "<a =",
                                "\"=\"",
                                "--!>",
                                "<!----!>",
                                "<!--!>",
                                "<x y=\"1\"=\"",
                                "</script x='>'>",
                                "<b x=y\"z",
                                "'",
                                "/"};
  std::mt19937 rng(20261210);
  auto randomText = [&](int count) {
    std::string s;
    for (int i = 0; i < count; ++i) {
      s += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
    }
    return s;
  };
  const std::vector<ScanKernel> kernels = AvailableScanKernels();
  ScanKernel chosen = SelectScanKernel(kernels.back());
  int checked = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string templ = randomText(2) + "<head>" + randomText(2) + "<body>" +
                        randomText(2) + " #### " + randomText(4);
    // Long pages too, which the copy skims window by window, with each
    // kernel in turn.
    std::string page =
        randomText(static_cast<int>(round % 7 == 0 ? 300 : rng() % 30));
    SelectScanKernel(kernels[round % kernels.size()]);
    if (round % 10 == 0) {
      // Fragments that straddle a block boundary, some after the start of
      // a value longer than a tag being copied is held back for.
      std::string filler(128 * 1024 - rng() % 64, 'x');
      std::string value = round % 30 == 0 ? std::string(20000, 'v') : "";
      page = (round % 20 == 0 ? "<body>" : "<head><title>") + filler +
             randomText(1) + value + page;
    }
    bool templateOk = false;
    std::string expected = ReferenceHtmlMerge(templ, page, &templateOk);
    std::string merged = HtmlMerge(templ, page);
    if (!templateOk) {
      EXPECT_EQ(merged, "-") << templ;
      continue;
    }
    ++checked;
    ASSERT_EQ(merged, expected) << "template: " << templ << "\npage: " << page;
  }
  SelectScanKernel(chosen);
  EXPECT_GT(checked, 400);
}

}  // namespace
