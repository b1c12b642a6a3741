// File-name completion at the prompts, the same on every system: which
// names fit the word being typed, what Tab adds to it, and how the names
// are listed. The folders themselves are read by each system's console
// input file.
#ifndef CONSOLE_COMPLETION_H_
#define CONSOLE_COMPLETION_H_

#include <cstddef>
#include <string>
#include <vector>

// A name in a folder, and whether it is a folder itself (links followed).
struct FolderEntry {
  std::string name;
  bool isFolder = false;
};

// What Tab does to a word.
struct Completion {
  // The text to add at the cursor: the rest of the one name that fits, with
  // the separator after a folder or a blank after a file, or else the part
  // that every fitting name shares; empty when there is nothing to add.
  std::string insert;
  // Every name that fits, sorted, a folder with the separator after it.
  std::vector<std::string> candidates;
};

// Where the word that ends at `cursor` in `line` begins: after the last
// whitespace before the cursor, or at the start of the line.
std::size_t WordStart(const std::string& line, std::size_t cursor);

// Completes `word`, a name relative to the current folder whose folder part
// (FolderOf(word)) holds `entries`. A name fits when it begins with the rest
// of the word; a name that holds whitespace never fits, as a name is one
// word, and names that begin with a dot fit only a word whose rest does.
// What is added never ends inside a UTF-8 character.
Completion CompleteName(const std::string& word,
                        const std::vector<FolderEntry>& entries,
                        char separator);

// The candidates laid out in columns for a terminal `width` characters
// wide, each row ending with a newline.
std::string CandidateColumns(const std::vector<std::string>& candidates,
                             std::size_t width);

#endif  // CONSOLE_COMPLETION_H_
