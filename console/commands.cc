#include "console/commands.h"

#include <iostream>
#include <string>

#include "merge/apply_temp.h"
#include "platform/system.h"
#include "site/build_site.h"

namespace {

void ShowMenu() {
  WriteLine("Welcome to ZAVIK Tembrix");
  WriteLine("Please choose an option: ");
  WriteLine("Apply a template to a single file (A)");
  WriteLine("Apply a template to a list of files (L)");
  WriteLine("Help (H)");
  WriteLine("Quit (Q)");
}

}  // namespace

int RunMenu(std::streambuf* input, const MergeRun& settings) {
  Source console(input, &std::cout);
  MergeRun run = settings;
  run.atMenu = true;
  run.reasons = false;  // the menu's console lines say what failed
  char choice = 'a';
  while (choice != 'q' && choice != 'Q') {
    ShowMenu();
    // A console that is gone ends the program, as the end of its input
    // does; so does a choice that cannot come because the input ended.
    if (ConsoleGone() || !TakeNonBlank(console, &choice)) break;
    switch (choice) {
      case 'A':
      case 'a':
        Applyfile(console, run);
        break;
      case 'L':
      case 'l':
        Applylist(console, run);
        break;
      case 'H':
      case 'h':
        Help();
        break;
      default:
        break;
    }
  }
  return SayConsoleGone() ? 1 : 0;
}

bool SayConsoleGone() {
  int error = 0;
  if (!ConsoleGone(&error)) return false;
  WriteErrorLine("tembrix: standard output could not be written: " +
                 ErrorText(error));
  return true;
}

void Applyfile(Source& console, MergeRun& run) {
  std::string templateName;
  std::string inputName;
  for (;;) {
    WriteLine("Please enter name of template file (or ! to quit to menu)");
    if (ConsoleGone() || !TakeWord(console, &templateName)) return;
    if (templateName[0] == '!') return;
    WriteLine("Please enter name of file to process");
    if (ConsoleGone() || !TakeWord(console, &inputName)) return;
    // With --out, a folder is built as a whole.
    if (MergeInput(run, NameFromBytes(templateName),
                   NameFromBytes(inputName)) != MergeOutcome::kNotOpened) {
      return;
    }
  }
}

void Help() { WriteLine("Help is not avaliable yet"); }
