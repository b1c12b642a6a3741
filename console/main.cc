// Entry point: with no arguments the menu loop, else the command line for
// scripts.
#include "console/command_line.h"
#include "merge/platform.h"

int main(int argc, char** argv) {
  StartProcess();
  return RunCommandLine(ProgramArguments(argc, argv));
}
