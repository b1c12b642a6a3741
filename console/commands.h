// The console front end: the menu loop and the commands it offers. Choices
// and names are read as a stream of words, so whatever follows a choice on
// its line feeds the next prompt.
#ifndef CONSOLE_COMMANDS_H_
#define CONSOLE_COMMANDS_H_

#include <streambuf>
#include <string>

#include "merge/apply_temp.h"
#include "merge/token_reader.h"

// Shows the menu, takes a one-character choice and runs its command, until
// the user quits with Q or q or `input` (the console input, or text that
// tests give) ends, or a write to standard output fails. The merges follow
// `mode`. Writes standard output; gives the exit status: 0, or 1 when
// standard output could not be written (said on standard error).
// `settings`: the mode and the output folder of the run's merges.
int RunMenu(std::streambuf* input, const MergeRun& settings = MergeRun());

// Applies a template to one input file, asking for both names again after a
// template or input that could not be opened. A template name beginning with
// '!' goes back to the menu. Ends as soon as the console input has ended.
void Applyfile(Source& console, MergeRun& run);

// Applies a template to every input file named in a list file, in order,
// one merge per whitespace-separated name. Ends as soon as the console input
// has ended at either prompt.
void Applylist(Source& console, MergeRun& run);

// Merges the template with every page named in the list file `listName`,
// in order, each with its own console lines; a list that cannot be opened
// or read says so. True when every page was merged and written.
bool MergeList(MergeRun& run, const std::string& templateName,
               const std::string& listName);

// Writes the help line.
void Help();

// Says on standard error that standard output could not be written, when
// it could not; true then.
bool SayConsoleGone();

#endif  // CONSOLE_COMMANDS_H_
