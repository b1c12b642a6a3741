#include "console/completion.h"

#include <algorithm>

#include "merge/scan.h"
#include "platform/system.h"

namespace {

bool HoldsWhitespace(const std::string& name) {
  return std::any_of(name.begin(), name.end(),
                     [](char c) { return IsWhitespace(c); });
}

// The length of the part every candidate shares, cut back to the start of
// a UTF-8 character so that no character is ever split.
std::size_t SharedLength(const std::vector<std::string>& candidates) {
  std::size_t length = candidates.front().size();
  for (const std::string& c : candidates) {
    std::size_t n = 0;
    while (n < length && n < c.size() && c[n] == candidates.front()[n]) ++n;
    length = n;
  }
  const std::string& first = candidates.front();
  while (length > 0 && length < first.size() &&
         (static_cast<unsigned char>(first[length]) & 0xC0) == 0x80) {
    --length;
  }
  return length;
}

// The number of characters a name takes on the terminal: its UTF-8 lead
// bytes, so that a name in any script lines up.
std::size_t Columns(const std::string& name) {
  return static_cast<std::size_t>(std::count_if(
      name.begin(), name.end(),
      [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

std::size_t WordStart(const std::string& line, std::size_t cursor) {
  std::size_t start = std::min(cursor, line.size());
  while (start > 0 && !IsWhitespace(line[start - 1])) --start;
  return start;
}

Completion CompleteName(const std::string& word,
                        const std::vector<FolderEntry>& entries,
                        char separator) {
  Completion completion;
  std::string rest = word.substr(FolderOf(word).size());
  std::vector<const FolderEntry*> fits;
  for (const FolderEntry& entry : entries) {
    if (entry.name.empty() || entry.name.compare(0, rest.size(), rest) != 0 ||
        entry.name == "." || entry.name == ".." ||
        HoldsWhitespace(entry.name) ||
        (entry.name[0] == '.' && (rest.empty() || rest[0] != '.'))) {
      continue;
    }
    fits.push_back(&entry);
    completion.candidates.push_back(
        entry.name +
        (entry.isFolder ? std::string(1, separator) : std::string()));
  }
  std::sort(completion.candidates.begin(), completion.candidates.end());
  if (fits.size() == 1) {
    completion.insert = completion.candidates[0].substr(rest.size());
    if (!fits[0]->isFolder) completion.insert += ' ';
  } else if (fits.size() > 1) {
    std::size_t shared = SharedLength(completion.candidates);
    if (shared > rest.size()) {
      completion.insert =
          completion.candidates[0].substr(rest.size(), shared - rest.size());
    }
  }
  return completion;
}

std::string CandidateColumns(const std::vector<std::string>& candidates,
                             std::size_t width) {
  std::size_t widest = 0;
  for (const std::string& c : candidates) widest = std::max(widest, Columns(c));
  std::size_t perRow = std::max<std::size_t>(1, (width + 2) / (widest + 2));
  std::size_t rows = (candidates.size() + perRow - 1) / perRow;
  std::string text;
  for (std::size_t row = 0; row < rows; ++row) {
    // Down the columns, as a shell lists them.
    for (std::size_t i = row; i < candidates.size(); i += rows) {
      bool last = i + rows >= candidates.size();
      text += candidates[i];
      if (!last) text += std::string(widest + 2 - Columns(candidates[i]), ' ');
    }
    text += '\n';
  }
  return text;
}
