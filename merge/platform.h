// The platform under the merge: the output folder's separator, files opened
// by name, buffered output, and console lines. Every difference between
// operating systems lives in this header's .cc file.
#ifndef MERGE_PLATFORM_H_
#define MERGE_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <streambuf>
#include <string>
#include <string_view>

// The folder the merged pages go to, with the platform's directory
// separator after it: "temb\" on Windows, "temb/" elsewhere.
extern const char* const OUTPUT_PREFIX;

// True for a byte that separates folders in a path: '/' everywhere, and
// '\\' too on Windows.
bool IsSeparator(char c);

// Size of every read and write block.
constexpr std::size_t kBlockSize = 128 * 1024;

// Which file on the disk an open file or a path is, so that a merge can
// refuse to truncate a file it is reading.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  bool known = false;
};

// True when both identities are known and name the same file.
bool SameFile(const FileIdentity& a, const FileIdentity& b);

// Opens an existing regular file for reading in the platform's text mode
// (bytes as they are on POSIX). Gives -1 when the name cannot be opened or
// names a folder, a device or a FIFO, and for a name holding a zero byte,
// which no path can hold.
// Fills *id, when given, with the opened file's identity.
int OpenForReading(const std::string& name, FileIdentity* id);

// Identity of whatever file `name` leads to now, following links; unknown
// when nothing is there.
FileIdentity IdentityOfPath(const std::string& name);

// Creates `name` for writing, or truncates it, with permission bits 0664
// (less the umask) where the platform has them. Gives -1 on failure.
int CreateForWriting(const std::string& name);

// Reads at most `size` bytes into `data`; gives the count, and 0 at the end
// of the file or on a read error, which the merge treats alike.
std::size_t ReadBlock(int fd, char* data, std::size_t size);

// Closes a file descriptor; false when the close reported an error.
bool CloseFile(int fd);

// Where merged bytes go: a file (fd), a stream buffer (tests and in-memory
// use), or nowhere when neither is set. Writes are buffered in blocks and
// written when the block fills or the sink is closed.
struct Sink {
  // Bytes are dropped: the output file could not be created.
  Sink() = default;
  // Owns `fd` and closes it in CloseSink, or in the destructor at the latest.
  explicit Sink(int fd);
  explicit Sink(std::streambuf* stream) : stream(stream) {}
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;
  ~Sink();

  int fd = -1;
  std::streambuf* stream = nullptr;
  std::unique_ptr<char[]> block;
  std::size_t used = 0;
  bool failed = false;  // a write or the close went wrong; sticky
};

// Appends bytes to the sink, written with their explicit length.
void Write(Sink& out, const char* data, std::size_t size);
inline void Write(Sink& out, std::string_view text) {
  Write(out, text.data(), text.size());
}

// Writes what is still buffered and closes the file. False when any write
// or the close failed, so that a full disk is never taken for success.
bool CloseSink(Sink& out);

// Console output: writes `text` to standard output, with a line end (a
// newline and a flush) in WriteLine.
void WriteText(std::string_view text);
void WriteLine(std::string_view text);

#endif  // MERGE_PLATFORM_H_
