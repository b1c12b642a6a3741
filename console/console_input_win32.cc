// The console input on Windows. A console window is read in its own line
// mode, which already edits the line and recalls earlier ones; Tab wakes
// the read so that a file name can be completed, and the line goes on from
// there. A console window's characters reach the program as UTF-8. Piped
// or redirected input is read as it is.
#include "console/console_input.h"

#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include "console/completion.h"
#include "platform/system.h"
#include "platform/wide_win32.h"

namespace {

// Enough for any line typed: a longer one arrives in pieces.
constexpr DWORD kLineRoom = 4096;

std::vector<FolderEntry> ListFolder(const std::string& folder) {
  std::vector<FolderEntry> entries;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(Widen(folder + "*", CP_UTF8).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    entries.push_back(
        {Narrow(found.cFileName),
         (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return entries;
}

HANDLE Output() { return GetStdHandle(STD_OUTPUT_HANDLE); }

COORD Cursor() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(Output(), &info)) return COORD{0, 0};
  return info.dwCursorPosition;
}

void Show(const std::wstring& text) {
  DWORD written;
  WriteConsoleW(Output(), text.data(), static_cast<DWORD>(text.size()),
                &written, nullptr);
}

// Shows `line` in place of the `shown` characters that began at `start`,
// the cursor after it.
void Redraw(COORD start, std::size_t shown, const std::wstring& line) {
  SetConsoleCursorPosition(Output(), start);
  Show(line);
  COORD end = Cursor();
  // The old line, and the Tab the console may have shown, are blanked out.
  if (shown + 8 > line.size())
    Show(std::wstring(shown + 8 - line.size(), L' '));
  SetConsoleCursorPosition(Output(), end);
}

// A console window read as characters, a line at a time, with file-name
// completion at Tab.
class ConsoleLines : public std::streambuf {
 protected:
  int_type underflow() override;

 private:
  bool ReadLine(std::wstring* line);
  std::wstring Complete(const std::wstring& read, std::size_t tab,
                        COORD* start);

  std::string data_;
  std::wstring pendingHigh_;
  std::wstring lastBareTab_;
  bool ended_ = false;
};

// Reads one line in the console's line mode. At a Tab, the word before it
// is completed, the line shown anew, and the read goes on with it.
bool ConsoleLines::ReadLine(std::wstring* line) {
  std::vector<wchar_t> buffer(kLineRoom);
  COORD start = Cursor();
  ULONG initial = 0;
  for (;;) {
    CONSOLE_READCONSOLE_CONTROL control = {sizeof control, initial, 1u << L'\t',
                                           0};
    DWORD got = 0;
    if (!ReadConsoleW(GetStdHandle(STD_INPUT_HANDLE), buffer.data(), kLineRoom,
                      &got, &control) ||
        got == 0) {
      return false;
    }
    std::wstring read(buffer.data(), got);
    std::size_t tab = read.find(L'\t');
    if (tab == std::wstring::npos) {
      *line = read;
      return true;
    }
    std::wstring next = Complete(read, tab, &start);
    if (next.size() >= kLineRoom) next.resize(kLineRoom - 1);
    std::copy(next.begin(), next.end(), buffer.begin());
    initial = static_cast<ULONG>(next.size());
  }
}

// The line after a Tab at `tab` in `read`: the word before it completed,
// or, at a second Tab that adds nothing, the names listed below the line.
std::wstring ConsoleLines::Complete(const std::wstring& read, std::size_t tab,
                                    COORD* start) {
  std::wstring line = read.substr(0, tab) + read.substr(tab + 1);
  // The console's own line ends are not part of the line being typed.
  while (!line.empty() && (line.back() == L'\r' || line.back() == L'\n')) {
    line.pop_back();
  }
  std::string before = Narrow(read.substr(0, tab));
  std::string word = before.substr(WordStart(before, before.size()));
  Completion completion = CompleteName(word, ListFolder(FolderOf(word)), '\\');
  std::wstring insert = Widen(completion.insert, CP_UTF8);
  if (!insert.empty()) {
    lastBareTab_.clear();
    line.insert(tab, insert);
  } else if (completion.candidates.size() > 1 && line == lastBareTab_) {
    Show(L"\r\n" + Widen(CandidateColumns(completion.candidates, 79), CP_UTF8));
    *start = Cursor();
    Redraw(*start, 0, line);
    return line;
  } else {
    lastBareTab_ = line;
  }
  Redraw(*start, read.size(), line);
  return line;
}

ConsoleLines::int_type ConsoleLines::underflow() {
  while (!ended_) {
    std::wstring wide;
    // Ctrl-Z at the start of a line ends the input, as in text mode.
    if (!ReadLine(&wide) || wide[0] == 0x1A) {
      ended_ = true;
      break;
    }
    std::wstring text = pendingHigh_ + wide;
    pendingHigh_.clear();
    // A character in two halves may straddle two reads.
    if (text.back() >= 0xD800 && text.back() <= 0xDBFF) {
      pendingHigh_ = text.back();
      text.pop_back();
    }
    std::string bytes;
    for (char c : Narrow(text)) {
      if (c == '\r') continue;  // Enter gives CR LF; LF stays
      bytes += c;
    }
    if (bytes.empty()) continue;
    data_ = bytes;
    setg(data_.data(), data_.data(), data_.data() + data_.size());
    return traits_type::to_int_type(data_[0]);
  }
  return traits_type::eof();
}

}  // namespace

std::streambuf* ConsoleInput() {
  DWORD mode;
  if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) {
    return std::cin.rdbuf();
  }
  static ConsoleLines console;
  return &console;
}
