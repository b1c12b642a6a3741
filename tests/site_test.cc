// Building a whole site with --out: output names, folder walks, copies,
// reruns that touch nothing, --delete and --check, run by the real program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

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
  ProgramRun one = Tembrix("--layout -j 1 --out one t.html site");
  ProgramRun many = Tembrix("--layout -j 4 --out many t.html site");
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(many.status, 0);
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
    EXPECT_EQ(ReadFile("many/" + rel), ReadFile(entry.path().string())) << rel;
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
