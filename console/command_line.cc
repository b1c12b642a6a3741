#include "console/command_line.h"

#include <iostream>

#include "console/commands.h"
#include "console/console_input.h"
#include "merge/apply_temp.h"
#include "platform/output.h"
#include "platform/system.h"
#include "platform/text.h"
#include "site/build_site.h"

namespace {

// The usage text, around the length of the cut that output names get.
constexpr const char kUsageHead[] =
    "Usage: tembrix\n"
    "       tembrix [--list FILE]... TEMPLATE [PAGE]...\n"
    "       tembrix --out DIR [--delete] TEMPLATE [PAGE|FOLDER]...\n"
    "Gives HTML pages a common look: merges TEMPLATE with each PAGE, and with\n"
    "every page named in each list FILE, in the order given, and writes each\n"
    "merged page into the folder temb under the page's name cut to ";
constexpr const char kUsageTail[] =
    "\ncharacters. With no arguments, tembrix runs its interactive menu.\n"
    "\n"
    "Options:\n"
    "  -l, --list FILE  merge the pages named in FILE (separated by any\n"
    "                   whitespace) at this place among the pages; -lFILE\n"
    "                   too\n"
    "      --html       find tags as browsers do, so every real page keeps "
    "its\n"
    "                   content (the default is the exact word rules)\n"
    "      --layout     as --html, but the template is the whole page: its\n"
    "                   head, title, character set, language and links\n"
    "                   (rebased for pages in folders) reach every page\n"
    "      --out DIR    build into DIR under the pages' full names, making "
    "its\n"
    "                   folders; a FOLDER given is built whole: its pages\n"
    "                   merged, its other files copied\n"
    "      --delete     with --out and a FOLDER: remove from DIR what no "
    "input\n"
    "                   leads to\n"
    "  -q, --quiet      no line for each merged or copied file\n"
    "  -j N             merge with N workers (the default: one per core)\n"
    "      --check      read and report as a merge would, writing nothing\n"
    "      --strict     fail (status 1) on every warning, not only on lost\n"
    "                   content\n"
    "      --no-sync    do not wait for each replaced page to reach the disk\n"
    "                   (faster; a power cut may then empty pages)\n"
    "  -h, --help       show this help and exit\n"
    "      --version    show the version and exit\n"
    "      --           end of options: every later argument is a name\n"
    "\n"
    "Exit status: 0 when every page was merged and written; 1 when a\n"
    "template, page or list could not be opened or read, an output could\n"
    "not be written, or a page lost content because a landmark was missing\n"
    "(the other pages are still merged; warnings go to standard error); 2\n"
    "for a usage error.\n"
    "See tembrix(1) for more.\n";

std::string Usage() {
  return kUsageHead + std::to_string(MAXCHARS) + kUsageTail;
}

// Sets the mode an option names: true when `arg` is one.
bool TakeMode(const std::string& arg, CommandLine* line) {
  if (arg == "--no-sync") {
    line->sync = false;
  } else if (arg == "--html") {
    line->html = true;
  } else if (arg == "--layout") {
    line->layout = true;
  } else if (arg == "--check") {
    line->check = true;
  } else if (arg == "--strict") {
    line->strict = true;
  } else if (arg == "--delete") {
    line->deleteStale = true;
  } else if (arg == "-q" || arg == "--quiet") {
    line->quiet = true;
  } else {
    return false;
  }
  return true;
}

CommandLine UsageError(std::string error) {
  CommandLine line;
  line.action = CommandLine::Action::kUsageError;
  line.error = std::move(error);
  return line;
}

int MergeAll(const CommandLine& line, MergeRun& run) {
  bool allWritten = true;
  // Many pages reach the disk in groups (a list makes its own); a single
  // page on its own.
  bool many = line.items.size() > 1;
  if (many) BeginOutputGroup();
  for (const CommandLine::Item& item : line.items) {
    allWritten &= item.isList ? MergeList(run, line.templateName, item.name)
                              : MergeInput(run, line.templateName, item.name) ==
                                    MergeOutcome::kWritten;
  }
  if (many) allWritten &= EndOutputGroup();
  allWritten &= run.SayUnwritten();
  if (line.deleteStale) allWritten &= RemoveStale(run);
  std::cout.flush();
  NoteConsoleWrite(static_cast<bool>(std::cout));
  // Every page was merged; the console lines that could not be written
  // fail the run.
  allWritten &= !SayConsoleGone();
  const MergeTally& tally = run.tally;
  if (tally.lostContent + tally.warned > 0) {
    WriteErrorLine("tembrix: " + std::to_string(tally.pages) +
                   (tally.pages == 1 ? " page: " : " pages: ") +
                   std::to_string(tally.lostContent) + " lost content, " +
                   std::to_string(tally.warned) + " with warnings");
  }
  // Lost content fails the run; with --strict, every warning does.
  if (tally.lostContent > 0 || (line.strict && tally.warned > 0)) {
    allWritten = false;
  }
  return allWritten ? kExitAllWritten : kExitSomeFailed;
}

// What the names given need of the options, once the names can be looked
// at: a folder is built only with --out, --delete needs a folder and must
// not remove the current folder's files, the template or a folder given.
// Empty when all is well.
std::string CheckSiteOptions(const CommandLine& line, const MergeRun& run) {
  std::vector<std::string> folders;
  for (const CommandLine::Item& item : line.items) {
    if (!item.isList && KindOfPath(item.name) == PathKind::kFolder) {
      folders.push_back(item.name);
    }
  }
  if (!folders.empty() && line.outDir.empty()) {
    return folders[0] + " is a folder: a folder is built with --out DIR";
  }
  if (!line.deleteStale) return "";
  if (folders.empty()) return "--delete needs a folder to build";
  return DeleteRefused(run, line.templateName, folders);
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  if (args.empty()) return line;
  line.action = CommandLine::Action::kMerge;
  bool options = true;
  bool haveTemplate = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options || arg.size() < 2 || arg[0] != '-') {
      // The first name is the template; "-" alone is a name too.
      if (haveTemplate) line.items.push_back({arg, false});
      if (!haveTemplate) line.templateName = arg;
      haveTemplate = true;
    } else if (arg == "--") {
      options = false;
    } else if (arg == "--help" || arg == "-h" || arg == "--version") {
      line.action = arg == "--version" ? CommandLine::Action::kVersion
                                       : CommandLine::Action::kHelp;
      return line;
    } else if (TakeMode(arg, &line)) {
      // --no-sync, --html, --layout, --check or --strict, now set
    } else if (arg == "--out" || arg.compare(0, 6, "--out=") == 0) {
      if (arg == "--out" && ++i == args.size()) {
        return UsageError("option --out needs a folder name");
      }
      line.outDir = arg == "--out" ? args[i] : arg.substr(6);
      if (line.outDir.empty())
        return UsageError("option --out needs a folder name");
    } else if (arg == "-j" ||
               (arg.compare(0, 2, "-j") == 0 && arg.size() > 2)) {
      if (arg == "-j" && ++i == args.size()) {
        return UsageError("option -j needs a number");
      }
      const std::string n = arg == "-j" ? args[i] : arg.substr(2);
      if (n.empty() || n.size() > 4 ||
          n.find_first_not_of("0123456789") != std::string::npos ||
          std::stoi(n) == 0) {
        return UsageError("option -j needs a number from 1, not " + n);
      }
      line.jobs = std::stoi(n);
    } else if (arg == "-l" || arg == "--list") {
      if (++i == args.size())
        return UsageError("option " + arg + " needs a file name");
      line.items.push_back({args[i], true});
    } else if (arg.compare(0, 7, "--list=") == 0) {
      line.items.push_back({arg.substr(7), true});
    } else if (arg.compare(0, 2, "-l") == 0) {
      line.items.push_back({arg.substr(2), true});  // -lFILE
    } else {
      return UsageError("unknown option " + arg);
    }
  }
  if (line.deleteStale && line.outDir.empty()) {
    return UsageError("--delete needs --out");
  }
  // Options alone set up the menu; a check or its status needs pages.
  if (!haveTemplate && line.items.empty() && !line.check && !line.strict &&
      !line.deleteStale) {
    line.action = CommandLine::Action::kMenu;
    return line;
  }
  if (!haveTemplate) return UsageError("no template given");
  if (line.items.empty()) return UsageError("no page and no list given");
  return line;
}

int RunCommandLine(const std::vector<std::string>& args) {
  CommandLine line = ParseCommandLine(args);
  SetSyncWrites(line.sync);
  MergeRun run;
  run.mode.checkOnly = line.check;
  run.mode.html = line.html || line.layout;
  run.mode.layout = line.layout;
  run.reasons = true;
  run.outDir = line.outDir;
  run.quiet = line.quiet;
  run.jobs = line.jobs;  // 0: one worker per core
  if (!run.outDir.empty()) {
    bool made = KindOfPath(run.outDir) == PathKind::kFolder;
    run.ignoreCase = IgnoresCase(made ? run.outDir : ".");
  }
  if (line.action == CommandLine::Action::kMerge) {
    std::string error = CheckSiteOptions(line, run);
    if (!error.empty()) line = UsageError(error);
  }
  switch (line.action) {
    case CommandLine::Action::kMenu:
      return RunMenu(ConsoleInput(), run);
    case CommandLine::Action::kHelp:
    case CommandLine::Action::kVersion:
      std::cout << (line.action == CommandLine::Action::kHelp
                        ? Usage()
                        : std::string("tembrix " TEMBRIX_VERSION "\n"))
                << std::flush;
      NoteConsoleWrite(static_cast<bool>(std::cout));
      return SayConsoleGone() ? kExitSomeFailed : kExitAllWritten;
    case CommandLine::Action::kUsageError:
      std::cerr << "tembrix: " << ShownName(line.error)
                << "\nTry 'tembrix --help' for more information.\n";
      return kExitUsageError;
    case CommandLine::Action::kMerge:
      break;
  }
  return MergeAll(line, run);
}
