// The console input on systems built without a line editor: the standard
// input as it is.
#include <iostream>

#include "console/console_input.h"

std::streambuf* ConsoleInput() { return std::cin.rdbuf(); }
