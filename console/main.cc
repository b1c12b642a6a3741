// Entry point: the program takes no arguments and runs the menu loop.
#include "console/commands.h"
#include "merge/platform.h"

int main() {
  StartProcess();
  return RunMenu();
}
