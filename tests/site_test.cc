// Building a whole site with --out: output names, folder walks, copies,
// reruns that touch nothing, --delete and --check, run by the real program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "site/build_record.h"
#include "tests/scratch.h"
#include "tests/terminal.h"

namespace fs = std::filesystem;

namespace {

const char kTemplate[] =
    "<html><head><link href=s.css></head><body>[####]</body></html>";

ProgramRun Tembrix(const std::string& args) {
  return RunCommand(std::string(TEMBRIX_EXE) + " " + args, "");
}

std::string Opened(const std::string& output, const std::string& input) {
  return "Successfully opened " + output + " (Output file) and " + input +
         " (Input file)\n";
}

// A site: two pages, one in a folder, an asset, a dot file and folder, the
// template and a link to a folder and to a file.
void MakeSite() {
  fs::create_directories("site/blog/2024");
  fs::create_directories("site/.git");
  WriteFile("site/t.html", kTemplate);
  WriteFile("site/index.HTM", "<title>I</title>Home");
  WriteFile("site/blog/2024/first-post-with-a-long-name.html", "Post");
  WriteFile("site/s.css", "p{}\r\n");
  WriteFile("site/.htaccess", "x");
  WriteFile("site/.git/config", "x");
  fs::create_directory_symlink("blog", "site/loop");
  fs::create_symlink("s.css", "site/a-link.css");
}

class Site : public ScratchTest {};

TEST_F(Site, NamesLeadToFullOutputNames) {
  WriteFile("t.html", kTemplate);
  fs::create_directories("a/b");
  for (const char* name :
       {"a/b/c.html", "a/p.html", "p.html", "privacy-policy-and-cookies.html",
        "caf\xc3\xa9.html"}) {
    WriteFile(name, "x");
  }
  struct Case {
    std::string name, output;
    bool inside;
  };
  const std::string here = fs::current_path().filename().string();
  const Case cases[] = {
      {"./p.html", "public/p.html", true},
      {"a//b/c.html", "public/a/b/c.html", true},
      {"a/b/../p.html", "public/a/p.html", true},
      {"privacy-policy-and-cookies.html",
       "public/privacy-policy-and-cookies.html", true},
      {"caf\xc3\xa9.html", "public/caf\xc3\xa9.html", true},
      {"../" + here + "/p.html", "public/../" + here + "/p.html", false},
      {fs::absolute("p.html").string(),
       "public/" + fs::absolute("p.html").string(), false},
  };
  for (const Case& c : cases) {
    ProgramRun run = Tembrix("--html --out public t.html '" + c.name + "'");
    if (c.inside) {
      EXPECT_EQ(run.status, 0) << c.name;
      EXPECT_EQ(run.out, Opened(c.output, c.name)) << c.name;
      EXPECT_EQ(ReadFile(c.output), "<html><body>[x]</body></html>") << c.name;
    } else {
      EXPECT_EQ(run.status, 1) << c.name;
      EXPECT_EQ(run.out, "Could not open " + c.output +
                             "\nThe output file would be outside the folder "
                             "public\n and " +
                             c.name + " (Input file)\n")
          << c.name;
    }
  }
  // Two inputs, one output: the later one is refused, naming both; one
  // file under two names is one input.
  ProgramRun twice = Tembrix(
      "--html --out public t.html p.html ./a/../p.html public/../p.html");
  EXPECT_EQ(twice.status, 0);
  fs::create_directories("x");
  WriteFile("x/p.html", "y");
  ProgramRun clash = Tembrix("--html --out public t.html p.html x");
  EXPECT_EQ(clash.status, 1);
  EXPECT_EQ(clash.out, Opened("public/p.html", "p.html") +
                           "Could not open public/p.html\nThe output file "
                           "would overwrite the output of p.html\n and "
                           "x/p.html (Input file)\n");
  EXPECT_EQ(ReadFile("public/p.html"), "<html><body>[x]</body></html>");
}

TEST_F(Site, FolderIsBuiltWholeAndRebuiltTouchingNothing) {
  MakeSite();
  ProgramRun run = Tembrix("--layout --out site/public site/t.html site");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "Copied site/a-link.css to site/public/a-link.css\n" +
                Opened("site/public/blog/2024/first-post-with-a-long-name.html",
                       "site/blog/2024/first-post-with-a-long-name.html") +
                Opened("site/public/index.HTM", "site/index.HTM") +
                "Copied site/s.css to site/public/s.css\n");
  EXPECT_EQ(ReadFile("site/public/blog/2024/first-post-with-a-long-name.html"),
            "<html><head><link href=../../s.css></head><body>[Post]</body>"
            "</html>");
  EXPECT_EQ(ReadFile("site/public/index.HTM"),
            "<html><head><link href=s.css><title>I</title></head><body>[Home]"
            "</body></html>");
  EXPECT_EQ(ReadFile("site/public/s.css"), "p{}\r\n");
  EXPECT_FALSE(fs::exists("site/public/.htaccess"));
  EXPECT_FALSE(fs::exists("site/public/loop"));
  EXPECT_FALSE(fs::exists("site/public/t.html"));
  // Again, quietly: nothing is written, the outputs keep their inodes and
  // times, and the output folder inside the site is not walked.
  struct stat before, after;
  ASSERT_EQ(stat("site/public/s.css", &before), 0);
  ASSERT_EQ(stat("site/public/index.HTM", &after), 0);
  ino_t pageInode = after.st_ino;
  sleep(1);
  ProgramRun again = Tembrix("-q --layout --out site/public site/t.html site");
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, "");
  ASSERT_EQ(stat("site/public/s.css", &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtime, before.st_mtime);
  ASSERT_EQ(stat("site/public/index.HTM", &after), 0);
  EXPECT_EQ(after.st_ino, pageInode);
  EXPECT_FALSE(fs::exists("site/public/public"));
}

TEST(BuildRecord, ReadsBackWhatItWroteAndNothingDamaged) {
  FileState in, out;
  in.id = {2049, 77, true};
  in.size = 12;
  in.modified = -5;
  in.changed = 1796990000123456789;
  in.known = out.known = true;
  out.id = {2049, 78, true};
  const std::string odd = std::string("a b:1 \n\0z", 10);
  const std::string oddKey = "/b/" + odd;  // entries hold views of names
  std::vector<RecordEntry> entries = {
      {"/a.html", "site/a.html", 0, true, in, out},
      {oddKey, odd, 1, false, out, in}};
  const std::string header = "tembrix-record 1 x 0 1 0 4:/out ";
  const std::string text = RecordText(header, entries);
  std::vector<RecordEntry> read;
  ASSERT_TRUE(ParseRecord(text, header, &read));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[1].key, entries[1].key);
  EXPECT_EQ(read[1].input, odd);
  EXPECT_EQ(read[1].depth, 1);
  EXPECT_FALSE(read[1].page);
  EXPECT_TRUE(SameState(read[0].in, in) && SameState(read[0].out, out));
  // A record cut short anywhere, of another header, out of order, or with a
  // wrong count is not taken.
  for (std::size_t size = 0; size < text.size(); ++size) {
    EXPECT_FALSE(ParseRecord(text.substr(0, size), header, &read)) << size;
    EXPECT_TRUE(read.empty());
  }
  EXPECT_FALSE(ParseRecord(text, "tembrix-record 1 y 0 1 0 4:/out ", &read));
  std::swap(entries[0], entries[1]);
  EXPECT_FALSE(ParseRecord(RecordText(header, entries), header, &read));
  std::string counted = text;
  counted[counted.size() - 2] = '3';
  EXPECT_FALSE(ParseRecord(counted, header, &read));
  // Numbers of more than 20 characters are refused; those beyond 64 bits
  // are read without overflow, and simply match no file.
  std::string huge = text;
  huge.replace(huge.find(" -5 "), 4, " -99999999999999999999 ");
  EXPECT_FALSE(ParseRecord(huge, header, &read));
  huge = text;
  huge.replace(huge.find(" -5 "), 4, " -9223372036854775808 ");
  EXPECT_TRUE(ParseRecord(huge, header, &read));
  huge.replace(huge.find(" 12 "), 4, " 99999999999999999999 ");
  EXPECT_TRUE(ParseRecord(huge, header, &read));
}

// Every regular file below `folder`, by its path below it, with its bytes.
std::string TreeOf(const std::string& folder) {
  std::string tree;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    tree += entry.path().string().substr(folder.size()) + "\n" +
            ReadFile(entry.path().string()) + "\n";
  }
  return tree;
}

// Replaces a file's bytes with as many others, its time of change kept.
void ChangeKeepingTime(const std::string& name, const std::string& bytes) {
  auto time = fs::last_write_time(name);
  WriteFile(name, bytes);
  fs::last_write_time(name, time);
}

TEST_F(Site, RerunPassesOverWhatTheRecordHoldsAndRedoesWhatChanged) {
  MakeSite();
  WriteFile("t.html", kTemplate);
  const std::string build = " --layout --out public t.html site";
  ProgramRun first = Tembrix(build);
  ASSERT_EQ(first.status, 0) << first.err;
  // Only files unchanged for a few seconds are recorded.
  sleep(4);
  EXPECT_EQ(Tembrix(build).out, first.out);  // compares all, makes the record
  // Passed over: neither the post nor its output is opened, so a fault on
  // opening them is never met, and the run says what it said before.
  ProgramRun passed =
      RunCommand(std::string("env LD_PRELOAD=") + TEMBRIX_FAULT_SHIM +
                     " ASAN_OPTIONS=verify_asan_link_order=0 "
                     "FAULT_CALL=open FAULT_PATH=first-post " +
                     TEMBRIX_EXE + build,
                 "");
  EXPECT_EQ(passed.status, 0) << passed.err;
  EXPECT_EQ(passed.out, first.out);
  // What changed without a change of size or time is redone all the same:
  // an input, an asset, an output, the template, and the mode.
  ChangeKeepingTime("site/index.HTM", "<title>J</title>Hone");
  ChangeKeepingTime("site/s.css", "q{}\r\n");
  ChangeKeepingTime("public/blog/2024/first-post-with-a-long-name.html",
                    std::string(ReadFile("public/blog/2024/first-post-with-a-"
                                         "long-name.html")
                                    .size(),
                                'x'));
  for (const std::string mode : {"--layout", "--layout", "--html"}) {
    if (mode == "--html") {
      ChangeKeepingTime("t.html",
                        "<html><head></head><body>(####)</body></html>");
    }
    ProgramRun again = Tembrix(" " + mode + " --out public t.html site");
    fs::remove_all("fresh");
    ProgramRun fresh = Tembrix(" " + mode + " --out fresh t.html site");
    EXPECT_EQ(again.status, 0) << mode;
    EXPECT_EQ(TreeOf("public"), TreeOf("fresh")) << mode;
  }
  // A damaged record only costs the comparison.
  for (const auto& entry : fs::directory_iterator(
           std::string(getenv("XDG_CACHE_HOME")) + "/tembrix")) {
    WriteFile(entry.path().string(), "tembrix-record 1 garbage\n");
  }
  ChangeKeepingTime("site/index.HTM", "<title>K</title>Home");
  EXPECT_EQ(Tembrix(" --html --out public t.html site").status, 0);
  fs::remove_all("fresh");
  Tembrix(" --html --out fresh t.html site");
  EXPECT_EQ(TreeOf("public"), TreeOf("fresh"));
}

TEST_F(Site, DeleteRemovesWhatNoInputLeadsTo) {
  MakeSite();
  ASSERT_EQ(Tembrix("--html --out public site/t.html site").status, 0);
  fs::remove("site/s.css");
  fs::remove("site/a-link.css");
  fs::create_directories("public/old/deeper");
  WriteFile("public/old/deeper/x.html", "x");
  WriteFile("public/.keep", "x");
  const std::string removals =
      "public/a-link.css\npublic/old/deeper/x.html\npublic/old/deeper\n"
      "public/old\npublic/s.css\n";
  ProgramRun check =
      Tembrix("--check --html --delete --out public site/t.html site");
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.out, "");
  auto each = [&removals](const std::string& head) {
    std::string lines;
    for (std::size_t at = 0; at < removals.size();) {
      std::size_t end = removals.find('\n', at);
      lines += head + removals.substr(at, end + 1 - at);
      at = end + 1;
    }
    return lines;
  };
  EXPECT_EQ(check.err, each("tembrix: Would remove "));
  EXPECT_TRUE(fs::exists("public/s.css"));
  ProgramRun run = Tembrix("-q --html --delete --out public site/t.html site");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, each("Removed "));
  EXPECT_TRUE(fs::exists("public/.keep"));
  EXPECT_TRUE(fs::exists("public/index.HTM"));
  // Refused: without a folder, without --out, over the current folder, or
  // where it would remove the template or the site.
  WriteFile("public/t.html", kTemplate);
  for (const char* args :
       {"--delete --out public site/t.html site/index.HTM",
        "--delete site/t.html site", "--delete --out . site/t.html site",
        "--delete --out site site/t.html site/blog",
        "--delete --out public public/t.html site"}) {
    ProgramRun refused = Tembrix(args);
    EXPECT_EQ(refused.status, 2) << args;
    EXPECT_EQ(refused.out, "") << args;
  }
  EXPECT_TRUE(fs::exists("public/index.HTM"));
  // A page named that cannot be read still leads to its output, which stays.
  fs::remove("public/t.html");
  WriteFile("public/gone.html", "x");
  ProgramRun unread =
      Tembrix("-q --html --delete --out public site/t.html site gone.html");
  EXPECT_EQ(unread.status, 1);
  EXPECT_EQ(unread.out, "Could not open gone.html\n");
  EXPECT_TRUE(fs::exists("public/gone.html"));
  EXPECT_TRUE(fs::exists("public/index.HTM"));
}

TEST_F(Site, CheckSaysWhatTheBuildWouldDoWithoutWriting) {
  MakeSite();
  WriteFile("public", "a file where the folder must be");
  WriteFile("p.html", "x");
  ProgramRun run = Tembrix("--check --html --out public site/t.html p.html");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "tembrix: Could not open public/p.html\n"
            "tembrix: public/p.html: Not a directory\n"
            "tembrix: The folder public could not be made: Not a directory\n");
  EXPECT_EQ(ReadFile("public"), "a file where the folder must be");
  fs::remove("public");
  ProgramRun fine =
      Tembrix("--check --html --out public site/t.html p.html site");
  EXPECT_EQ(fine.status, 0) << fine.err;
  EXPECT_EQ(fine.out + fine.err, "");
  EXPECT_FALSE(fs::exists("public"));
}

// A site of 120 pages (some cut short, so warned of) and 30 other files.
void MakeBigSite() {
  for (int i = 0; i < 150; ++i) {
    std::string folder = "site/f" + std::to_string(i % 6);
    fs::create_directories(folder);
    std::string n = std::to_string(1000 + i);
    if (i % 5 == 0) {
      WriteFile(folder + "/a" + n + ".png", std::string(i * 37, 'x'));
    } else {
      WriteFile(folder + "/p" + n + ".html",
                "<title>" + n + "</title>" + std::string(i * 50, 'y') +
                    (i % 7 == 0 ? "<a title='x" : ""));
    }
  }
  WriteFile("t.html", kTemplate);
}

TEST_F(Site, WorkersSayAndWriteWhatOneWorkerDoes) {
  MakeBigSite();
  // The site's first file is a copy; the second template is warned of once.
  WriteFile("w.html", "<head>\n</head>\n<body>\n</body>\n");
  for (const char* mode : {"--layout", "--no-sync"}) {
    const std::string templ = mode[2] == 'l' ? " t.html" : " w.html";
    fs::remove_all("one");
    fs::remove_all("many");
    ProgramRun one =
        Tembrix(mode + std::string(" -j 1 --out one") + templ + " site");
    ProgramRun many =
        Tembrix(mode + std::string(" -j 4 --out many") + templ + " site");
    EXPECT_EQ(one.status, mode[2] == 'l' ? 0 : 1);  // pages without a head
    EXPECT_EQ(many.status, one.status);
    auto as = [](std::string text, const std::string& folder) {
      for (std::size_t at = text.find(folder + "/"); at != std::string::npos;
           at = text.find(folder + "/", at)) {
        text.replace(at, folder.size(), "OUT");
      }
      return text;
    };
    EXPECT_EQ(as(one.out, "one"), as(many.out, "many"));
    EXPECT_EQ(as(one.err, "one"), as(many.err, "many"));
    EXPECT_NE(one.err.find("with warnings"), std::string::npos);
    for (const auto& entry : fs::recursive_directory_iterator("one")) {
      if (!entry.is_regular_file()) continue;
      std::string rel = entry.path().string().substr(4);
      EXPECT_EQ(ReadFile("many/" + rel), ReadFile(entry.path().string()))
          << rel;
    }
  }
}

TEST_F(Site, ProgressOfALongBuildShowsOnATerminal) {
  MakeBigSite();
  Terminal terminal({TEMBRIX_EXE, "-q", "-j", "2", "--html", "--out", "out",
                     "t.html", "site"},
                    "xterm");
  EXPECT_TRUE(terminal.WaitFor("/150 site"));
  int status = terminal.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(fs::exists("out/f5/p1149.html"));
}

TEST_F(Site, ThreadsThatCannotStartLeaveTheirWorkToTheOthers) {
  MakeBigSite();
  const std::string build = " -j 3 --layout --out out t.html site";
  ProgramRun plain = Tembrix(build);
  const std::string tree = TreeOf("out");
  for (int first = 1; first <= 6; ++first) {
    fs::remove_all("out");
    ProgramRun run = RunCommand(
        std::string("env LD_PRELOAD=") + TEMBRIX_FAULT_SHIM +
            " ASAN_OPTIONS=verify_asan_link_order=0 FAULT_CALL=pthread_create "
            "FAULT_AFTER=" +
            std::to_string(first) + " " + TEMBRIX_EXE + build,
        "");
    EXPECT_EQ(run.status, plain.status) << first;
    EXPECT_EQ(run.out, plain.out) << first;
    EXPECT_EQ(run.err, plain.err) << first;
    EXPECT_EQ(TreeOf("out"), tree) << first;
  }
}

TEST_F(Site, FaultsInAWorkerFailOnlyTheirFile) {
  MakeBigSite();
  const struct {
    std::string fault, file;
  } cases[] = {
      {"FAULT_CALL=read FAULT_PATH=p1007.html", "f1/p1007.html"},
      {"FAULT_CALL=write FAULT_PATH=.tembrix- FAULT_AFTER=3000 FAULT_ERRNO=" +
           std::to_string(ENOSPC),
       ""},
  };
  for (const auto& c : cases) {
    fs::remove_all("out");
    ProgramRun run = RunCommand(
        std::string("env LD_PRELOAD=") + TEMBRIX_FAULT_SHIM +
            " ASAN_OPTIONS=verify_asan_link_order=0 " + c.fault + " " +
            TEMBRIX_EXE + " -q -j 2 --layout --out out t.html site",
        "");
    EXPECT_EQ(run.status, 1) << c.fault;
    EXPECT_NE(run.out.find("Could not "), std::string::npos) << c.fault;
    // Every other file of the site is there, whole.
    int missing = 0;
    for (const auto& entry : fs::recursive_directory_iterator("site")) {
      if (!entry.is_regular_file()) continue;
      std::string rel = entry.path().string().substr(5);
      missing += !fs::exists("out/" + rel);
    }
    EXPECT_EQ(missing, 1) << c.fault;
    if (!c.file.empty()) {
      EXPECT_FALSE(fs::exists("out/" + c.file));
    }
    EXPECT_TRUE(ReadFile("out/f1/a1145.png") == std::string(145 * 37, 'x'));
  }
}

}  // namespace
