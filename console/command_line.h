// The command line for scripts: `tembrix TEMPLATE PAGE...`, with list files
// among the pages, and an exit status that tells whether every page was
// merged. With no arguments the program is the interactive menu.
#ifndef CONSOLE_COMMAND_LINE_H_
#define CONSOLE_COMMAND_LINE_H_

#include <string>
#include <vector>

// Exit statuses of a run from the command line.
constexpr int kExitAllWritten = 0;  // every page merged and written
constexpr int kExitSomeFailed = 1;  // a file could not be opened, read or
                                    // written, or a page lost content; the
                                    // other pages were merged
constexpr int kExitUsageError = 2;  // nothing was merged

// What the arguments ask for.
struct CommandLine {
  enum class Action { kMenu, kMerge, kHelp, kVersion, kUsageError };
  // A page to merge, or a list file whose names are merged in its place.
  struct Item {
    std::string name;
    bool isList = false;
  };
  Action action = Action::kMenu;
  std::string templateName;
  std::vector<Item> items;
  bool sync = true;     // replaced pages reach the disk before the run ends
  bool check = false;   // read and report only, write nothing
  bool strict = false;  // every warning fails the run
  bool html = false;    // find tags as browsers do
  bool layout = false;  // the template is the whole page
  std::string outDir;   // --out: the folder the site is built into
  bool deleteStale = false;  // --delete: remove what no input leads to
  bool quiet = false;        // no line for each merged or copied file
  int jobs = 0;              // -j: workers; 0 for one per core
  std::string error;         // for a usage error: what was wrong, one line
};

// Reads the arguments after the program's name. Options: --list FILE (also
// -l FILE and --list=FILE, repeatable), --html, --layout, --no-sync, --check,
// --strict,
// --help, --version, and --
// after which every argument is a name. The first name is the template, the
// rest pages; options with no name run the menu. --help, --version and a
// usage error act as soon as they are met.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// Runs the arguments: the menu when there are none, else the action they
// ask for. Gives the exit status.
int RunCommandLine(const std::vector<std::string>& args);

#endif  // CONSOLE_COMMAND_LINE_H_
