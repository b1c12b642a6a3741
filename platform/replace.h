// Inside the platform folder: the file calls that only the output uses, and
// the per-system steps of replacing an output, one file per system behind
// this header (replace_posix.cc, replace_win32.cc). Nothing outside
// platform/ includes it.
#ifndef PLATFORM_REPLACE_H_
#define PLATFORM_REPLACE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/system.h"

// True for a name holding a zero byte, which no path can hold.
bool HoldsZeroByte(const std::string& name);

// ReadBlock from `offset` of the file, wherever its position is.
std::ptrdiff_t ReadAt(int fd, char* data, std::size_t size,
                      std::uint64_t offset);

// Writes all of `data`, retrying partial writes; false on any error.
bool WriteAll(int fd, const char* data, std::size_t size);

// Asks the system to start writing `size` bytes at `offset` of the file to
// the disk, without waiting; a hint, where the system takes one (Linux).
void StartWriteback(int fd, std::uint64_t offset, std::uint64_t size);

// Makes a stop signal or console event remove every temporary file that
// exists on its way out of the program. Called once, at set-up.
void RemoveTempsOnStop();

// The file an output name leads to, as each platform file finds it.
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

// Fills *target for the output `name`; false when nothing can be written
// under that name (not a regular file, or a path that cannot be looked at).
bool FindOutputTarget(const std::string& name, OutputTarget* target);

// The replacement of an output: the earlier page, read to compare while the
// merged page is produced, and the temporary file that replaces it, created
// at the first byte that differs (at once when there is nothing to compare
// with).
struct Replacement {
  std::string outputName;  // as the merge named it
  FileHandle temp;         // the temporary file, once it exists
  std::string tempName;    // beside the file it replaces
  std::string finalName;   // the output after links are followed
  OutputTarget target;
  // False when the temporary file could not be given the output's
  // permission bits: it must not take the output's place.
  bool bitsApplied = true;
  FileHandle earlier;  // the earlier page, while it may yet stay as it is
};

// Creates the temporary file `tempName` exclusively for `target`, and makes
// it known to the handler that removes it when the program is stopped.
// Gives the file, or none with errno set (EEXIST: the name is taken).
// Clears *bitsApplied when the permission bits could not be set.
FileHandle CreateTempFile(const std::string& tempName,
                          const OutputTarget& target, bool* bitsApplied);

// Closes a temporary file, first flushing its bytes to the disk when
// `flush`. It stays noted for the stop handler. False, with errno set, when
// the flush or the close failed.
bool CloseTemp(FileHandle file, bool flush);

// Puts the closed temporary file in place of `finalName` in one step and
// drops the stop handler's note of it. With `writeThrough` the move is on
// the disk when it returns, where the system offers that in the move itself
// (Windows); elsewhere SyncFolder does it. False when the move failed: the
// file is still there, and still noted.
bool PutInPlace(const std::string& tempName, const std::string& finalName,
                bool writeThrough);

// The start of this run's temporary files' names: ".tembrix-", the boot
// of the system (where it can be told) and the process, each followed by a
// dash, so that a later run can tell files no running writer still uses.
std::string TempPrefix();

// Removes the temporary files in `folder` (empty: the current folder) that
// an earlier run left and no running tembrix can still be using: those of
// another boot, and those of a process that no longer runs. Files of a
// process that runs, and names of another form, stay.
void RemoveStaleTemps(const std::string& folder);

// Removes a temporary file and drops the stop handler's note of it.
void RemoveTemp(const std::string& tempName);

// Flushes to the disk every file written on the file system that holds the
// open `folder`, in one call, unless that file system is among *flushed
// already; it is added when flushed. True at once where each file is
// flushed as it is closed (Windows).
bool SyncFileSystemOf(const FileHandle& folder,
                      std::vector<std::uint64_t>* flushed);

// Opens `folder` so that the renames into it can be flushed to the disk
// after them (FlushFolder); false, with errno set, when it cannot be
// opened. Where moves are written through (Windows) nothing is opened.
bool OpenFolderToFlush(const std::string& folder, FileHandle* handle);

// Flushes the entries of a folder opened by OpenFolderToFlush to the disk;
// false, with errno set, when that failed.
bool FlushFolder(const FileHandle& folder);

// How many closed temporary files may wait for their moves at once: many
// where the file system is flushed in one call (POSIX), one where each file
// is flushed as it is closed (Windows).
extern const std::size_t MAX_WAITING_TEMPS;

#endif  // PLATFORM_REPLACE_H_
