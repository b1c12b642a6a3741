#include "tests/console_capture.h"

#include <iostream>
#include <sstream>

#include "console/commands.h"

int RunMenuOn(const std::string& consoleInput, std::string* output) {
  std::istringstream in(consoleInput);
  std::ostringstream out;
  std::streambuf* oldIn = std::cin.rdbuf(in.rdbuf());
  std::streambuf* oldOut = std::cout.rdbuf(out.rdbuf());
  int status = RunMenu();
  std::cin.rdbuf(oldIn);
  std::cout.rdbuf(oldOut);
  std::cin.clear();
  std::cout.clear();
  *output = out.str();
  return status;
}
