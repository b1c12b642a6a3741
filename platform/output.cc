// The output sink, the same on every system: the comparison with the
// earlier page, the temporary file made at the first byte that differs, and
// the steps of replacing an output around the per-system ones.
#include "platform/output.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/replace.h"
#include "platform/text.h"

namespace {

// Writing to the disk starts behind the writes, a few MiB at a time, so a
// large page is mostly on its way by the time it replaces the output, where
// the file system may wait for it.
constexpr std::uint64_t kWritebackStep = 8 << 20;

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.device == b.device && a.index == b.index;
}

// A fresh name for a temporary file in `folder` (empty, or ending in a
// separator): this run's TempPrefix and six random letters or digits.
std::string TempNameIn(const std::string& folder) {
  static const char kChars[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::uint64_t state = 0;
  if (state == 0) {
    // Two runs started together differ in the clock or in where the system
    // put their stack; the exclusive create settles the rest.
    int local = 0;
    state =
        static_cast<std::uint64_t>(std::chrono::high_resolution_clock::now()
                                       .time_since_epoch()
                                       .count()) ^
        (static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&local))
         << 16) ^
        1;
  }
  std::string name = folder + TempPrefix();
  for (int i = 0; i < 6; ++i) {
    state ^= state << 13;  // xorshift: cheap, and plenty for a name
    state ^= state >> 7;
    state ^= state << 17;
    name += kChars[state % (sizeof kChars - 1)];
  }
  return name;
}

// A page whose temporary file is closed and waits for its move.
struct Waiting {
  std::string outputName;
  std::string tempName;
  std::string finalName;
  FileIdentity id;  // the file it replaces, when there is one
};

// The pages of a list are flushed to the disk together: their temporary
// files wait, and when the group is full or ends, one call flushes them
// all, and they are moved in list order.
struct Group {
  int depth = 0;  // BeginOutputGroup calls not yet ended
  std::vector<Waiting> waiting;
  std::uint64_t bytes = 0;           // bytes of the waiting pages
  bool lost = false;                 // a page of the group could not be written
  std::vector<Unwritten> unwritten;  // not yet handed back
};

// Each worker thread has a group of its own.
Group& TheGroup() {
  thread_local Group group;
  return group;
}

// Replaced pages reach the disk before their moves; set before any worker
// starts.
bool syncWrites = true;

// A group holds up to this many bytes or MAX_WAITING_TEMPS pages, so a long
// list leaves the disk busy with no more than this at a time.
constexpr std::uint64_t kGroupBytes = std::uint64_t{64} << 20;

// True when a finished page waits for its group rather than being moved at
// once.
bool Grouping() {
  return syncWrites && TheGroup().depth > 0 && MAX_WAITING_TEMPS > 1;
}

// A folder of a group's pages: flushed with its file system and opened to
// flush the moves into it, both before any move, and whether one went in.
struct GroupFolder {
  std::string name;
  bool ready = false;
  int error = 0;
  FileHandle handle;
  bool movedInto = false;
};

// The folder of that name among `folders`, opened and its file system
// flushed (once for all the folders on it, in `flushed`) when it is new.
GroupFolder& FolderNamed(std::vector<GroupFolder>& folders,
                         const std::string& name,
                         std::vector<std::uint64_t>* flushed) {
  for (GroupFolder& folder : folders) {
    if (folder.name == name) return folder;
  }
  folders.emplace_back();
  GroupFolder& folder = folders.back();
  folder.name = name;
  folder.ready = OpenFolderToFlush(name, &folder.handle) &&
                 SyncFileSystemOf(folder.handle, flushed);
  folder.error = errno;
  return folder;
}

// Flushes the waiting pages with one call per file system, moves them in
// order, then flushes each folder the moves went into. A page the flush or its
// move fails for keeps the earlier page; a page whose folder could not be
// flushed after its move is in place but may not outlast a power cut. Both
// are handed back to be said.
void CommitGroup() {
  Group& group = TheGroup();
  std::vector<GroupFolder> folders;
  folders.reserve(group.waiting.size());
  std::vector<std::size_t> into(group.waiting.size());
  // Every page of the group was written before the first flush: one flush
  // of a file system holds them all.
  std::vector<std::uint64_t> flushed;
  for (std::size_t i = 0; i < group.waiting.size(); ++i) {
    const Waiting& page = group.waiting[i];
    GroupFolder& folder =
        FolderNamed(folders, FolderOf(page.tempName), &flushed);
    into[i] = static_cast<std::size_t>(&folder - folders.data());
    int error = folder.error;
    if (folder.ready && PutInPlace(page.tempName, page.finalName, true)) {
      folder.movedInto = true;
      continue;
    }
    if (folder.ready) error = errno;
    RemoveTemp(page.tempName);
    group.unwritten.push_back({page.outputName, error, false});
    into[i] = SIZE_MAX;
    group.lost = true;
  }
  for (GroupFolder& folder : folders) {
    if (!folder.movedInto || FlushFolder(folder.handle)) continue;
    folder.error = errno;
    folder.movedInto = false;  // marks the folder unflushed
  }
  for (std::size_t i = 0; i < group.waiting.size(); ++i) {
    if (into[i] == SIZE_MAX || folders[into[i]].movedInto) continue;
    group.unwritten.push_back(
        {group.waiting[i].outputName, folders[into[i]].error, true});
    group.lost = true;
  }
  group.waiting.clear();
  group.bytes = 0;
}

}  // namespace

void SetSyncWrites(bool sync) { syncWrites = sync; }

bool MakeOutputFolder(const std::string& path) {
  if (KindOfPath(path) == PathKind::kFolder) return true;
  if (!MakeFolder(path)) return false;
  if (!syncWrites) return true;
  // The new folder's entry must outlast a power cut as the pages in it do.
  FileHandle above;
  if (!OpenFolderToFlush(FolderOf(path), &above) || !FlushFolder(above)) {
    return false;
  }
  return true;
}

void BeginOutputGroup() { ++TheGroup().depth; }

bool EndOutputGroup() {
  Group& group = TheGroup();
  if (--group.depth > 0) return !group.lost;
  if (!group.waiting.empty()) CommitGroup();
  bool whole = !group.lost;
  group.lost = false;
  return whole;
}

bool CommitIfWaiting(const FileIdentity& id) {
  for (const Waiting& page : TheGroup().waiting) {
    if (SameFile(page.id, id)) {
      CommitGroup();
      return true;
    }
  }
  return false;
}

std::vector<Unwritten> TakeUnwritten() {
  std::vector<Unwritten> pages;
  pages.swap(TheGroup().unwritten);
  return pages;
}

Sink::Sink(bool textMode)
    : file_(new Replacement),
      block_(new char[kBlockSize]),
      textMode_(textMode),
      encoded_(textMode ? new char[2 * kBlockSize] : nullptr) {}

Sink::Sink(std::streambuf* stream) : stream_(stream) {}

Sink::~Sink() {
  if (file_ == nullptr) return;
  if (file_->temp.valid()) EndReplacement(false);
  StopComparing();
}

OutputCheck Sink::CreateReplacement(const std::string& name,
                                    const FileIdentity* const* reading,
                                    std::size_t count) {
  OutputTarget target;
  error_ = EINVAL;  // a name no path can hold
  if (HoldsZeroByte(name) || !FindOutputTarget(name, &target)) {
    return OutputCheck::kCannotCreate;
  }
  file_->outputName = name;
  file_->target = target;
  file_->finalName = target.path;
  // A page of the group that waits to replace this same file goes first,
  // so that the earlier page compared is the one the list left there.
  if (target.exists) CommitIfWaiting(target.id);
  if (target.exists) {
    for (std::size_t i = 0; i < count; ++i) {
      if (reading[i] != nullptr && SameFile(target.id, *reading[i])) {
        return OutputCheck::kBeingRead;
      }
    }
    // A file the user may not write is not replaced behind the user's back.
    if (!target.writable) {
      error_ = EACCES;
      return OutputCheck::kCannotCreate;
    }
    // The earlier page may hold the merged bytes already: it is compared
    // first. One that cannot be read is simply replaced.
    file_->earlier = OpenForReading(target.path, nullptr);
    if (file_->earlier.valid()) return OutputCheck::kReady;
  }
  if (StartTemporary()) return OutputCheck::kReady;
  error_ = errno;
  return OutputCheck::kCannotCreate;
}

void Sink::Write(const char* data, std::size_t size) {
  if (stream_ != nullptr) {
    if (stream_->sputn(data, static_cast<std::streamsize>(size)) !=
        static_cast<std::streamsize>(size)) {
      Fail();
    }
    return;
  }
  // After a failed write nothing more goes out: a later run must not land
  // in the file as if it followed what was lost.
  if ((!file_->temp.valid() && !file_->earlier.valid()) || failed_) return;
  // Pieces gather in the block; a large run with nothing before it in the
  // block goes out as it is, saving the copy.
  bool large = size >= kBlockSize / 4;
  if (used_ + size <= kBlockSize && !(large && used_ == 0)) {
    std::memcpy(block_.get() + used_, data, size);
    used_ += size;
    return;
  }
  FlushBlock();
  if (failed_) return;
  if (large) {
    EmitMerged(data, size);
  } else {
    std::memcpy(block_.get(), data, size);
    used_ = size;
  }
}

bool Sink::Finish(bool keep) {
  if (stream_ != nullptr) {
    if (stream_->pubsync() != 0) Fail();
    return !failed_;
  }
  FlushBlock();
  if (file_->earlier.valid()) {
    // Unchanged, or cut short by a read error: the earlier page stays.
    if (!keep || EarlierPageEnds()) {
      StopComparing();
      untouched_ = keep && !failed_;
      return !failed_;
    }
    Diverge();
  }
  if (!file_->temp.valid()) return !failed_;
  return EndReplacement(keep && !failed_);
}

// Closes the temporary file and, when `keep`, puts it in place of the
// output: at once, or with its group. Otherwise, or when that fails, removes
// it. False when the close or the replacement failed.
bool Sink::EndReplacement(bool keep) {
  Group& group = TheGroup();
  bool sync = syncWrites && keep;
  bool closed = CloseTemp(std::move(file_->temp), sync && !Grouping());
  // Without its permission bits the page must not take the output's place.
  if (!closed || !keep || !file_->bitsApplied) {
    if (!closed) Fail();
    if (closed && keep) Fail(EPERM);
    RemoveTemp(file_->tempName);
    return !failed_;
  }
  if (Grouping()) {
    group.waiting.push_back({file_->outputName, file_->tempName,
                             file_->finalName, file_->target.id});
    group.bytes += written_;
    if (group.waiting.size() >= MAX_WAITING_TEMPS ||
        group.bytes >= kGroupBytes) {
      CommitGroup();
    }
    return true;
  }
  // The folder is opened for its flush before the move, so that a folder
  // that cannot be opened leaves the earlier page.
  FileHandle folder;
  if ((sync && !OpenFolderToFlush(FolderOf(file_->finalName), &folder)) ||
      !PutInPlace(file_->tempName, file_->finalName, sync)) {
    Fail();
    RemoveTemp(file_->tempName);
    return false;
  }
  // The page is in place, but may not outlast a power cut.
  if (sync && !FlushFolder(folder)) {
    group.unwritten.push_back({file_->outputName, errno, true});
  }
  return true;
}

bool Sink::StartTemporary() {
  // A fresh name each time, created exclusively, so that a link or a file of
  // that name is never used.
  std::string folder = FolderOf(file_->finalName);
  // What a cut run left in the folder goes the first time a run writes
  // there.
  static std::mutex cleaning;
  static std::set<std::string> cleaned;
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(cleaning);
    first = cleaned.insert(folder).second;
  }
  if (first) RemoveStaleTemps(folder);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string tempName = TempNameIn(folder);
    FileHandle temp =
        CreateTempFile(tempName, file_->target, &file_->bitsApplied);
    if (temp.valid()) {
      file_->temp = std::move(temp);
      file_->tempName = tempName;
      return true;
    }
    if (errno != EEXIST) break;
  }
  return false;
}

void Sink::WriteToFile(const char* data, std::size_t size) {
  if (!WriteAll(file_->temp.get(), data, size)) {
    Fail();
    return;
  }
  written_ += size;
  if (written_ - writeback_ >= kWritebackStep) {
    StartWriteback(file_->temp.get(), writeback_, written_ - writeback_);
    writeback_ = written_;
  }
}

// Stops comparing with the earlier page, which stays as it is.
void Sink::StopComparing() { file_->earlier.Close(); }

// The merged page differs from the earlier one from here on: the temporary
// file is created and given the bytes found equal so far, read back from
// the earlier page, so that no page is ever held whole.
void Sink::Diverge() {
  FileHandle earlier = std::move(file_->earlier);
  if (!StartTemporary()) Fail();
  // Most pages differ within the earlier page's first block, which is
  // still at hand.
  if (earlierOffset_ == 0 && !failed_) {
    if (earlierMatched_ > 0) {
      WriteToFile(earlier_.get(), static_cast<std::size_t>(earlierMatched_));
    }
    return;
  }
  for (std::uint64_t at = 0; at < earlierMatched_ && !failed_;) {
    std::ptrdiff_t got =
        ReadAt(earlier.get(), earlier_.get(),
               static_cast<std::size_t>(
                   std::min<std::uint64_t>(kBlockSize, earlierMatched_ - at)),
               at);
    if (got <= 0) {
      Fail();
      break;
    }
    WriteToFile(earlier_.get(), static_cast<std::size_t>(got));
    at += static_cast<std::uint64_t>(got);
  }
}

// How many of `size` bytes bound for the disk equal the earlier page's
// next bytes; fewer at the first difference, or where the earlier page
// ends or cannot be read.
std::size_t Sink::MatchEarlierPage(const char* data, std::size_t size) {
  // The block for the earlier page comes only when there is one to read.
  if (!earlier_) earlier_.reset(new char[kBlockSize]);
  std::size_t matched = 0;
  while (matched < size) {
    if (earlierPos_ == earlierEnd_) {
      std::ptrdiff_t got =
          ReadBlock(file_->earlier.get(), earlier_.get(), kBlockSize);
      if (got <= 0) break;
      earlierOffset_ += earlierEnd_;
      earlierPos_ = 0;
      earlierEnd_ = static_cast<std::size_t>(got);
    }
    std::size_t n = std::min(size - matched, earlierEnd_ - earlierPos_);
    if (std::memcmp(data + matched, earlier_.get() + earlierPos_, n) != 0) {
      break;
    }
    earlierPos_ += n;
    earlierMatched_ += n;
    matched += n;
  }
  return matched;
}

// True when the earlier page has no bytes beyond those compared.
bool Sink::EarlierPageEnds() {
  char probe;
  return earlierPos_ == earlierEnd_ &&
         ReadBlock(file_->earlier.get(), &probe, 1) == 0;
}

// Bytes as they are on the disk: compared while the earlier page holds
// them, written from the first that differs.
void Sink::Emit(const char* data, std::size_t size) {
  if (file_->earlier.valid()) {
    std::size_t matched = MatchEarlierPage(data, size);
    if (matched == size) return;
    Diverge();
    data += matched;
    size -= matched;
  }
  if (!failed_ && file_->temp.valid()) WriteToFile(data, size);
}

// Merged bytes, in text mode where files have it: every newline as CR LF.
void Sink::EmitMerged(const char* data, std::size_t size) {
  if (!textMode_) return Emit(data, size);
  while (size > 0 && !failed_) {
    std::size_t n = std::min(size, kBlockSize);
    Emit(encoded_.get(), ToTextMode(data, n, encoded_.get()));
    data += n;
    size -= n;
  }
}

void Sink::FlushBlock() {
  if (used_ > 0 && !failed_) EmitMerged(block_.get(), used_);
  used_ = 0;
}
