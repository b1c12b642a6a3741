// The platform under the merge: the output folder's separator, names, files
// opened by name, outputs replaced whole, and the console. Each operating
// system has its own .cc file behind this header (platform_posix.cc,
// platform_win32.cc); what they share is plain code in platform.cc (the
// steps of replacing an output, the buffered sink) and in text.h (names and
// encodings).
#ifndef MERGE_PLATFORM_H_
#define MERGE_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <streambuf>
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

// True for a name holding a zero byte, which no path can hold.
bool HoldsZeroByte(const std::string& name);

// The folder part of `path` with its last separator ("temb/" of
// "temb/a.html"), or empty when it has none.
std::string FolderOf(const std::string& path);

// Size of every read and write block.
constexpr std::size_t kBlockSize = 128 * 1024;

// Sets the process up before the menu: a console that goes away or a file
// size limit must not kill a run midway, and a run stopped by a signal
// removes the temporary file it was writing.
void StartProcess();

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

// True when both identities are known and name the same file.
bool SameFile(const FileIdentity& a, const FileIdentity& b);

// Opens an existing regular file for reading, as bytes (the reader undoes
// text mode itself). Gives -1 when the name cannot be opened or names a
// folder, a device or a FIFO, and for a name holding a zero byte, which no
// path can hold. Fills *id, when given, with the opened file's identity.
int OpenForReading(const std::string& name, FileIdentity* id);

// Reads at most `size` bytes into `data`; gives the count, 0 at the end of
// the file, and -1 on a read error.
std::ptrdiff_t ReadBlock(int fd, char* data, std::size_t size);

// ReadBlock from `offset` of the file, wherever its position is.
std::ptrdiff_t ReadAt(int fd, char* data, std::size_t size,
                      std::uint64_t offset);

// Writes all of `data`, retrying partial writes; false on any error. On
// Windows every newline becomes CR LF on the way.
bool WriteAll(int fd, const char* data, std::size_t size);

// Asks the system to start writing `size` bytes at `offset` of the file to
// the disk, without waiting; a hint, where the system takes one (Linux).
void StartWriteback(int fd, std::uint64_t offset, std::uint64_t size);

// Closes a file descriptor; false when the close reported an error (an
// interrupted close has closed the file and is no error).
bool CloseFile(int fd);

// The file an output name leads to, as each platform file finds it for
// CreateReplacement.
struct OutputTarget {
  std::string path;        // links followed where the platform has them
  bool exists = false;     // the file is there now
  FileIdentity id;         // when it exists
  bool writable = true;    // when it exists: the user may replace it
  std::uint32_t mode = 0;  // permission bits for the temporary file
  bool setMode = false;    // the bits must be set after the create
  std::uint32_t user = 0;  // the owner to give the temporary file...
  std::uint32_t group = 0;
  bool setOwner = false;  // ...when it is not the runner
};

// The replacement of an output: the existing output, read to compare while
// the merged page is produced, and the temporary file that replaces it,
// created at the first byte that differs (at once when there is nothing to
// compare with).
struct Replacement {
  int fd = -1;            // the temporary file, once it exists
  std::string tempName;   // beside the file it replaces
  std::string finalName;  // the output after links are followed
  OutputTarget target;
  // False when the file could not be given the output's permission bits:
  // it must not take the output's place.
  bool settled = true;
  int oldFd = -1;  // the existing output, while it may yet stay as it is
};

enum class OutputCheck {
  kReady,         // the temporary file is open
  kCannotCreate,  // no place to write, or not a regular file to replace
  kBeingRead,     // the output is one of the files being read
};

// Prepares to replace the output `name`: follows links to the file that
// would be replaced, refuses one that is not a regular file, one the user may
// not write (or whose folder the user may not write), one whose identity
// cannot be found, or one of the `count` files in `reading`. Then opens the
// existing output to compare with, or, when there is none or it cannot be
// read, creates the temporary file at once (StartTemporary). The output
// itself is not touched.
OutputCheck CreateReplacement(const std::string& name,
                              const FileIdentity* const* reading,
                              std::size_t count, Replacement* out);

// Creates the temporary file ".tembrix-XXXXXX" beside the output, with the
// permission bits the output has (0664 less the umask for a new one). A
// signal that stops the program from here on removes it, wherever it
// arrives. False when it cannot be created.
bool StartTemporary(Replacement& file);

// A fresh name for a temporary file in `folder` (empty, or ending in a
// separator): ".tembrix-" and six random letters or digits.
std::string TempNameIn(const std::string& folder);

// Closes the temporary file and, when `keep`, puts it in place of the output
// in one step; otherwise, or when that fails, removes it. False when the
// close or the replacement failed, or the file was not settled.
bool EndReplacement(Replacement& file, bool keep);

// Fills *target for the output `name`; false when nothing can be written
// under that name (not a regular file, or a path that cannot be looked at).
bool FindOutputTarget(const std::string& name, OutputTarget* target);

// Creates the temporary file `tempName` exclusively for `target`, and makes
// it known to the handler that removes it when a signal stops the program.
// Gives the descriptor, or -1 with errno set (EEXIST: the name is taken).
// Sets out->settled false when the permission bits could not be set.
int CreateTempFile(const std::string& tempName, const OutputTarget& target,
                   Replacement* out);

// Where merged bytes go: a replacement file, a stream buffer (tests and
// in-memory use), or nowhere when neither is set. Writes are buffered in
// blocks and go out when the block fills or the sink is finished; while
// the output's earlier page holds the same bytes, they are only compared.
struct Sink {
  // Bytes are dropped until a file is attached. The blocks are allocated
  // here, or for the earlier page when it is first read, before any file is
  // created.
  Sink();
  explicit Sink(std::streambuf* stream) : stream(stream) {}
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;
  // An unfinished file is discarded: the output stays as it was.
  ~Sink();

  Replacement file;
  std::streambuf* stream = nullptr;
  std::unique_ptr<char[]> block;
  std::size_t used = 0;
  std::unique_ptr<char[]> encoded;  // the block in text mode, where files are
  std::unique_ptr<char[]> old;      // bytes of the earlier page, compared
  std::uint64_t oldOffset = 0;      // where in the earlier page `old` begins
  std::size_t oldPos = 0;
  std::size_t oldEnd = 0;
  std::uint64_t same = 0;       // bytes found equal to the earlier page
  std::uint64_t written = 0;    // bytes written to the file so far
  std::uint64_t writeback = 0;  // bytes whose writing to the disk has begun
  bool failed = false;  // a write went wrong; sticky, nothing more is written
};

// Appends bytes to the sink, written with their explicit length.
void Write(Sink& out, const char* data, std::size_t size);
inline void Write(Sink& out, std::string_view text) {
  Write(out, text.data(), text.size());
}

// Writes what is still buffered, closes the file and, when `keep` and every
// write succeeded, replaces the output with it. An earlier page that holds
// exactly the merged bytes is left as it is, untouched. False when a write,
// the close or the replacement failed, so that a full disk is never taken
// for success.
bool FinishSink(Sink& out, bool keep);

// Console output: writes `text` to standard output, with a line end (a
// newline and a flush) in WriteLine.
void WriteText(std::string_view text);
void WriteLine(std::string_view text);

#endif  // MERGE_PLATFORM_H_
