// The Windows program under Wine: backslash in the output prefix, and text
// mode on every file and on the console (CR LF reads as a newline, and every
// newline written becomes CR LF). Each start of Wine costs a second or more,
// so each test carries many commands through one run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "tests/html_reference.h"
#include "tests/scratch.h"
#include "tests/terminal.h"

namespace {

namespace fs = std::filesystem;

// Every newline as the Windows console writes it.
std::string Crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

ProgramRun RunUnderWine(const std::string& consoleInput) {
  return RunCommand(std::string("wine ") + TEMBRIX_WINDOWS_EXE, consoleInput,
                    300);
}

std::string Opened(const std::string& output, const std::string& input) {
  return "Successfully opened " + output + " (Output file) and " + input +
         " (Input file)\n";
}

class Windows : public ScratchTest {
 protected:
  void MakeSite() {
    WriteFile("t.html", Crlf("<html>\n<head>\n<title>T</title>\n</head>\n"
                             "<body bgcolor=white>\n<table><tr><td>\n####\n"
                             "</td></tr></table>\n</body>\n</html>\n"));
    WriteFile("in.html", Crlf("<html>\n<head>\n<title>Page one</title>\n"
                              "</head>\n<body>\n<p>Hello</p>\n</body>\n"
                              "</html>\n"));
  }
};

const std::string kMerged = Crlf(
    "<html>\n<head>\n<title>Page one</title>\n<body \n bgcolor=white>\n"
    "<table><tr><td>\n\n<p>Hello</p>\n\n</td></tr></table>\n</body>\n"
    "</html>\n");

TEST_F(Windows, MergesFoldersGuardAndListInTextMode) {
  MakeSite();
  fs::create_directories("pages");
  fs::create_directories("temb/pages");
  WriteFile("pages/a.html", ReadFile("in.html"));
  WriteFile("temb/x.html", ReadFile("t.html"));
  WriteFile("x.html", ReadFile("in.html"));
  WriteFile("list.txt", "in.html\r\npages\\a.html\r\nmissing.html\r\n");
  // The console input has CR LF line ends too; no q at the end.
  ProgramRun run =
      RunUnderWine(Crlf("a\nt.html\nin.html\na t.html pages\\a.html\n"
                        "a temb\\x.html x.html\nl t.html list.txt\n"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            Crlf(std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                 Opened("temb\\in.html", "in.html") + kMenu + kTemplatePrompt +
                 kInputPrompt + Opened("temb\\pages\\a.html", "pages\\a.html") +
                 kMenu + kTemplatePrompt + kInputPrompt +
                 "Could not open temb\\x.html\n"
                 "The output file would overwrite the template or the "
                 "input\n"
                 " and x.html (Input file)\n" +
                 kMenu + kListPrompts + Opened("temb\\in.html", "in.html") +
                 Opened("temb\\pages\\a.html", "pages\\a.html") +
                 "Could not open missing.html\n" + kMenu));
  EXPECT_EQ(ReadFile("temb/in.html"), kMerged);
  EXPECT_EQ(ReadFile("temb/pages/a.html"), kMerged);
  EXPECT_EQ(ReadFile("temb/x.html"), ReadFile("t.html")) << "never truncated";
}

TEST_F(Windows, MissingFolderAndConsoleEnd) {
  MakeSite();
  fs::remove("temb");
  ProgramRun run = RunUnderWine("a t.html in.html h a t.html");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            Crlf(std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                 "Could not open temb\\in.html\n"
                 "Please make sure you have a folder called temb in the "
                 "current directory\n"
                 " and in.html (Input file)\n" +
                 kMenu + "Help is not avaliable yet\n" + kMenu +
                 kTemplatePrompt + kInputPrompt + kMenu));
  EXPECT_FALSE(Exists("temb"));
}

// Names in three scripts, as UTF-8 on the console and in list files of
// every common encoding, each merged into its own temb\ file.
TEST_F(Windows, NamesInAnyScriptAndListsInAnyEncoding) {
  MakeSite();
  const std::string latin = "caf\xc3\xa9.html";
  const std::string cyrillic =
      "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1"
      "\x82.html";
  const std::string cjk = "\xe8\xa1\xa8\xe7\xa4\xba.html";
  // Twenty-one characters: the cut keeps twenty, never half of one.
  const std::string longCjk =
      "\xe8\xa1\xa8" + std::string(19, 'a') + "\xe7\xa4\xba";
  for (const std::string& name : {latin, cyrillic, cjk, longCjk}) {
    WriteFile(name, ReadFile("in.html"));
  }
  auto utf16 = [](const std::string& ascii) {
    std::string bytes = "\xff\xfe";
    for (char c : ascii) bytes += std::string{c, '\0'};
    return bytes;
  };
  // UTF-16 of the Cyrillic name, by hand: U+041F U+0440 U+0438 U+0432
  // U+0435 U+0442.
  std::string cyrillic16 =
      "\xff\xfe\x1f\x04\x40\x04\x38\x04\x32\x04\x35\x04"
      "\x42\x04";
  for (char c : std::string(".html\r\n")) cyrillic16 += std::string{c, '\0'};
  WriteFile("utf8.txt", cjk + "\r\n" + latin);
  WriteFile("bom.txt", "\xef\xbb\xbf" + cyrillic);
  WriteFile("utf16.txt", cyrillic16 + utf16("in.html").substr(2));
  WriteFile("ansi.txt", "caf\xe9.html");  // Windows-1252, as Notepad saved it
  ProgramRun run = RunUnderWine(
      "a t.html " + latin + " a t.html " + cyrillic + " a t.html " + longCjk +
      " l t.html utf8.txt l t.html bom.txt l t.html utf16.txt l t.html "
      "ansi.txt q");
  const std::string cut = longCjk.substr(0, longCjk.size() - 3);
  auto opened = [](const std::string& name, const std::string& shown) {
    return Opened("temb\\" + shown, name);
  };
  EXPECT_EQ(
      run.out,
      Crlf(std::string(kMenu) + kTemplatePrompt + kInputPrompt +
           opened(latin, latin) + kMenu + kTemplatePrompt + kInputPrompt +
           opened(cyrillic, cyrillic) + kMenu + kTemplatePrompt + kInputPrompt +
           opened(longCjk, cut) + kMenu + kListPrompts + opened(cjk, cjk) +
           opened(latin, latin) + kMenu + kListPrompts +
           opened(cyrillic, cyrillic) + kMenu + kListPrompts +
           opened(cyrillic, cyrillic) + opened("in.html", "in.html") + kMenu +
           kListPrompts + opened(latin, latin) + kMenu));
  for (const std::string& name : {latin, cyrillic, cjk, cut}) {
    EXPECT_EQ(ReadFile("temb/" + name), kMerged) << name;
  }
}

// Text mode without loss, devices, the climb out of temb with a multi-byte
// name, and outputs replaced whole.
TEST_F(Windows, CtrlZDevicesAndReplacedOutputs) {
  fs::create_directories("site/temb/documentation/en");
  fs::create_directories("site/documentation/en");
  fs::current_path("site");
  MakeSite();
  std::string page = ReadFile("in.html");
  WriteFile("z.html", std::string(page).insert(page.find("Hello"), "\x1a"));
  WriteFile("end.html", "<head>\r\n</head>\r\n<body>\r\nlast\x1a");
  WriteFile("documentation/en/nullable.html", page);
  WriteFile("../y.html", "outside temb\r\n");
  WriteFile("temb/in.html", "earlier\r\n");
  WriteFile("temb/ro.html", "read-only\r\n");
  WriteFile("ro.html", page);
  fs::permissions("temb/ro.html", fs::perms::owner_read);
  const std::string climb = "\xe8\xa1\xa8x\\..\\..\\y.html";
  // A page whose full path is longer than MAX_PATH.
  std::string deep;
  for (int n = 0; n < 10; ++n)
    deep += "folder" + std::to_string(n) + "_" + std::string(24, 'd') + "/";
  fs::create_directories(deep);
  WriteFile(deep + "page.html", page);
  std::string deepName = deep + "page.html";
  for (char& c : deepName) c = c == '/' ? '\\' : c;
  ProgramRun run = RunUnderWine(
      "a t.html z.html a t.html end.html a t.html "
      "documentation\\en\\nullable.html a t.html " +
      climb + " a t.html in.html a t.html ro.html a t.html " + deepName + " q");
  EXPECT_EQ(
      run.out,
      Crlf(std::string(kMenu) + kTemplatePrompt + kInputPrompt +
           Opened("temb\\z.html", "z.html") + kMenu + kTemplatePrompt +
           kInputPrompt + Opened("temb\\end.html", "end.html") + kMenu +
           kTemplatePrompt + kInputPrompt +
           "Could not open temb\\documentation\\en\\nul\n" + kNoFolder +
           " and documentation\\en\\nullable.html (Input file)\n" + kMenu +
           kTemplatePrompt + kInputPrompt + "Could not open temb\\" + climb +
           "\nThe output file would be outside the folder temb\n"
           " and " +
           climb + " (Input file)\n" + kMenu + kTemplatePrompt + kInputPrompt +
           Opened("temb\\in.html", "in.html") + kMenu + kTemplatePrompt +
           kInputPrompt + "Could not open temb\\ro.html\n" + kNoFolder +
           " and ro.html (Input file)\n" + kMenu + kTemplatePrompt +
           kInputPrompt + Opened("temb\\" + deepName.substr(0, 20), deepName) +
           kMenu));
  EXPECT_EQ(ReadFile("temb/" + deep.substr(0, 20)), kMerged);
  // A 0x1A inside a page is data; only a last one is dropped.
  EXPECT_EQ(ReadFile("temb/z.html"),
            std::string(kMerged).insert(kMerged.find("Hello"), "\x1a"));
  EXPECT_EQ(ReadFile("temb/end.html"),
            Crlf("<html>\n<head>\n<body \n bgcolor=white>\n<table><tr><td>\n\n"
                 "last\n</td></tr></table>\n</body>\n</html>\n"));
  EXPECT_FALSE(Exists("temb/documentation/en/nul"));
  EXPECT_EQ(ReadFile("../y.html"), "outside temb\r\n");
  EXPECT_EQ(ReadFile("temb/in.html"), kMerged) << "replaced whole";
  EXPECT_EQ(ReadFile("temb/ro.html"), "read-only\r\n");
  for (const auto& entry : fs::recursive_directory_iterator("temb")) {
    EXPECT_NE(entry.path().filename().string().rfind(".tembrix-", 0), 0u)
        << "temporary file left: " << entry.path();
  }
}

TEST_F(Windows, CommandLineNamesInAnyScriptAndStatus) {
  MakeSite();
  WriteFile("\xe8\xa1\xa8 \xd0\xb6.html", ReadFile("in.html"));
  // The wide command line carries the name whole, whatever the code page.
  ProgramRun run =
      RunCommand(std::string("env LANG=C.UTF-8 wine ") + TEMBRIX_WINDOWS_EXE +
                     " t.html '\xe8\xa1\xa8 \xd0\xb6.html' nope.html",
                 "", 300);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, Crlf(Opened("temb\\\xe8\xa1\xa8 \xd0\xb6.html",
                                 "\xe8\xa1\xa8 \xd0\xb6.html") +
                          "Could not open nope.html\n"));
  EXPECT_EQ(ReadFile("temb/\xe8\xa1\xa8 \xd0\xb6.html"), kMerged);
}

TEST_F(Windows, WarningsNameTheFileAndLineOfAMiss) {
  MakeSite();
  WriteFile("\xd0\xb6.html",
            Crlf("<html>\n<head><meta charset=\"utf-8\">\n<body>\n"));
  ProgramRun run =
      RunCommand(std::string("env LANG=C.UTF-8 wine ") + TEMBRIX_WINDOWS_EXE +
                     " --check t.html '\xd0\xb6.html'",
                 "", 300);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            Crlf("\xd0\xb6.html:2:1: error: no head tag found, so nothing of "
                 "the page was merged (\"<head><meta charset=...\" - the tag "
                 "must be followed by a blank or a line end); with --html "
                 "the page keeps its content\n"
                 "tembrix: 1 page: 1 lost content, 0 with warnings\n"));
  EXPECT_FALSE(Exists("temb/\xd0\xb6.html"));
}

TEST_F(Windows, HtmlModeReadsTextModeFiles) {
  WriteFile("t.html", Crlf("<!DOCTYPE html>\n<html><head><title>T</title>"
                           "</head>\n<body class=site><main>####</main>"
                           "</body></html>\n"));
  WriteFile("p.html", Crlf("<html><HEAD><meta charset=\"utf-8\">\n</HEAD>"
                           "<body>\n<p>Hi</p>\n</body></html>\n"));
  ProgramRun run = RunCommand(
      std::string("wine ") + TEMBRIX_WINDOWS_EXE + " --html t.html p.html", "",
      300);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, Crlf(Opened("temb\\p.html", "p.html")));
  EXPECT_EQ(ReadFile("temb/p.html"),
            Crlf("<!DOCTYPE html>\n<html><HEAD><meta charset=\"utf-8\">\n"
                 "</HEAD><body class=site><main>\n<p>Hi</p>\n</main></body>"
                 "</html>\n"));
}

TEST_F(Windows, HtmlModeReadsLongTextModePagesAgainFromABlock) {
  // Lines ending in CR LF across several blocks; a tag too long to hold
  // back, across a block edge, is read again, and so is the rest of a page
  // after a tag that it ends inside.
  std::string lines;
  for (int i = 0; lines.size() < 100000; ++i) {
    lines += "<p>line " + std::to_string(i) + "</p>\n";
  }
  const std::string templ = "<html><head><title>T</title></head>\n<body>####\n";
  const std::string page = "<head><meta x>\n</head><body>\n" + lines +
                           "<a title=\"" + std::string(40000, 'v') + "\n\">" +
                           lines + "<b title='x\n</body>\n" + lines;
  WriteFile("t.html", Crlf(templ));
  WriteFile("p.html", Crlf(page));
  ProgramRun run = RunCommand(
      std::string("wine ") + TEMBRIX_WINDOWS_EXE + " --html t.html p.html", "",
      300);
  EXPECT_EQ(run.status, 0);
  bool templateOk = false;
  EXPECT_EQ(ReadFile("temb/p.html"),
            Crlf(ReferenceHtmlMerge(templ, page, &templateOk)));
}

TEST_F(Windows, LayoutModeReadsTextModeFilesInFolders) {
  // Lines ending in CR LF: the template and the page are each read twice,
  // and the page's long head is read again, its declarations left out.
  std::string lines, metas;
  for (int i = 0; lines.size() < 150000; ++i) {
    lines += "<p>line " + std::to_string(i) + "</p>\n";
    metas += "<meta charset=b>\n<meta name=n" + std::to_string(i) + ">\n";
  }
  const std::string templ =
      "<html lang=en>\n<head><meta charset=a>\n<link href=css/a.css>\n"
      "<title>T</title>\n</head>\n<body><a href='index.html'>\n####\n";
  const std::string page = "<html dir=rtl><head>\n" + metas +
                           "<title>P</title></head><body>\n" + lines;
  WriteFile("t.html", Crlf(templ));
  fs::create_directories("blog/2024");
  fs::create_directories("temb/blog/2024");
  WriteFile("blog/2024/p.html", Crlf(page));
  WriteFile("p.html", Crlf(page));
  ProgramRun run =
      RunCommand(std::string("wine ") + TEMBRIX_WINDOWS_EXE +
                     " --layout t.html 'blog\\2024\\p.html' p.html",
                 "", 300);
  EXPECT_EQ(run.status, 0);
  bool templateOk = false;
  EXPECT_EQ(ReadFile("temb/blog/2024/p.html"),
            Crlf(ReferenceLayoutMerge(templ, page, 2, &templateOk)));
  EXPECT_EQ(ReadFile("temb/p.html"),
            Crlf(ReferenceLayoutMerge(templ, page, 0, &templateOk)));
}

TEST_F(Windows, SiteIsBuiltWithUnicodeNamesAndFoldersInOneCase) {
  // Names in several scripts, folders made below the output folder, a
  // copy that keeps its bytes, and two names that differ only in case.
  fs::create_directories(u8"site/\u65e5\u672c/\u0434\u043e\u043c");
  WriteFile("t.html", Crlf("<html><head></head><body>\n####\n</body>\n"));
  WriteFile(u8"site/\u65e5\u672c/\u0434\u043e\u043c/caf\u00e9.html",
            Crlf("<p>x</p>\n"));
  WriteFile("site/logo.png", "\r\n\x1a\n");
  WriteFile("site/Page.html", "A");
  WriteFile("page.html", "B");
  ProgramRun run = RunCommand(std::string("wine ") + TEMBRIX_WINDOWS_EXE +
                                  " --html --out public t.html site page.html",
                              "", 300);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            Crlf("Successfully opened public\\Page.html (Output file) and "
                 "site\\Page.html (Input file)\n"
                 "Copied site\\logo.png to public\\logo.png\n"
                 "Successfully opened public\\\u65e5\u672c\\\u0434\u043e"
                 "\u043c\\caf\u00e9.html (Output file) and site\\\u65e5"
                 "\u672c\\\u0434\u043e\u043c\\caf\u00e9.html (Input file)\n"
                 "Could not open public\\page.html\n"
                 "The output file would overwrite the output of "
                 "site\\Page.html\n and page.html (Input file)\n"));
  EXPECT_EQ(ReadFile("public/logo.png"), "\r\n\x1a\n");
  EXPECT_EQ(ReadFile(u8"public/\u65e5\u672c/\u0434\u043e\u043c/caf\u00e9.html"),
            Crlf("<html><body>\n<p>x</p>\n\n</body>\n"));
  EXPECT_EQ(ReadFile("public/Page.html"),
            Crlf("<html><body>\nA\n</body>\n"));
}

TEST_F(Windows, CtrlCWhileAPageIsWrittenLeavesNoTemporaryFile) {
  MakeSite();
  std::string big = "<head>\r\n</head>\r\n<body>\r\n";
  while (big.size() < (200 << 20)) big += "<p>a line of the page</p>\r\n";
  WriteFile("big.html", big);
  WriteFile("temb/big.html", "earlier\r\n");
  // Wine turns SIGINT into the console's Ctrl-C event. It is sent once the
  // temporary file has bytes in it.
  ProgramRun run = RunCommand(
      std::string("bash -c 'wine ") + TEMBRIX_WINDOWS_EXE +
          " t.html big.html & pid=$!; for i in $(seq 3000); do "
          "[ -s \"$(ls -d temb/.tembrix-* 2>/dev/null | head -n 1)\" ] && "
          "break; sleep 0.01; done; kill -INT $pid; wait $pid'",
      "", 300);
  // 0xC000013A, the status of a program ended by Ctrl-C, as its low byte.
  EXPECT_EQ(run.status, 0x3A);
  EXPECT_EQ(ReadFile("temb/big.html"), "earlier\r\n");
  for (const auto& entry : fs::directory_iterator("temb")) {
    EXPECT_NE(entry.path().filename().string().rfind(".tembrix-", 0), 0u)
        << "temporary file left: " << entry.path();
  }
}

TEST_F(Windows, TemporaryFilesOfEndedRunsAreRemoved) {
  MakeSite();
  // A process number no Windows process has, and the form of an earlier
  // version: the first goes with the next write into the folder.
  WriteFile("temb/.tembrix-0-4294967290-abcdef", "left");
  WriteFile("temb/.tembrix-abcdef", "left");
  ProgramRun run = RunCommand(
      std::string("wine ") + TEMBRIX_WINDOWS_EXE + " t.html in.html", "", 300);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile("temb/in.html"), kMerged);
  EXPECT_FALSE(Exists("temb/.tembrix-0-4294967290-abcdef"));
  EXPECT_TRUE(Exists("temb/.tembrix-abcdef"));
}

TEST_F(Windows, UnchangedOutputsAreLeftUntouched) {
  MakeSite();
  const std::string run =
      std::string("wine ") + TEMBRIX_WINDOWS_EXE + " t.html in.html";
  auto inode = [] {
    struct stat st;
    EXPECT_EQ(stat("temb/in.html", &st), 0);
    return st.st_ino;
  };
  ASSERT_EQ(RunCommand(run, "", 300).status, 0);
  ASSERT_EQ(ReadFile("temb/in.html"), kMerged);
  ino_t first = inode();
  EXPECT_EQ(RunCommand(run, "", 300).status, 0);
  EXPECT_EQ(inode(), first) << "an unchanged page is not replaced";
  // The same page with bare newlines is other bytes on the disk: replaced.
  std::string bare = kMerged;
  bare.erase(std::remove(bare.begin(), bare.end(), '\r'), bare.end());
  WriteFile("temb/in.html", bare);
  EXPECT_EQ(RunCommand(run, "", 300).status, 0);
  EXPECT_EQ(ReadFile("temb/in.html"), kMerged);
}

TEST_F(Windows, TabCompletesNamesInTheConsoleWindow) {
  MakeSite();
  fs::create_directories("pages");
  WriteFile("pages/abc.html", ReadFile("in.html"));
  WriteFile("pages.txt", "in.html\r\n");
  WriteFile("\xe6\x97\xa5\xe6\x9c\xac.html", ReadFile("in.html"));  // 日本.html
  // Wine gives a program in a terminal a console window of its own there.
  Terminal t({"wine", TEMBRIX_WINDOWS_EXE}, "xterm");
  ASSERT_TRUE(t.WaitFor("Quit (Q)", 120) && t.WaitForEditor());
  t.Type("a\r");
  ASSERT_TRUE(t.WaitFor("(or ! to quit to menu)"));
  t.Type("t.\t\r");
  ASSERT_TRUE(t.WaitFor("file to process"));
  t.Type("\xe6\x97\xa5\t\r");
  ASSERT_TRUE(t.WaitFor("Successfully opened temb\\\xe6\x97\xa5\xe6\x9c\xac"));
  ASSERT_TRUE(t.WaitFor("Quit (Q)"));
  // A folder part completes with its separator; "pages" fits two names,
  // and a second Tab lists them.
  t.Type("a\r");
  ASSERT_TRUE(t.WaitFor("(or ! to quit to menu)"));
  t.Type("t.html pages\t\t");
  ASSERT_TRUE(t.WaitFor("pages.txt"));
  t.Type("\\a\t\r");
  ASSERT_TRUE(t.WaitFor("Could not open temb\\pages\\abc.html"));
  ASSERT_TRUE(t.WaitFor("Quit (Q)"));
  t.Type("q\r");
  int status = t.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadFile("temb/\xe6\x97\xa5\xe6\x9c\xac.html"), kMerged);
}

}  // namespace
