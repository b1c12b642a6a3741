// What every system's file shares: plain work on names.
#include "platform/system.h"

#include <cerrno>
#include <cstring>

#include "platform/replace.h"

namespace {

// The first error a write to standard output met, 0 while there is none.
int consoleError = 0;

}  // namespace

void NoteConsoleWrite(bool ok) {
  if (!ok && consoleError == 0) consoleError = errno != 0 ? errno : EIO;
}

bool ConsoleGone(int* error) {
  if (error != nullptr) *error = consoleError;
  return consoleError != 0;
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
