// Runs the menu loop in this process on console text held in a string.
#ifndef TESTS_CONSOLE_CAPTURE_H_
#define TESTS_CONSOLE_CAPTURE_H_

#include <string>

// Swaps the console for `consoleInput` and a string, runs the menu loop,
// and puts the console back. Gives the exit status; *output gets the text.
int RunMenuOn(const std::string& consoleInput, std::string* output);

#endif  // TESTS_CONSOLE_CAPTURE_H_
