#include "tests/scratch.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/console_capture.h"

namespace fs = std::filesystem;

const char* const kMenu =
    "Welcome to ZAVIK Tembrix\n"
    "Please choose an option: \n"
    "Apply a template to a single file (A)\n"
    "Apply a template to a list of files (L)\n"
    "Help (H)\n"
    "Quit (Q)\n";
const std::string kTemplatePrompt =
    "Please enter name of template file (or ! to quit to menu)\n";
const std::string kInputPrompt = "Please enter name of file to process\n";
const std::string kListTemplatePrompt = "Please enter name of template file\n";
const std::string kListPrompts =
    kListTemplatePrompt +
    "Please enter name of file (which contains list of file names) to "
    "process\n";
const std::string kNoFolder =
    "Please make sure you have a folder called temb in the current "
    "directory\n";

void ScratchTest::SetUp() {
  std::string pattern =
      (fs::temp_directory_path() / "tembrix-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
  previous_ = fs::current_path().string();
  fs::current_path(dir_);
  fs::create_directory("temb");
  // The records of site builds go beside the folder, not to the home.
  setenv("XDG_CACHE_HOME", (dir_ + ".cache").c_str(), 1);
}

void ScratchTest::TearDown() {
  fs::current_path(previous_);
  std::error_code ec;
  // Restore permissions that a test may have taken away, then remove all.
  for (auto it = fs::recursive_directory_iterator(dir_, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_symlink())
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add,
                      ec);
  }
  fs::remove_all(dir_, ec);
  fs::remove_all(dir_ + ".cache", ec);
}

void WriteFile(const std::string& name, const std::string& content) {
  std::ofstream out(name, std::ios::binary);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

bool Exists(const std::string& name) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(name, ec));
}

ProgramRun RunCommand(const std::string& command,
                      const std::string& consoleInput, int seconds) {
  WriteFile(".console-in", consoleInput);
  std::string line = "timeout " + std::to_string(seconds) + " " + command +
                     " < .console-in > .console-out 2> .console-err";
  int raw = std::system(line.c_str());
  ProgramRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadFile(".console-out");
  run.err = ReadFile(".console-err");
  fs::remove(".console-in");
  fs::remove(".console-out");
  fs::remove(".console-err");
  return run;
}

ProgramRun RunTembrix(const std::string& consoleInput) {
  ProgramRun run = RunCommand(TEMBRIX_EXE, consoleInput);
  // Only warnings of missing landmarks go to stderr from the menu.
  std::istringstream err(run.err);
  for (std::string line; std::getline(err, line);) {
    bool warning = line.find(": warning: ") != std::string::npos ||
                   line.find(": error: ") != std::string::npos;
    EXPECT_TRUE(warning &&
                (line.find(" found, so ") != std::string::npos ||
                 line.find(" never closed by '>', so ") != std::string::npos))
        << line;
  }
  return run;
}

std::string RunMenuWith(const std::string& consoleInput) {
  std::string out;
  EXPECT_EQ(RunMenuOn(consoleInput, &out), 0);
  return out;
}
