// The console input on POSIX systems with the line-editing library: lines
// typed at a terminal are edited, completed and recalled; any other input
// is read as it is.
#include "console/console_input.h"

#include <dirent.h>
#include <histedit.h>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iostream>
#include <string>
#include <vector>

#include "console/completion.h"
#include "platform/system.h"

namespace {

// True when the terminal database describes `term`, so that the editor
// knows how to move about the screen: looked up where the database is kept.
bool TerminalTypeKnown(const std::string& term) {
  if (term.empty() || term == "dumb" || term.find('/') != std::string::npos) {
    return false;
  }
  std::vector<std::string> folders;
  if (const char* own = std::getenv("TERMINFO")) folders.push_back(own);
  if (const char* home = std::getenv("HOME")) {
    folders.push_back(std::string(home) + "/.terminfo");
  }
  if (const char* dirs = std::getenv("TERMINFO_DIRS")) {
    std::string list = dirs;
    for (std::size_t start = 0, end; start <= list.size(); start = end + 1) {
      end = std::min(list.find(':', start), list.size());
      folders.push_back(list.substr(start, end - start));
    }
  }
  for (const char* system : {"/etc/terminfo", "/lib/terminfo",
                             "/usr/share/terminfo", "/usr/lib/terminfo"}) {
    folders.push_back(system);
  }
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(term[0]));
  for (const std::string& folder : folders) {
    for (const std::string& first :
         {std::string(1, term[0]), std::string(hex)}) {
      if (access((folder + "/" + first + "/" + term).c_str(), R_OK) == 0) {
        return true;
      }
    }
  }
  return false;
}

// Lines are edited only where both ends are a terminal the library can
// drive: a pipe, a file or a terminal of unknown type is read as it is.
bool WantsLineEditor() {
  const char* term = std::getenv("TERM");
  return isatty(STDIN_FILENO) && isatty(STDOUT_FILENO) && term != nullptr &&
         TerminalTypeKnown(term);
}

std::vector<FolderEntry> ListFolder(const std::string& folder) {
  std::vector<FolderEntry> entries;
  std::string path = folder.empty() ? "." : folder;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return entries;
  while (const dirent* d = readdir(dir)) {
    FolderEntry entry;
    entry.name = d->d_name;
    struct stat st;
    entry.isFolder =
        stat((folder + entry.name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    entries.push_back(entry);
  }
  closedir(dir);
  return entries;
}

int TerminalWidth() {
  struct winsize size;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    return size.ws_col;
  }
  return 80;
}

// Where the last Tab that added nothing was pressed, so that a second one
// there lists the names.
std::string lastBareTab;

// Tab: completes the word before the cursor as a file or folder name.
unsigned char CompleteFileName(EditLine* editor, int) {
  const LineInfo* info = el_line(editor);
  std::string before(info->buffer, info->cursor);
  std::string word = before.substr(WordStart(before, before.size()));
  Completion completion = CompleteName(word, ListFolder(FolderOf(word)), '/');
  if (!completion.insert.empty()) {
    lastBareTab.clear();
    el_insertstr(editor, completion.insert.c_str());
    return CC_REFRESH;
  }
  std::string here = std::string(info->buffer, info->lastchar) + '\0' + before;
  if (completion.candidates.size() < 2 || here != lastBareTab) {
    lastBareTab = here;
    return CC_REFRESH_BEEP;
  }
  std::string list =
      "\n" + CandidateColumns(completion.candidates,
                              static_cast<std::size_t>(TerminalWidth()));
  std::fwrite(list.data(), 1, list.size(), stdout);
  std::fflush(stdout);
  return CC_REDISPLAY;
}

// Ctrl-D: on an empty line the end of the console input, quietly, as a
// terminal without an editor has it; elsewhere it deletes the character
// under the cursor.
unsigned char EndOrDelete(EditLine* editor, int) {
  const LineInfo* info = el_line(editor);
  if (info->buffer == info->lastchar) return CC_EOF;
  if (info->cursor == info->lastchar) return CC_ERROR;
  el_cursor(editor, 1);
  el_deletestr(editor, 1);
  return CC_REFRESH;
}

const char* NoPrompt(EditLine*) { return ""; }

// While a line is edited the terminal is in the editor's mode. A signal
// that stops the program there puts the terminal back as it was, then
// goes on as it would have: to the program's own handler, or the default.
// (The library's own signal handling would also signal every process of
// the group, a script that runs this program included.)
EditLine* editing = nullptr;
struct termios terminalBefore;
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kStopCount = sizeof kStopSignals / sizeof kStopSignals[0];
struct sigaction previous[kStopCount];

void PutTerminalBackAndStop(int sig) {
  // What was typed ahead must not reach the next reader of the terminal
  // (a shell would run it) when the program is ended from outside.
  if (sig == SIGTERM || sig == SIGHUP) tcflush(STDIN_FILENO, TCIFLUSH);
  tcsetattr(STDIN_FILENO, TCSANOW, &terminalBefore);
  for (int i = 0; i < kStopCount; ++i) {
    if (kStopSignals[i] == sig) sigaction(sig, &previous[i], nullptr);
  }
  raise(sig);  // delivered as this handler returns
}

// `restart`: the editor's read goes on after the handler returns; else it
// is interrupted, for the read loop to see what the handler noted.
void InstallHandler(int sig, void (*handler)(int), struct sigaction* was,
                    bool restart = true) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = handler;
  action.sa_flags = restart ? SA_RESTART : 0;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, was);
}

// Ctrl-Z at a prompt: the terminal goes back to the shell as it was, and
// the editor takes it again when the program is continued.
void SuspendAtPrompt(int) {
  tcsetattr(STDIN_FILENO, TCSANOW, &terminalBefore);
  std::signal(SIGTSTP, SIG_DFL);
  raise(SIGTSTP);
}

// The editor is told of these in the read loop (ReadCharacter): a handler
// may only note them.
volatile std::sig_atomic_t continued = 0;
volatile std::sig_atomic_t resized = 0;

void ContinueAtPrompt(int) {
  InstallHandler(SIGTSTP, SuspendAtPrompt, nullptr, false);
  continued = 1;
}

void ResizeAtPrompt(int) { resized = 1; }

// The editor's reading of one character from the terminal: a byte at a
// time, decoded as the locale says, telling the editor between reads what
// the signal handlers noted.
int ReadCharacter(EditLine* editor, wchar_t* out) {
  static std::mbstate_t state;
  for (;;) {
    if (continued) {
      continued = 0;
      // The editor still takes the terminal for its own: it is told that
      // it is not, then takes it again.
      el_set(editor, EL_PREP_TERM, 0);
      el_set(editor, EL_PREP_TERM, 1);
      el_set(editor, EL_REFRESH);
    }
    if (resized) {
      resized = 0;
      el_resize(editor);
    }
    char byte;
    ssize_t got = read(STDIN_FILENO, &byte, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return static_cast<int>(got);
    std::size_t used = std::mbrtowc(out, &byte, 1, &state);
    if (used == static_cast<std::size_t>(-2)) continue;  // more bytes to come
    if (used == static_cast<std::size_t>(-1)) {
      // Not a character of the locale: the byte stands for itself.
      state = std::mbstate_t();
      *out = static_cast<unsigned char>(byte);
    }
    return 1;
  }
}

// The signal handlers of a prompt, for as long as a line is read.
class SignalsAtPrompt {
 public:
  explicit SignalsAtPrompt(EditLine* editor) {
    editing = editor;
    tcgetattr(STDIN_FILENO, &terminalBefore);
    for (int i = 0; i < kStopCount; ++i) {
      InstallHandler(kStopSignals[i], PutTerminalBackAndStop, &previous[i]);
      // A signal ignored when the program started stays ignored.
      if (previous[i].sa_handler == SIG_IGN) {
        sigaction(kStopSignals[i], &previous[i], nullptr);
      }
    }
    // The read that a stop interrupts comes back, so that the editor takes
    // the terminal again at once when the program is continued.
    InstallHandler(SIGTSTP, SuspendAtPrompt, &tstp_, false);
    InstallHandler(SIGCONT, ContinueAtPrompt, &cont_, false);
    InstallHandler(SIGWINCH, ResizeAtPrompt, &winch_, false);
  }
  ~SignalsAtPrompt() {
    for (int i = 0; i < kStopCount; ++i)
      sigaction(kStopSignals[i], &previous[i], nullptr);
    sigaction(SIGTSTP, &tstp_, nullptr);
    sigaction(SIGCONT, &cont_, nullptr);
    sigaction(SIGWINCH, &winch_, nullptr);
  }
  SignalsAtPrompt(const SignalsAtPrompt&) = delete;
  SignalsAtPrompt& operator=(const SignalsAtPrompt&) = delete;

 private:
  struct sigaction tstp_, cont_, winch_;
};

// Lines from the line editor, each handed on with its newline.
class EditedLines : public std::streambuf {
 public:
  EditedLines() {
    // Multi-byte characters are edited as characters: the character type
    // comes from the environment, and nothing else does.
    std::setlocale(LC_CTYPE, "");
    // The plain C locale would drop every byte above 0x7F; a terminal there
    // most likely sends UTF-8, as names are typed.
    if (std::strcmp(nl_langinfo(CODESET), "ANSI_X3.4-1968") == 0) {
      std::setlocale(LC_CTYPE, "C.UTF-8");
    }
    history_ = history_init();
    HistEvent event;
    history(history_, &event, H_SETSIZE, 1000);
    history(history_, &event, H_SETUNIQUE, 1);
    editor_ = el_init("tembrix", stdin, stdout, stderr);
    el_set(editor_, EL_EDITOR, "emacs");
    el_set(editor_, EL_PROMPT, NoPrompt);
    el_set(editor_, EL_HIST, history, history_);
    el_set(editor_, EL_GETCFN, ReadCharacter);
    // Functions are named in wide characters: the library keeps these
    // names as they are, where it would copy narrow ones and never free them.
    el_wset(editor_, EL_ADDFN, L"tembrix-complete", L"Complete a file name",
            CompleteFileName);
    el_set(editor_, EL_BIND, "^I", "tembrix-complete", nullptr);
    el_wset(editor_, EL_ADDFN, L"tembrix-end-or-delete",
            L"End the input on an empty line, else delete a character",
            EndOrDelete);
    el_set(editor_, EL_BIND, "^D", "tembrix-end-or-delete", nullptr);
  }
  ~EditedLines() override {
    el_end(editor_);
    history_end(history_);
  }

 protected:
  int_type underflow() override {
    if (ended_) return traits_type::eof();
    int count = 0;
    const char* line;
    {
      SignalsAtPrompt signals(editor_);
      line = el_gets(editor_, &count);
    }
    if (line == nullptr || count <= 0) {
      ended_ = true;
      return traits_type::eof();
    }
    line_.assign(line, static_cast<std::size_t>(count));
    if (line_.back() != '\n') line_ += '\n';
    if (line_.size() > 1) {
      HistEvent event;
      history(history_, &event, H_ENTER,
              line_.substr(0, line_.size() - 1).c_str());
    }
    setg(line_.data(), line_.data(), line_.data() + line_.size());
    return traits_type::to_int_type(line_[0]);
  }

 private:
  EditLine* editor_ = nullptr;
  History* history_ = nullptr;
  std::string line_;
  bool ended_ = false;
};

}  // namespace

std::streambuf* ConsoleInput() {
  if (!WantsLineEditor()) return std::cin.rdbuf();
  static EditedLines lines;
  return &lines;
}
