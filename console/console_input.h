// The console input that the menu and its commands read. On a terminal it
// is read a line at a time through a line editor (editing keys, Tab to
// complete a file name, Up and Down to recall earlier lines) where the
// system has one; anything else (a pipe, a file, a terminal of unknown
// type) is read as it is, byte for byte. One file per system behind this
// header.
#ifndef CONSOLE_CONSOLE_INPUT_H_
#define CONSOLE_CONSOLE_INPUT_H_

#include <streambuf>

// The console input as a stream buffer. A finished line reaches it as the
// terminal would deliver it, its bytes and a newline; the end of the input
// (Ctrl-D on an empty line at a terminal) is its end of file.
std::streambuf* ConsoleInput();

#endif  // CONSOLE_CONSOLE_INPUT_H_
