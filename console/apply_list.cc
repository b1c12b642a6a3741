#include <string>

#include "console/commands.h"
#include "merge/apply_temp.h"
#include "merge/platform.h"

void Applylist(Source& console) {
  std::string templateName;
  std::string listName;
  WriteLine("Please enter name of template file");
  if (!TakeWord(console, &templateName)) return;
  WriteLine(
      "Please enter name of file (which contains list of file names) to "
      "process");
  if (!TakeWord(console, &listName)) return;
  FileIdentity listId;
  int listFd = OpenForReading(listName, &listId);
  if (listFd < 0) {
    // Nothing is asked again, whatever the message says: the menu follows.
    WriteLine("couldn't open list file (" + listName + ") please try again ");
    return;
  }
  // The list is streamed name by name, so its length does not matter.
  Source list(listFd);
  std::string entryName;
  while (Look(list) != kEndOfInput) {
    if (!TakeWord(list, &entryName)) break;  // only whitespace was left
    // A failed entry has said so on the console; the batch goes on.
    ApplyTemp(templateName, entryName, &listId);
  }
}
