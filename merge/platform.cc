#include "merge/platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#ifdef _WIN32
const char* const OUTPUT_PREFIX = "temb\\";
#else
const char* const OUTPUT_PREFIX = "temb/";
#endif

namespace {

#ifdef _WIN32
// Text mode: CR LF reads as one newline, and every newline written becomes
// CR LF. The handles are not inherited by child processes.
constexpr int kReadFlags = _O_RDONLY | _O_TEXT | _O_NOINHERIT;
constexpr int kWriteFlags =
    _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT | _O_NOINHERIT;
constexpr int kCreateMode = _S_IREAD | _S_IWRITE;
using IoSize = unsigned int;
#else
// O_NONBLOCK only for the open: a FIFO without a peer must not hang it.
// Regular files, the only ones read, take no notice of it.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
constexpr int kWriteFlags =
    O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC;
constexpr mode_t kCreateMode = 0664;
using IoSize = std::size_t;
#endif

bool HoldsZeroByte(const std::string& name) {
  return name.find('\0') != std::string::npos;
}

#ifdef _WIN32
// Windows keeps file indexes on open handles only.
FileIdentity IdentityOfOpenFile(int fd) {
  FileIdentity id;
  BY_HANDLE_FILE_INFORMATION info;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (handle != INVALID_HANDLE_VALUE &&
      GetFileInformationByHandle(handle, &info)) {
    id.device = info.dwVolumeSerialNumber;
    id.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) |
               info.nFileIndexLow;
    id.known = true;
  }
  return id;
}
#else
FileIdentity IdentityOfStat(const struct stat& st) {
  FileIdentity id;
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.index = static_cast<std::uint64_t>(st.st_ino);
  id.known = true;
  return id;
}
#endif

// Back to blocking reads and writes once the open has succeeded; only a
// FIFO or a device can notice the difference.
void MakeBlocking(int fd) {
#ifndef _WIN32
  int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
#else
  (void)fd;
#endif
}

// Writes all of `data`, retrying partial writes; false on any error.
bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    // One call writes at most 1 GiB, well inside every platform's limit.
    std::size_t chunk = std::min<std::size_t>(size, std::size_t{1} << 30);
    auto written = ::write(fd, data, static_cast<IoSize>(chunk));
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;
    // A text-mode write may count the carriage returns it added.
    std::size_t done = std::min(static_cast<std::size_t>(written), size);
    data += done;
    size -= done;
  }
  return true;
}

void FlushBlock(Sink& out) {
  if (out.used > 0 && !out.failed &&
      !WriteAll(out.fd, out.block.get(), out.used)) {
    out.failed = true;
  }
  out.used = 0;
}

}  // namespace

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.device == b.device && a.index == b.index;
}

int OpenForReading(const std::string& name, FileIdentity* id) {
  if (HoldsZeroByte(name)) return -1;
  int fd = ::open(name.c_str(), kReadFlags);
  if (fd < 0) return -1;
  // Only a regular file reads as a page: a folder has no bytes, and a
  // device or FIFO may never end (/dev/zero) or never begin.
  struct stat st;
  if (fstat(fd, &st) != 0 || (st.st_mode & S_IFMT) != S_IFREG) {
    ::close(fd);
    return -1;
  }
#ifdef _WIN32
  if (id != nullptr) *id = IdentityOfOpenFile(fd);
#else
  if (id != nullptr) *id = IdentityOfStat(st);
#endif
  return fd;
}

FileIdentity IdentityOfPath(const std::string& name) {
  FileIdentity id;
  if (HoldsZeroByte(name)) return id;
#ifdef _WIN32
  int fd = ::open(name.c_str(), kReadFlags);
  if (fd < 0) return id;
  id = IdentityOfOpenFile(fd);
  ::close(fd);
#else
  struct stat st;
  if (stat(name.c_str(), &st) == 0) id = IdentityOfStat(st);
#endif
  return id;
}

int CreateForWriting(const std::string& name) {
  if (HoldsZeroByte(name)) return -1;
  int fd = ::open(name.c_str(), kWriteFlags, kCreateMode);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) == 0 && (st.st_mode & S_IFMT) != S_IFREG) {
    MakeBlocking(fd);
  }
  return fd;
}

std::size_t ReadBlock(int fd, char* data, std::size_t size) {
  for (;;) {
    auto got = ::read(fd, data, static_cast<IoSize>(size));
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return 0;
  }
}

bool CloseFile(int fd) { return ::close(fd) == 0; }

Sink::Sink(int fd) : fd(fd), block(new char[kBlockSize]) {}

Sink::~Sink() {
  if (fd >= 0) CloseFile(fd);
}

void Write(Sink& out, const char* data, std::size_t size) {
  if (out.stream != nullptr) {
    if (out.stream->sputn(data, static_cast<std::streamsize>(size)) !=
        static_cast<std::streamsize>(size)) {
      out.failed = true;
    }
    return;
  }
  if (out.fd < 0 || out.failed) return;
  // Pieces gather in the block; a large run with nothing before it in the
  // block goes out as it is, saving the copy.
  bool large = size >= kBlockSize / 4;
  if (out.used + size <= kBlockSize && !(large && out.used == 0)) {
    std::memcpy(out.block.get() + out.used, data, size);
    out.used += size;
    return;
  }
  FlushBlock(out);
  if (large) {
    if (!WriteAll(out.fd, data, size)) out.failed = true;
  } else {
    std::memcpy(out.block.get(), data, size);
    out.used = size;
  }
}

bool CloseSink(Sink& out) {
  if (out.stream != nullptr) {
    if (out.stream->pubsync() != 0) out.failed = true;
    return !out.failed;
  }
  if (out.fd < 0) return !out.failed;
  FlushBlock(out);
  if (!CloseFile(out.fd)) out.failed = true;
  out.fd = -1;
  return !out.failed;
}

void WriteText(std::string_view text) {
  std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void WriteLine(std::string_view text) {
  WriteText(text);
  std::cout.put('\n');
  std::cout.flush();
}
