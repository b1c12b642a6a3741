#include "site/build_record.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "platform/text.h"

namespace {

// A record larger than this is not read: no site of sane size needs one.
constexpr std::size_t kMostRecordBytes = std::size_t{256} << 20;

void AddString(std::string* text, std::string_view value) {
  *text += std::to_string(value.size());
  *text += ':';
  *text += value;
  *text += ' ';
}

void AddNumber(std::string* text, std::int64_t value) {
  *text += std::to_string(value);
  *text += ' ';
}

void AddState(std::string* text, const FileState& state) {
  AddNumber(text, static_cast<std::int64_t>(state.id.device));
  AddNumber(text, static_cast<std::int64_t>(state.id.index));
  AddNumber(text, static_cast<std::int64_t>(state.size));
  AddNumber(text, state.modified);
  AddNumber(text, state.changed);
}

// Reads a record's fields from its start, each followed by a blank.
class Fields {
 public:
  explicit Fields(const std::string& text) : text_(text) {}

  bool Number(std::int64_t* value) {
    std::size_t end = text_.find(' ', at_);
    if (end == std::string::npos || end == at_ || end - at_ > 20) return false;
    std::size_t i = at_;
    bool negative = text_[i] == '-';
    if (negative && ++i == end) return false;
    std::uint64_t magnitude = 0;
    for (; i < end; ++i) {
      char c = text_[i];
      if (c < '0' || c > '9') return false;
      magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
    }
    // Negated unsigned, so that no text overflows a signed number.
    *value = static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
    at_ = end + 1;
    return true;
  }

  bool String(std::string_view* value) {
    std::size_t colon = text_.find(':', at_);
    if (colon == std::string::npos || colon == at_ || colon - at_ > 12) {
      return false;
    }
    std::uint64_t size = 0;
    for (std::size_t i = at_; i < colon; ++i) {
      if (text_[i] < '0' || text_[i] > '9') return false;
      size = size * 10 + static_cast<std::uint64_t>(text_[i] - '0');
    }
    if (size >= text_.size() - colon - 1 || text_[colon + 1 + size] != ' ') {
      return false;
    }
    *value = std::string_view(text_).substr(colon + 1, size);
    at_ = colon + 2 + size;
    return true;
  }

  bool State(FileState* state) {
    std::int64_t device, index, size;
    if (!Number(&device) || !Number(&index) || !Number(&size) ||
        !Number(&state->modified) || !Number(&state->changed)) {
      return false;
    }
    state->id = {static_cast<std::uint64_t>(device),
                 static_cast<std::uint64_t>(index), true};
    state->size = static_cast<std::uint64_t>(size);
    state->known = true;
    return true;
  }

  // The line end after an entry or the header.
  bool LineEnd() {
    if (at_ >= text_.size() || text_[at_] != '\n') return false;
    ++at_;
    return true;
  }

  bool AtEnd() const { return at_ == text_.size(); }

  // True, and past it, when the text goes on with `word`.
  bool Skip(const std::string& word) {
    if (text_.compare(at_, word.size(), word) != 0) return false;
    at_ += word.size();
    return true;
  }

 private:
  const std::string& text_;
  std::size_t at_ = 0;
};

// A short, stable name for the record of one output folder.
std::string NameOfFolder(const std::string& fullPath) {
  std::uint64_t hash = 14695981039346656037u;
  for (char c : fullPath) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
  }
  char name[32];
  std::snprintf(name, sizeof name, "%016llx",
                static_cast<unsigned long long>(hash));
  return name;
}

bool ReadSmallFile(const std::string& name, std::string* bytes) {
  FileState state;
  FileHandle file = OpenForReading(name, nullptr, &state);
  if (!file.valid() || state.size > kMostRecordBytes) return false;
  bytes->resize(static_cast<std::size_t>(state.size) + 1);
  std::size_t used = 0;
  for (;;) {
    std::ptrdiff_t got =
        ReadBlock(file.get(), &(*bytes)[used], bytes->size() - used);
    if (got < 0) return false;
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
    if (used == bytes->size()) return false;  // grew while read
  }
  bytes->resize(used);
  return true;
}

}  // namespace

std::string RecordText(const std::string& header,
                       const std::vector<RecordEntry>& entries) {
  std::string text = header + "\n";
  for (const RecordEntry& entry : entries) {
    AddString(&text, entry.key);
    AddString(&text, entry.input);
    AddNumber(&text, entry.depth);
    AddNumber(&text, entry.page);
    AddState(&text, entry.in);
    AddState(&text, entry.out);
    text += '\n';
  }
  return text + "end " + std::to_string(entries.size()) + "\n";
}

bool ParseRecord(const std::string& text, const std::string& header,
                 std::vector<RecordEntry>* entries) {
  entries->clear();
  Fields fields(text);
  if (!fields.Skip(header) || !fields.LineEnd()) return false;
  // Room for the count the end gives, as far as the text can hold entries:
  // the vector is not grown again and again.
  const std::size_t last = text.rfind("\nend ");
  if (last != std::string::npos) {
    entries->reserve(std::min<std::size_t>(
        std::strtoull(text.c_str() + last + 5, nullptr, 10), text.size() / 32));
  }
  while (!fields.Skip("end ")) {
    RecordEntry entry;
    std::int64_t depth, page;
    if (!fields.String(&entry.key) || !fields.String(&entry.input) ||
        !fields.Number(&depth) || !fields.Number(&page) ||
        !fields.State(&entry.in) || !fields.State(&entry.out) ||
        !fields.LineEnd() || depth < 0 || depth > 1 << 20 || page < 0 ||
        page > 1 || (!entries->empty() && entries->back().key >= entry.key)) {
      entries->clear();
      return false;
    }
    entry.depth = static_cast<int>(depth);
    entry.page = page == 1;
    entries->push_back(entry);
  }
  if (!fields.Skip(std::to_string(entries->size()) + "\n") || !fields.AtEnd()) {
    entries->clear();
    return false;
  }
  return true;
}

bool BuildRecord::Locate(const MergeRun& run, const std::string& templateName) {
  path_.clear();
  if (run.mode.checkOnly || run.outDir.empty()) return false;
  const std::string out = FullPath(OutFolder(run));
  if (out.empty()) return false;  // not made yet: nothing in it to pass over
  templ_ = StateOfFile(templateName);
  if (!templ_.known || !templ_.settled) return false;
  const std::string folder = RecordFolder();
  if (folder.empty()) return false;
  templateName_ = templateName;
  header_ = "tembrix-record 1 " TEMBRIX_VERSION " ";
  AddNumber(&header_, run.mode.html);
  AddNumber(&header_, run.mode.layout);
  AddNumber(&header_, TEXT_MODE_FILES);
  AddString(&header_, out);
  AddString(&header_, templateName);
  AddState(&header_, templ_);
  path_ = folder + "/" + NameOfFolder(out);
  return StateOfFile(path_).known;
}

void BuildRecord::Read() {
  if (!usable() || !ReadSmallFile(path_, &text_) ||
      !ParseRecord(text_, header_, &loaded_)) {
    loaded_.clear();
  }
}

const RecordEntry* BuildRecord::Find(std::string_view key,
                                     std::size_t* at) const {
  std::size_t i = *at;
  // The next entry, or one a few files on; else a search of them all.
  for (std::size_t end = std::min(loaded_.size(), i + 4);
       i < end && loaded_[i].key < key; ++i) {
  }
  if (i >= loaded_.size() || loaded_[i].key < key ||
      (i > 0 && !(loaded_[i - 1].key < key))) {
    i = static_cast<std::size_t>(
        std::lower_bound(loaded_.begin(), loaded_.end(), key,
                         [](const RecordEntry& entry, std::string_view k) {
                           return entry.key < k;
                         }) -
        loaded_.begin());
  }
  *at = i;
  if (i == loaded_.size() || loaded_[i].key != key) return nullptr;
  *at = i + 1;
  return &loaded_[i];
}

bool BuildRecord::Current(const RecordEntry& entry, const RecordEntry& now) {
  return entry.key == now.key && entry.input == now.input &&
         entry.depth == now.depth && entry.page == now.page &&
         SameState(entry.in, now.in) && SameState(entry.out, now.out) &&
         (now.in.id.device != now.out.id.device ||
          now.in.id.index != now.out.id.index);
}

void BuildRecord::KeepLoaded(const RecordEntry& entry) {
  kept_.resize(loaded_.size());
  const std::size_t i = static_cast<std::size_t>(&entry - loaded_.data());
  keptCount_ += !kept_[i];
  kept_[i] = true;
}

void BuildRecord::Save(const std::string& folder) {
  if (!usable() || !SameState(templ_, StateOfFile(templateName_))) return;
  std::string below = folder;
  if (below.empty() || !IsSeparator(below.back())) below += kSeparator;
  auto inFolder = [&below](const RecordEntry& entry) {
    return entry.input.compare(0, below.size(), below) == 0;
  };
  // Unchanged when nothing new was found and every loaded entry of this
  // folder was passed over.
  std::size_t loadedHere = 0;
  for (const RecordEntry& entry : loaded_) loadedHere += inFolder(entry);
  if (!next_.empty() || loadedHere != keptCount_) {
    std::vector<RecordEntry> all = std::move(next_);
    kept_.resize(loaded_.size());
    for (std::size_t i = 0; i < loaded_.size(); ++i) {
      if (kept_[i] || !inFolder(loaded_[i])) all.push_back(loaded_[i]);
    }
    // By key, an entry of this build before a loaded one of the same key.
    std::stable_sort(all.begin(), all.end(),
                     [](const RecordEntry& a, const RecordEntry& b) {
                       return a.key < b.key;
                     });
    all.erase(std::unique(all.begin(), all.end(),
                          [](const RecordEntry& a, const RecordEntry& b) {
                            return a.key == b.key;
                          }),
              all.end());
    ReplaceSmallFile(path_, RecordText(header_, all));
  }
  next_.clear();
  kept_.clear();
  keptCount_ = 0;
}
