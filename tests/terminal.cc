#include "tests/terminal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

Terminal::Terminal(const std::vector<std::string>& command, const char* term) {
  pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
  if (pid_ == 0) {
    // As a terminal session starts it, whatever the tests were started with.
    for (int sig : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
    setenv("TERM", term, 1);
    setenv("LANG", "C.UTF-8", 1);
    std::vector<char*> argv;
    for (const std::string& arg : command) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  tcgetattr(master_, &before_);
}

Terminal::~Terminal() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  close(master_);
}

void Terminal::Type(const std::string& keys) {
  ASSERT_EQ(write(master_, keys.data(), keys.size()),
            static_cast<ssize_t>(keys.size()));
}

bool Terminal::WaitFor(const std::string& text, int seconds) {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (screen_.find(text, seen_) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline || !ReadSome()) {
      ADD_FAILURE() << "never saw: " << text << "\nscreen:\n" << screen_;
      return false;
    }
  }
  seen_ = screen_.find(text, seen_) + text.size();
  return true;
}

bool Terminal::WaitForEditor() {
  for (int tries = 0; tries < 1000; ++tries) {
    struct termios now;
    tcgetattr(master_, &now);
    if ((now.c_lflag & ICANON) == 0) return true;
    usleep(10000);
  }
  ADD_FAILURE() << "the editor never took the terminal";
  return false;
}

int Terminal::Wait() {
  for (int tries = 0; tries < 50 && ReadSome(); ++tries) {
  }
  int status = 0;
  for (int tries = 0; tries < 1000; ++tries) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return status;
    }
    usleep(10000);
  }
  ADD_FAILURE() << "the program did not end; screen:\n" << screen_;
  return status;
}

bool Terminal::SettingsAsBefore() {
  struct termios now;
  tcgetattr(master_, &now);
  return now.c_lflag == before_.c_lflag && now.c_iflag == before_.c_iflag &&
         now.c_oflag == before_.c_oflag &&
         std::memcmp(now.c_cc, before_.c_cc, sizeof now.c_cc) == 0;
}

// Reads what the screen shows next; false once the program has gone.
bool Terminal::ReadSome() {
  pollfd p = {master_, POLLIN, 0};
  if (poll(&p, 1, 200) < 0) return false;
  if ((p.revents & POLLIN) == 0) return (p.revents & POLLHUP) == 0;
  char data[4096];
  ssize_t got = read(master_, data, sizeof data);
  if (got <= 0) return false;
  screen_.append(data, static_cast<std::size_t>(got));
  return true;
}

int Terminal::TypedAhead() {
  int fd = open(ptsname(master_), O_RDWR | O_NOCTTY);
  int waiting = -1;
  if (fd >= 0 && ioctl(fd, FIONREAD, &waiting) != 0) waiting = -1;
  if (fd >= 0) close(fd);
  return waiting;
}
