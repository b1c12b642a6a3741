// Entry point: the program takes no arguments and runs the menu loop.
#include "console/commands.h"

int main() { return RunMenu(); }
