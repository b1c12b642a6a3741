// What every system's file shares: plain work on names.
#include "platform/system.h"

#include "platform/replace.h"

bool HoldsZeroByte(const std::string& name) {
  return name.find('\0') != std::string::npos;
}

std::string FolderOf(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && !IsSeparator(path[end - 1])) --end;
  return path.substr(0, end);
}
