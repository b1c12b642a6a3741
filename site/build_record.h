// What a site build found current, kept between runs in the user's cache
// folder, so that a rerun passes over a file whose input, output and
// template are as they were, without opening any of them. The record only
// saves time: a record that is missing, damaged or out of date costs a
// rerun the reading and comparing it does without one, never a wrong page.
#ifndef SITE_BUILD_RECORD_H_
#define SITE_BUILD_RECORD_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "merge/apply_temp.h"
#include "platform/system.h"

// One output found to hold what its input merges (or copies) into, by the
// output's key among the run's. The names are those of the record's text
// or of the run's inputs, which outlast it.
struct RecordEntry {
  std::string_view key;
  std::string_view input;  // the input's name as the run named it
  int depth = 0;           // the output's folders below the output folder
  bool page = false;       // merged, not copied
  FileState in;            // the input and the output as they were then
  FileState out;
};

class BuildRecord {
 public:
  // Finds the record of earlier builds into the run's output folder with
  // this template and mode, and whether there is one; none is used in a
  // check, without --out, or when the template changed too lately for a
  // change to show in its times.
  bool Locate(const MergeRun& run, const std::string& templateName);
  // Reads it; nothing is passed over when there is none, when it was made
  // otherwise, or when the template changed since.
  void Read();

  // The loaded entry of the output `key`, or none. `*at` is where to look
  // first, and is left after the entry: keys looked up in order are found
  // in a step or two each.
  const RecordEntry* Find(std::string_view key, std::size_t* at) const;

  // True when `now` (its key, input, depth and kind, and the states of its
  // input and output found now) is as an entry recorded it.
  static bool Current(const RecordEntry& entry, const RecordEntry& now);

  // An entry of the next record, found current now: a loaded one (of those
  // Find gave) passed over as the record had it, or a new one.
  void KeepLoaded(const RecordEntry& entry);
  void Keep(RecordEntry entry) { next_.push_back(entry); }
  void Reserve(std::size_t count) { next_.reserve(count); }

  // Writes the next record in place of the one loaded: the kept entries and
  // the loaded ones that `folder`'s build did not decide on. Nothing is
  // written when nothing changed or the template changed during the run.
  void Save(const std::string& folder);

  bool usable() const { return !path_.empty(); }

 private:
  std::string path_;    // the record's file; empty: no record is used
  std::string header_;  // what the entries hold for
  std::string templateName_;
  FileState templ_;
  std::string text_;  // as read; the loaded entries' names are in it
  std::vector<RecordEntry> loaded_;  // by key
  std::vector<RecordEntry> next_;    // new entries
  std::vector<bool> kept_;           // by loaded entry: kept as it was
  std::size_t keptCount_ = 0;
};

// The record's text for `header` and `entries` (sorted by key, each key
// once), and the entries read back from it, in `text`; false when it is not
// whole, not of that header, or not in order.
std::string RecordText(const std::string& header,
                       const std::vector<RecordEntry>& entries);
bool ParseRecord(const std::string& text, const std::string& header,
                 std::vector<RecordEntry>* entries);

#endif  // SITE_BUILD_RECORD_H_
