// What the program needs of the operating system, apart from replacing an
// output (platform/output.h): the output folder's separator, names, files
// opened and read by name, process set-up, the program's arguments and
// console lines. Each system has its own .cc file behind this header
// (system_posix.cc, system_win32.cc); what they share is plain code in
// system.cc and in platform/text.h (names and encodings).
#ifndef PLATFORM_SYSTEM_H_
#define PLATFORM_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The folder the merged pages go to, with the platform's directory
// separator after it: "temb\" on Windows, "temb/" elsewhere.
extern const char* const OUTPUT_PREFIX;

// True where files are in text mode: CR LF reads as a newline, and every
// newline written becomes CR LF (Windows).
extern const bool TEXT_MODE_FILES;

// True for a byte that separates folders in a path: '/' everywhere, and
// '\\' too on Windows.
bool IsSeparator(char c);

// The folder part of `path` with its last separator ("temb/" of
// "temb/a.html"), or empty when it has none.
std::string FolderOf(const std::string& path);

// Size of every read and write block.
constexpr std::size_t kBlockSize = 128 * 1024;

// Sets the process up before the menu or the command line: a console that
// goes away or a file size limit must not kill a run midway, and a run
// stopped by a signal or a console event removes the temporary files it was
// writing.
void SetUpProcess();

// The program's arguments after its name, in the program's own form of
// names: UTF-8 on Windows, read from the wide command line, so a name in any
// script arrives whole whatever the code page; bytes elsewhere.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Takes a name read from the console or a list file into the program's own
// form, UTF-8 on Windows: there a name that is not valid UTF-8 is read in
// the system's ANSI code page. Unchanged elsewhere, where names are bytes.
std::string NameFromBytes(std::string bytes);

// Which file on the disk an open file or a path is, so that a merge can
// refuse to replace a file it is reading.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  bool known = false;
};

// Closes a file descriptor; false when the close reported an error (an
// interrupted close has closed the file and is no error).
bool CloseFile(int fd);

// An open file descriptor, or none (-1), closed when the handle goes. It is
// moved, never copied, so every descriptor is closed once, on every path.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(int fd) : fd_(fd) {}
  FileHandle(FileHandle&& other) noexcept : fd_(other.Release()) {}
  FileHandle& operator=(FileHandle&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() { Reset(-1); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives up the descriptor without closing it.
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the file now; false when the close reported an error.
  bool Close() { return Reset(-1); }

 private:
  bool Reset(int fd) {
    bool closed = fd_ < 0 || CloseFile(fd_);
    fd_ = fd;
    return closed;
  }
  int fd_ = -1;
};

// Opens an existing regular file for reading, as bytes (the reader undoes
// text mode itself). Gives no file, with errno set, when the name cannot be
// opened or names a folder, a device or a FIFO, and for a name holding a zero
// byte, which no path can hold. Fills *id, when given, with the opened file's
// identity.
FileHandle OpenForReading(const std::string& name, FileIdentity* id);

// How long ago a file's last change must lie for every later change to
// show in its times: some file systems keep times to the second or two.
constexpr std::int64_t kSettledNanoseconds = std::int64_t{3} * 1000000000;

// What tells whether a file has changed since it was looked at: its
// identity, size and times. `known` is false where the system does not
// tell them cheaply (Windows). `settled`: the file last changed at least
// kSettledNanoseconds ago.
struct FileState {
  FileIdentity id;
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // nanoseconds
  std::int64_t changed = 0;
  bool known = false;
  bool settled = false;
};

// True when both states are known and the same.
bool SameState(const FileState& a, const FileState& b);

// OpenForReading, filling *state too.
FileHandle OpenForReading(const std::string& name, FileIdentity* id,
                          FileState* state);

// The state of the file `name` leads to; not known when it cannot be looked
// at.
FileState StateOfFile(const std::string& name);

// The folder that keeps this user's records of earlier site builds
// ($XDG_CACHE_HOME/tembrix, else ~/.cache/tembrix), made when missing; empty
// where there is none, and on systems that do not tell file states cheaply
// (Windows), where a record could not be checked.
std::string RecordFolder();

// Replaces the file `name` with `bytes` through a temporary file beside it,
// without flushing to the disk: for a file that may be lost but must never
// be read half written. False on any error, the earlier file left.
bool ReplaceSmallFile(const std::string& name, const std::string& bytes);

// The error a file that is no regular file gives when it is opened to be
// read (errno is set to it; a folder gives EISDIR).
constexpr int kNotRegularFile = 1 << 20;
// The error of a file read a second time whose name no longer leads to the
// file read first.
constexpr int kFileReplaced = kNotRegularFile + 1;

// The system's words for an error number (errno).
std::string ErrorText(int error);

// Reads at most `size` bytes into `data`; gives the count, 0 at the end of
// the file, and -1 on a read error.
std::ptrdiff_t ReadBlock(int fd, char* data, std::size_t size);

// Moves an open file's position to `offset` bytes from its start; false
// when it cannot.
bool SeekFile(int fd, std::uint64_t offset);

// What a path names, links followed: nothing, a regular file, a folder, or
// something else (a device, a FIFO, a link that leads nowhere). *link, when
// given, says whether the path itself is a symbolic link (or, on Windows,
// another reparse point). *id, when given, gets the identity of a file (and
// of a folder, where the system gives one cheaply: not on Windows).
enum class PathKind { kMissing, kFile, kFolder, kOther };
PathKind KindOfPath(const std::string& path, bool* link = nullptr,
                    FileIdentity* id = nullptr);

// StateOfFile, quicker for a file in the folder this thread looked in last,
// which it keeps open for the next look.
FileState StateOfFileNear(const std::string& name);

// KindOfPath, filling *state with the state of what the path leads to
// (known only where the system tells it cheaply).
PathKind LookAtPath(const std::string& path, bool* link, FileState* state);

// What ListFolder gives with each name's LookAtPath (`kind`, `link`,
// `state`), looked at from the folder itself, which is quicker than by the
// whole path.
struct FoundEntry {
  std::string name;
  PathKind kind = PathKind::kMissing;
  bool link = false;
  FileState state;
};
bool LookInFolder(const std::string& path, std::vector<FoundEntry>* entries);

// The names in the folder `path`, "." and ".." left out, in no order;
// false, with errno set, when the folder cannot be read.
bool ListFolder(const std::string& path, std::vector<std::string>* names);

// Makes the folder `path`, with the permission bits the umask allows; true
// when it is made or is a folder already, else false with errno set.
bool MakeFolder(const std::string& path);

// Removes the file `path`, or the empty folder when `folder`; false, with
// errno set, when it cannot.
bool RemovePath(const std::string& path, bool folder);

// The full path of `path` from the file system's root, links resolved
// where the system does so, for comparing where two names lie; empty when
// it cannot be found.
std::string FullPath(const std::string& path);

// True where names that differ only in letter case name one file: on
// Windows, and on a file system that ignores case where the folder `near`
// (which exists) shows it.
bool IgnoresCase(const std::string& near);

// A name in one letter case, for comparing names where case does not tell
// them apart: ASCII letters in upper case, and on Windows every letter as
// the system compares it.
std::string CaseKey(const std::string& name);

// The separator of this system's paths: '\\' on Windows, '/' elsewhere.
extern const char kSeparator;

// Console output: writes `text` to standard output, with a line end (a
// newline and a flush) in WriteLine.
void WriteText(std::string_view text);
void WriteLine(std::string_view text);

// Writes `text` and a newline to standard error, for warnings and errors.
void WriteErrorLine(std::string_view text);

// True where several threads may write outputs at once (not on Windows,
// whose stop handler keeps one temporary file at a time).
extern const bool PARALLEL_WRITES;

// For a worker thread: the stop signals go to the program's first thread,
// whose handler removes every temporary file (a console event has a thread
// of its own on Windows, where this does nothing).
void HoldStopSignals();

// Console lines of the calling thread held in memory instead of written,
// so that workers' lines can be written in the order of their inputs: what
// goes to standard output and to standard error, in the order written.
struct ConsoleCapture {
  struct Chunk {
    bool toError;
    std::string text;
  };
  std::vector<Chunk> chunks;
};
// From now on this thread's console writes go to `capture` (none: to the
// console again).
void CaptureConsole(ConsoleCapture* capture);
// Adds `text` to this thread's capture and gives true, when it has one.
bool Captured(bool toError, std::string_view text);
// Writes what a capture holds to the console, and empties it.
void ReplayConsole(ConsoleCapture* capture);

// True when standard error is a terminal (a console window on Windows).
bool ErrorIsTerminal();

// Writes `text` to standard error as it stands, without a line end.
void WriteErrorText(std::string_view text);

// A line on standard error rewritten in place to show how far a long run
// is: each call replaces the one before, and an empty line clears it. Every
// other console line clears it first (ClearProgress), and the next call
// shows it again.
void ShowProgress(std::string_view line);
void ClearProgress();

// True once a write to standard output has failed (a closed pipe, a full
// device, a closed descriptor); *error, when given, says why (errno). The
// console writers note each write with NoteConsoleWrite.
bool ConsoleGone(int* error = nullptr);
void NoteConsoleWrite(bool ok);

#endif  // PLATFORM_SYSTEM_H_
