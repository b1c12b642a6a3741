#include "console/commands.h"

#include <cerrno>
#include <string>
#include <utility>

#include "merge/apply_temp.h"
#include "platform/output.h"
#include "platform/system.h"
#include "platform/text.h"
#include "site/build_site.h"

bool MergeList(MergeRun& run, const std::string& templateName,
               const std::string& listName) {
  FileIdentity listId;
  FileHandle listFile = OpenForReading(listName, &listId);
  if (!listFile.valid()) {
    int error = errno;
    // Nothing is asked again, whatever the message says: the menu follows.
    run.Say("couldn't open list file (" + ShownName(listName) +
            ") please try again ");
    if (run.reasons) {
      WriteErrorLine("tembrix: " + ShownName(listName) + ": " +
                     ErrorText(error));
    }
    return false;
  }
  // The list is streamed name by name, so its length does not matter. A
  // byte-order mark says how it is encoded.
  Source list(std::move(listFile), Decoder(TEXT_MODE_FILES, true));
  std::string entryName;
  bool allWritten = true;
  // The list's pages reach the disk in groups.
  BeginOutputGroup();
  // At the menu, a console that is gone ends the batch; a command line
  // merges every page and says so at the end.
  while (Look(list) != kEndOfInput && !(run.atMenu && ConsoleGone())) {
    if (!TakeWord(list, &entryName)) break;  // only whitespace was left
    // A name cut short by a read error is no name: the batch stops.
    if (list.readError()) break;
    // A failed entry has said so on the console; the batch goes on.
    allWritten &= MergeInput(run, templateName, NameFromBytes(entryName),
                             &listId) == MergeOutcome::kWritten;
  }
  allWritten &= EndOutputGroup();
  allWritten &= run.SayUnwritten();
  if (list.readError()) {
    run.SayFailure("Could not read ", listName,
                   ErrorText(list.readErrorCode()));
  }
  return allWritten && !list.readError();
}

void Applylist(Source& console, MergeRun& run) {
  std::string templateName;
  std::string listName;
  WriteLine("Please enter name of template file");
  if (ConsoleGone() || !TakeWord(console, &templateName)) return;
  WriteLine(
      "Please enter name of file (which contains list of file names) to "
      "process");
  if (ConsoleGone() || !TakeWord(console, &listName)) return;
  MergeList(run, NameFromBytes(templateName), NameFromBytes(listName));
}
