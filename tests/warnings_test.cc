// Warnings of landmarks a merge did not find: what standard error says,
// the exit status on the command line, --check and --strict, and that the
// merged bytes and the console's standard output stay as they were.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/reference_merge.h"
#include "tests/scratch.h"

namespace {

namespace fs = std::filesystem;

const std::string kTemplate =
    "<html>\n<head>\n</head>\n<body class=site>\n<main>\n####\n</main>\n"
    "</body>\n</html>\n";
const std::string kPage =
    "<html>\n<head>\n<title>P</title>\n</head>\n<body>\n<p>Hi</p>\n</body>\n"
    "</html>\n";

ProgramRun RunArgs(const std::string& args) {
  return RunCommand(std::string(TEMBRIX_EXE) + " " + args, "");
}

class Warnings : public ScratchTest {};

TEST_F(Warnings, EachMissingLandmarkWithItsNearestMiss) {
  struct Case {
    std::string templ;
    std::string page;
    std::string says;  // standard error, less the summary
    int status;
  } cases[] = {
      // The page's landmarks.
      {kTemplate, "<html>\n<head><meta charset=\"utf-8\">\n<body>\nx\n",
       "p.html:2:1: error: no head tag found, so nothing of the page was m"
       "erged (\"<head><meta charset=...\" - the tag must be followed by a"
       " blank or a line end); with --html the page keeps its content\n",
       1},
      {kTemplate, "<Head>\n</head>\n<body>\n",
       "p.html:1:1: error: no head tag found, so nothing of the page was m"
       "erged (\"<Head>\" - the tag must be all in lower or all in upper c"
       "ase); with --html the page keeps its content\n",
       1},
      {kTemplate, "<html><head>\n",
       "p.html:1:7: error: no head tag found, so nothing of the page was m"
       "erged (\"<head>\" - the tag must stand after a blank or a line end"
       ")\n",
       1},
      {kTemplate, "<head lang=en>\n",
       "p.html:1:1: error: no head tag found, so nothing of the page was m"
       "erged (\"<head lang=en>\" - the tag must be exactly <head>, with n"
       "othing inside)\n",
       1},
      {kTemplate, "",
       "p.html: error: no head tag found, so nothing of the page was merge"
       "d\n",
       1},
      {kTemplate, "<head>\n<title>x</title></head>\n<body>\n</body>\n",
       "p.html:2:17: warning: no closing head tag found, so the page's bod"
       "y was merged into its head (\"</head>\" - a tag before it in the s"
       "ame word hides it: put a blank or a line end before it); with --ht"
       "ml the page keeps its content\n",
       0},
      {kTemplate, "<head>\n</head>\n<body><div>\nx\n</body>\n",
       "p.html:3:1: error: no body tag found, so the page's body was dropp"
       "ed (\"<body><div>\" - the tag must be followed by a blank or a lin"
       "e end); with --html the page keeps its content\n",
       1},
      {kTemplate, "<head>\n</head>\n<body>\n<p>x</p></body>\n",
       "p.html:4:9: warning: no closing body tag found, so the page's tail"
       " after its body was copied into the frame (\"</body>\" - a tag bef"
       "ore it in the same word hides it: put a blank or a line end before"
       " it); with --html the page keeps its content\n",
       0},
      {kTemplate, "<head>\n</head>\n<body>\nx\n</body></html>\n",
       "p.html:5:1: warning: no closing body tag found, so the page's tail"
       " after its body was copied into the frame (\"</body></html>\" - th"
       "e tag must be followed by a blank or a line end); with --html the "
       "page keeps its content\n",
       0},
      // The template's landmarks.
      {"<html>\n<head><title>T</title>\n</head>\n<body>\n####\n", kPage,
       "t.html:2:1: warning: no head tag found, so the page follows the en"
       "d of the template, with no body tag (\"<head><title>T</titl...\" -"
       " the tag must be followed by a blank or a line end)\n",
       0},
      {"<head>\n</head>\n<Body>\n####\n", kPage,
       "t.html:3:1: error: no body tag found, so the template's frame afte"
       "r its head was dropped (\"<Body>\" - the tag must be all in lower "
       "or all in upper case)\n",
       1},
      {"<head>\n</head>\n<body class=x\n####\n", kPage,
       "t.html:3:1: error: the body tag is never closed by '>', so the res"
       "t of the template and the page's body ended up inside it (\"<body "
       "class=x\" - no '>' ever closes it)\n",
       1},
      {"<head>\n<body>\n<td>#####</td>\n", kPage,
       "t.html:3:5: warning: no marker #### found, so the page's body foll"
       "ows the end of the template (\"#####</td>\" - the marker must be e"
       "xactly four '#')\n",
       0},
      {"<head>\n<body>\n#\n####\n", kPage,
       "t.html:4:1: warning: no marker #### found, so the page's body foll"
       "ows the end of the template (\"####\" - a lone '#' before it hides"
       " it)\n",
       0},
      {"<head>\n<body>\n<td>####</td>\n", kPage,
       "t.html:3:5: warning: no marker #### found, so the page's body foll"
       "ows the end of the template (\"####</td>\" - the marker must be fo"
       "llowed by a blank or a line end)\n",
       0},
      {"<head>\n<body>\n</body>\n", kPage,
       "t.html: warning: no marker #### found, so the page's body follows "
       "the end of the template\n",
       0},
      {kTemplate, kPage, "", 0},
  };
  for (const Case& c : cases) {
    WriteFile("t.html", c.templ);
    WriteFile("p.html", c.page);
    fs::remove("temb/p.html");
    ProgramRun run = RunArgs("t.html p.html");
    std::string summary =
        c.says.empty()
            ? ""
            : std::string("tembrix: 1 page: ") +
                  (c.status ? "1 lost content, 0" : "0 lost content, 1") +
                  " with warnings\n";
    EXPECT_EQ(run.err, c.says + summary) << c.page << c.templ;
    EXPECT_EQ(run.status, c.status) << c.page << c.templ;
    // The merged bytes are what the rules give, warned or not.
    EXPECT_EQ(ReadFile("temb/p.html"), ReferenceMerge(c.templ, c.page))
        << c.page << c.templ;
    // A check says the same, writes nothing and needs no output folder.
    fs::remove("temb/p.html");
    fs::rename("temb", "away");
    ProgramRun check = RunArgs("--check t.html p.html");
    fs::rename("away", "temb");
    EXPECT_EQ(check.err, run.err) << c.page << c.templ;
    EXPECT_EQ(check.out, "");
    EXPECT_EQ(check.status, c.status);
    EXPECT_FALSE(Exists("temb/p.html"));
  }
}

TEST_F(Warnings, TemplateWarnsOnceAndStrictFailsOnEveryWarning) {
  WriteFile("t.html", "<head>\n<body>\n#####\n");
  WriteFile("a.html", kPage);
  WriteFile("b.html", kPage);
  WriteFile("list.txt", "a.html b.html\n");
  const std::string says =
      "t.html:3:1: warning: no marker #### found, so the page's body follows "
      "the end of the template (\"#####\" - the marker must be exactly four "
      "'#')\n";
  ProgramRun run = RunArgs("t.html --list list.txt");
  EXPECT_EQ(run.err,
            says + "tembrix: 2 pages: 0 lost content, 2 with warnings\n");
  EXPECT_EQ(run.status, 0);
  run = RunArgs("--strict t.html a.html b.html");
  EXPECT_EQ(run.status, 1);
  run = RunArgs("--check --strict t.html a.html");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  // The menu says the same on stderr; its console and status are as ever.
  run = RunTembrix("l t.html list.txt a t.html a.html q");
  EXPECT_EQ(run.err, says);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            std::string(kMenu) + kListPrompts +
                "Successfully opened temb/a.html (Output file) and a.html "
                "(Input file)\nSuccessfully opened temb/b.html (Output file) "
                "and b.html (Input file)\n" +
                kMenu + kTemplatePrompt + kInputPrompt +
                "Successfully opened temb/a.html (Output file) and a.html "
                "(Input file)\n" +
                kMenu);
  // Failures of a check go to stderr too.
  run = RunArgs("--check t.html nope.html");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "tembrix: Could not open nope.html\ntembrix: nope.html: No such "
            "file or directory\n");
  EXPECT_EQ(run.status, 1);
}

}  // namespace
