// The output of a merge: merged bytes go to a temporary file beside the
// output, which replaces the output whole once the page is complete, so the
// earlier page stays until then. While the earlier page holds the same
// bytes they are only compared, and an unchanged output is left untouched.
// What differs per system is in the folder's own files behind it.
#ifndef PLATFORM_OUTPUT_H_
#define PLATFORM_OUTPUT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system.h"

// The per-system state of one replacement, private to the folder.
struct Replacement;

// How preparing an output ended.
enum class OutputCheck {
  kReady,         // bytes may be written
  kCannotCreate,  // no place to write, or not a regular file to replace
  kBeingRead,     // the output is one of the files being read
};

// Where merged bytes go: an output file, a stream buffer (tests and
// in-memory use), or nowhere until CreateReplacement has found a place.
// Writes are buffered in blocks and go out when the block fills or the
// sink is finished.
class Sink {
 public:
  // A sink for an output file. Bytes are dropped until CreateReplacement
  // has made it ready. The blocks are allocated here, or for the earlier
  // page when it is first read, before any file is created.
  Sink() : Sink(TEXT_MODE_FILES) {}
  // `textMode`: every newline is written as CR LF (a page, where files
  // have text mode); without it the bytes go out as they are (a copy).
  explicit Sink(bool textMode);
  explicit Sink(std::streambuf* stream);
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;
  // An unfinished file is discarded: the output stays as it was.
  ~Sink();

  // Prepares to replace the output `name`: follows links to the file that
  // would be replaced, refuses one that is not a regular file, one the user
  // may not write (or whose folder the user may not write), one whose
  // identity cannot be found, or one of the `count` files in `reading`.
  // Then opens the earlier page to compare with, or, when there is none or
  // it cannot be read, creates the temporary file at once. The output
  // itself is not touched.
  OutputCheck CreateReplacement(const std::string& name,
                                const FileIdentity* const* reading,
                                std::size_t count);

  // Appends bytes, written with their explicit length.
  void Write(const char* data, std::size_t size);
  void Write(std::string_view text) { Write(text.data(), text.size()); }

  // Writes what is still buffered, closes the file and, when `keep` and
  // every write succeeded, replaces the output with it. An earlier page that
  // holds exactly the merged bytes is left as it is, untouched. False when a
  // write, the close or the replacement failed, so that a full disk is
  // never taken for success.
  bool Finish(bool keep);

  // Why the sink failed (errno), once it has.
  int error() const { return error_; }
  // True once Finish has found the earlier page holding the merged bytes
  // and left it as it was.
  bool untouched() const { return untouched_; }

 private:
  // Marks the sink failed for the reason `error`, the first one kept.
  void Fail(int error = errno) {
    if (!failed_) error_ = error;
    failed_ = true;
  }
  bool StartTemporary();
  bool EndReplacement(bool keep);
  void WriteToFile(const char* data, std::size_t size);
  void StopComparing();
  void Diverge();
  std::size_t MatchEarlierPage(const char* data, std::size_t size);
  bool EarlierPageEnds();
  void Emit(const char* data, std::size_t size);
  void EmitMerged(const char* data, std::size_t size);
  void FlushBlock();

  std::unique_ptr<Replacement> file_;
  std::streambuf* stream_ = nullptr;
  std::unique_ptr<char[]> block_;
  std::size_t used_ = 0;
  bool textMode_ = false;
  std::unique_ptr<char[]> encoded_;  // the block in text mode, where files are
  std::unique_ptr<char[]> earlier_;  // bytes of the earlier page, compared
  std::uint64_t earlierOffset_ = 0;  // where in the earlier page they begin
  std::size_t earlierPos_ = 0;
  std::size_t earlierEnd_ = 0;
  std::uint64_t earlierMatched_ = 0;  // bytes found equal to the earlier page
  std::uint64_t written_ = 0;         // bytes written to the file so far
  std::uint64_t writeback_ = 0;  // bytes whose writing to the disk has begun
  bool failed_ = false;  // a write went wrong; sticky, nothing more is written
  bool untouched_ = false;
  int error_ = 0;
};

// Makes a folder for outputs (MakeFolder); while replaced pages are flushed
// to the disk, its entry in the folder above it is flushed too.
bool MakeOutputFolder(const std::string& path);

// Whether a replaced page is on the disk before it takes the output's place
// (on unless --no-sync turns it off): the temporary file is flushed, moved,
// and the move flushed, so that a power cut leaves the earlier page or the
// new one, never an empty file.
void SetSyncWrites(bool sync);

// Between these two calls (which nest), the replaced pages of a list wait in
// groups: when a group is full or the outermost call ends, the group's files
// are flushed with one call and moved in list order. A page that the flush
// or its move fails for keeps its earlier page and is handed back by
// TakeUnwritten. EndOutputGroup is false when a page of the group could
// not be written.
void BeginOutputGroup();
bool EndOutputGroup();

// Commits the waiting pages when one of them is to replace the file `id`;
// true when it did, and a page opened from that file must then be opened
// afresh to read what the run wrote there.
bool CommitIfWaiting(const FileIdentity& id);

// A replaced page that did not reach the disk as it should.
struct Unwritten {
  std::string outputName;
  int error = 0;  // errno: why
  // False: the page was not put in place, and the earlier page stays. True:
  // it is in place, but its folder could not be flushed to the disk, so the
  // move may not outlast a power cut.
  bool replaced = false;
};

// The pages found so since the last call, in the order found, for the
// caller to say.
std::vector<Unwritten> TakeUnwritten();

#endif  // PLATFORM_OUTPUT_H_
