#include "tests/console_capture.h"

#include <iostream>
#include <sstream>

#include "console/commands.h"

int RunMenuOn(const std::string& consoleInput, std::string* output) {
  std::istringstream in(consoleInput);
  std::ostringstream out;
  std::streambuf* oldOut = std::cout.rdbuf(out.rdbuf());
  int status = RunMenu(in.rdbuf());
  std::cout.rdbuf(oldOut);
  std::cout.clear();
  *output = out.str();
  return status;
}
