// Helpers for tests that touch the disk or run the program.
#ifndef TESTS_SCRATCH_H_
#define TESTS_SCRATCH_H_

#include <gtest/gtest.h>

#include <string>

// These tests do real disk accesses, so each one runs in a fresh scratch
// folder holding an empty temb/, entered for the test and removed after it.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string dir_;
  std::string previous_;
};

void WriteFile(const std::string& name, const std::string& content);
std::string ReadFile(const std::string& name);
bool Exists(const std::string& name);

// What the program printed and the status it exited with.
struct ProgramRun {
  std::string out;
  std::string err;
  int status = -1;
};

// Runs `command` in the current folder with `consoleInput` piped to its
// standard input and gives what it printed on standard output. A run that
// hangs is killed after `seconds` and shows a status of its own.
ProgramRun RunCommand(const std::string& command,
                      const std::string& consoleInput, int seconds = 60);

// Runs the built program so, and checks that it wrote nothing to stderr.
ProgramRun RunTembrix(const std::string& consoleInput);

// Runs the menu loop in this process with the console swapped for strings.
std::string RunMenuWith(const std::string& consoleInput);

// Console texts the tests expect: the six menu lines, the prompts of the
// single-file command and of the list command, and the line that asks for
// the output folder.
extern const char* const kMenu;
extern const std::string kTemplatePrompt;
extern const std::string kInputPrompt;
extern const std::string kListTemplatePrompt;
extern const std::string kListPrompts;
extern const std::string kNoFolder;

#endif  // TESTS_SCRATCH_H_
