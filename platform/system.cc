// What every system's file shares: plain work on names.
#include "platform/system.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/replace.h"
#include "platform/text.h"

namespace {

// The first error a write to standard output met, 0 while there is none.
std::atomic<int> consoleError{0};

thread_local ConsoleCapture* capturing = nullptr;

// The characters of the progress line on show, 0 when there is none.
std::size_t progressWidth = 0;

}  // namespace

void NoteConsoleWrite(bool ok) {
  int none = 0;
  if (!ok) consoleError.compare_exchange_strong(none, errno != 0 ? errno : EIO);
}

bool ConsoleGone(int* error) {
  if (error != nullptr) *error = consoleError;
  return consoleError != 0;
}

void CaptureConsole(ConsoleCapture* capture) { capturing = capture; }

bool Captured(bool toError, std::string_view text) {
  if (capturing == nullptr) return false;
  std::vector<ConsoleCapture::Chunk>& chunks = capturing->chunks;
  if (!chunks.empty() && chunks.back().toError == toError) {
    chunks.back().text += text;
  } else {
    chunks.push_back({toError, std::string(text)});
  }
  return true;
}

void ReplayConsole(ConsoleCapture* capture) {
  for (const ConsoleCapture::Chunk& chunk : capture->chunks) {
    // Whole lines, as they were written; the last one of standard output
    // may end without its line end (a message that goes on).
    std::string_view text = chunk.text;
    if (chunk.toError) {
      WriteErrorText(text);
      continue;
    }
    while (!text.empty()) {
      std::size_t end = text.find('\n');
      if (end == std::string_view::npos) {
        WriteText(text);
        break;
      }
      WriteLine(text.substr(0, end));
      text.remove_prefix(end + 1);
    }
  }
  capture->chunks.clear();
}

void ShowProgress(std::string_view line) {
  // Kept within a line of a narrow terminal, so that the next one lands
  // on it.
  std::string shown = CutName(std::string(line), 78);
  std::size_t width = 0;
  for (unsigned char c : shown) width += (c & 0xC0) != 0x80;
  std::string text = "\r" + shown;
  if (width < progressWidth) text += std::string(progressWidth - width, ' ');
  text += "\r" + shown;
  if (line.empty()) text = progressWidth > 0 ? text : "";
  progressWidth = width;
  if (!text.empty()) WriteErrorText(text);
}

void ClearProgress() {
  if (progressWidth == 0) return;
  std::size_t width = progressWidth;
  progressWidth = 0;
  WriteErrorText("\r" + std::string(width, ' ') + "\r");
}

std::string ErrorText(int error) {
  if (error == kNotRegularFile) return "Not a regular file";
  if (error == kFileReplaced) return "The file was replaced while it was read";
  return std::strerror(error);
}

bool HoldsZeroByte(const std::string& name) {
  return name.find('\0') != std::string::npos;
}

std::string FolderOf(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && !IsSeparator(path[end - 1])) --end;
  return path.substr(0, end);
}

bool SameState(const FileState& a, const FileState& b) {
  return a.known && b.known && a.id.device == b.id.device &&
         a.id.index == b.id.index && a.size == b.size &&
         a.modified == b.modified && a.changed == b.changed;
}
