// The console input on systems built without a line editor: the standard
// input as it is.
#include "console/console_input.h"

#include <iostream>

std::streambuf* ConsoleInput() { return std::cin.rdbuf(); }
