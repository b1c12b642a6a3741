// A program run in a pseudo-terminal of its own, for tests that type keys
// and read the screen as a person at a terminal would.
#ifndef TESTS_TERMINAL_H_
#define TESTS_TERMINAL_H_

#include <sys/types.h>
#include <termios.h>

#include <string>
#include <vector>

class Terminal {
 public:
  // Starts `command` in the current folder with TERM set to `term` and a
  // UTF-8 locale, the stop signals at their defaults.
  Terminal(const std::vector<std::string>& command, const char* term);
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  void Type(const std::string& keys);

  // Reads the screen until `text` has appeared after what was seen before;
  // false, with a test failure, after `seconds` without it.
  bool WaitFor(const std::string& text, int seconds = 10);

  // Waits until a line editor has the terminal (its line mode off), so that
  // what is typed next reaches the editor, not the terminal's own line mode
  // in the moment between two lines.
  bool WaitForEditor();

  // Waits for the program to end, ten seconds at most; gives its wait
  // status.
  int Wait();

  // True when the terminal's settings are those it had at the start.
  bool SettingsAsBefore();

  // How many bytes typed are still waiting for a reader of the terminal.
  int TypedAhead();

  pid_t pid() const { return pid_; }
  const std::string& screen() const { return screen_; }

 private:
  bool ReadSome();

  int master_ = -1;
  pid_t pid_ = -1;
  struct termios before_;
  std::string screen_;
  std::size_t seen_ = 0;
};

#endif  // TESTS_TERMINAL_H_
