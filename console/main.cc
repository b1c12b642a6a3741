// Entry point: the program takes no arguments and runs the menu loop.
#include <csignal>

#include "console/commands.h"

int main() {
#ifdef SIGPIPE
  // A console that goes away (tembrix | head) must not kill the run midway:
  // the exit status stays 0 and every merge already begun is finished.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  return RunMenu();
}
