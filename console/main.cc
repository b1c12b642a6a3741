// Entry point: with no arguments the menu loop, else the command line for
// scripts.
#include "console/command_line.h"
#include "platform/system.h"

int main(int argc, char** argv) {
  SetUpProcess();
  return RunCommandLine(ProgramArguments(argc, argv));
}
