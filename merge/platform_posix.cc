// The platform layer on Linux and other POSIX systems: names are bytes,
// files are read and written as they are, outputs are replaced by rename.
#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>

#include "merge/platform.h"

const char* const OUTPUT_PREFIX = "temb/";
const bool TEXT_MODE_FILES = false;

namespace {

// O_NONBLOCK only for the open: a FIFO without a peer must not hang it.
// Regular files, the only ones read, take no notice of it.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
constexpr int kTempFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
constexpr mode_t kNewFileMode = 0664;
constexpr int kMaxLinks = 40;  // as many as the kernel follows in one path

// The temporary file being written, for the signal handler to remove.
// A fixed buffer: the handler may not allocate.
char tempBeingWritten[4096];

void RemoveTempAndDie(int sig) {
  if (tempBeingWritten[0] != '\0') unlink(tempBeingWritten);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void NoteTemp(const std::string& name) {
  if (name.size() < sizeof tempBeingWritten) {
    std::memcpy(tempBeingWritten, name.c_str(), name.size() + 1);
  }
}

int OpenRetrying(const char* name, int flags, mode_t mode) {
  for (;;) {
    int fd = ::open(name, flags, mode);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

FileIdentity IdentityOfStat(const struct stat& st) {
  FileIdentity id;
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.index = static_cast<std::uint64_t>(st.st_ino);
  id.known = true;
  return id;
}

std::int64_t Nanoseconds(const struct timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

FileStamp StampOfStat(const struct stat& st) {
  FileStamp stamp;
  stamp.id = IdentityOfStat(st);
  stamp.size = static_cast<std::uint64_t>(st.st_size);
  stamp.modified = Nanoseconds(st.st_mtim);
  stamp.changed = Nanoseconds(st.st_ctim);
  return stamp;
}

// Follows symbolic links from `name` to the path of the file they lead to.
// *exists says whether that file is there (a dangling link leads to a file
// still to be made), *st holds its status when it is. False on a loop, or
// when the path cannot be looked at.
bool FollowLinks(const std::string& name, std::string* target, bool* exists,
                 struct stat* st) {
  std::string path = name;
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    if (lstat(path.c_str(), st) != 0) {
      if (errno != ENOENT) return false;
      *target = path;
      *exists = false;
      return true;
    }
    if (!S_ISLNK(st->st_mode)) {
      *target = path;
      *exists = true;
      return true;
    }
    std::string link(static_cast<std::size_t>(st->st_size) + 1, '\0');
    ssize_t size = readlink(path.c_str(), link.data(), link.size());
    if (size <= 0 || static_cast<std::size_t>(size) >= link.size()) {
      return false;  // changed under us, or empty
    }
    link.resize(static_cast<std::size_t>(size));
    path = link[0] == '/' ? link : FolderOf(path) + link;
  }
  return false;
}

// Creates a temporary file in `folder` under a fresh name, exclusively, so
// that a link or a file of that name is never used.
int CreateTemp(const std::string& folder, mode_t mode, std::string* name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = TempNameIn(folder);
    int fd = OpenRetrying(candidate.c_str(), kTempFlags, mode);
    if (fd >= 0) {
      *name = candidate;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

}  // namespace

void StartProcess() {
  // A console that goes away (tembrix | head) or a file size limit must
  // not kill the run: the failed write is reported and the run goes on.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
#ifdef __GLIBC__
  // Each merge takes and gives back the same few blocks: keep them in the
  // heap rather than mapping and trimming memory for every page of a list.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  mallopt(M_TRIM_THRESHOLD, 4 << 20);
#endif
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action;
    if (sigaction(sig, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) {
      continue;  // started with nohup or the like: stays ignored
    }
    std::memset(&action, 0, sizeof action);
    action.sa_handler = RemoveTempAndDie;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
  }
}

std::string NameFromBytes(std::string bytes) { return bytes; }

bool IsSeparator(char c) { return c == '/'; }

bool SameSettledStamp(const FileStamp& a, const FileStamp& b) {
  // File times tick in steps of a few milliseconds: a change within the
  // same step as the one seen would leave the stamp as it was. A file whose
  // last change is a second old or more is past that.
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return SameFile(a.id, b.id) && a.size == b.size && a.modified == b.modified &&
         a.changed == b.changed && a.changed < Nanoseconds(now) - 1000000000;
}

bool StampOfPath(const std::string& name, FileStamp* stamp) {
  struct stat st;
  if (HoldsZeroByte(name) || stat(name.c_str(), &st) != 0 ||
      !S_ISREG(st.st_mode)) {
    return false;
  }
  *stamp = StampOfStat(st);
  return true;
}

int OpenForReading(const std::string& name, FileIdentity* id,
                   FileStamp* stamp) {
  if (HoldsZeroByte(name)) return -1;
  int fd = OpenRetrying(name.c_str(), kReadFlags, 0);
  if (fd < 0) return -1;
  // Only a regular file reads as a page: a folder has no bytes, and a
  // device or FIFO may never end (/dev/zero) or never begin.
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  if (id != nullptr) *id = IdentityOfStat(st);
  if (stamp != nullptr) *stamp = StampOfStat(st);
  return fd;
}

std::ptrdiff_t ReadBlock(int fd, char* data, std::size_t size) {
  for (;;) {
    ssize_t got = ::read(fd, data, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    // One call writes at most 1 GiB, well inside every system's limit.
    std::size_t chunk = std::min<std::size_t>(size, std::size_t{1} << 30);
    ssize_t written = ::write(fd, data, chunk);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

void StartWriteback(int fd, std::uint64_t offset, std::uint64_t size) {
#ifdef SYNC_FILE_RANGE_WRITE
  sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(size),
                  SYNC_FILE_RANGE_WRITE);
#else
  (void)fd, (void)offset, (void)size;
#endif
}

bool CloseFile(int fd) {
  // Linux closes the descriptor even when close is interrupted.
  return ::close(fd) == 0 || errno == EINTR;
}

OutputCheck CreateReplacement(const std::string& name,
                              const FileIdentity* const* reading,
                              std::size_t count, Replacement* out) {
  std::string target;
  bool exists = false;
  struct stat st;
  if (HoldsZeroByte(name) || !FollowLinks(name, &target, &exists, &st) ||
      target.empty() || target.back() == '/') {
    return OutputCheck::kCannotCreate;
  }
  // Asked once: neither changes while the program runs.
  static const mode_t mask = [] {
    mode_t m = umask(0);
    umask(m);
    return m;
  }();
  static const uid_t user = geteuid();
  static const gid_t group = getegid();
  mode_t mode = kNewFileMode;
  if (exists) {
    // Only a regular file is replaced: never a folder, a device or a FIFO.
    if (!S_ISREG(st.st_mode)) return OutputCheck::kCannotCreate;
    FileIdentity id = IdentityOfStat(st);
    for (std::size_t i = 0; i < count; ++i) {
      if (reading[i] != nullptr && SameFile(id, *reading[i])) {
        return OutputCheck::kBeingRead;
      }
    }
    // A file the user may not write is not replaced behind the user's back.
    if (access(target.c_str(), W_OK) != 0) return OutputCheck::kCannotCreate;
    mode = st.st_mode & 07777;
  }
  std::string tempName;
  // A replaced page keeps its bits exactly: created with them when the umask
  // leaves them be (the common case, no further call), else set after.
  bool chown = exists && (st.st_uid != user || st.st_gid != group);
  bool chmod = exists && (chown || (mode & ~mask) != mode);
  int fd = CreateTemp(FolderOf(target), chmod ? 0600 : mode, &tempName);
  if (fd < 0) return OutputCheck::kCannotCreate;
  NoteTemp(tempName);
  // The owner where we may give it (as root), then the permission bits,
  // which a change of owner may clear.
  if (chown && fchown(fd, st.st_uid, st.st_gid) != 0) {
    // Not permitted: the page becomes ours, as a copy would.
  }
  if (chmod) fchmod(fd, mode);
  out->fd = fd;
  out->tempName = tempName;
  out->finalName = target;
  return OutputCheck::kReady;
}

bool EndReplacement(Replacement& file, bool keep) {
  bool ok = CloseFile(file.fd);
  file.fd = -1;
  if (ok && keep &&
      std::rename(file.tempName.c_str(), file.finalName.c_str()) == 0) {
    tempBeingWritten[0] = '\0';
    return true;
  }
  unlink(file.tempName.c_str());
  tempBeingWritten[0] = '\0';
  return ok && !keep;
}

std::streambuf* ConsoleInput() { return std::cin.rdbuf(); }

void WriteText(std::string_view text) {
  std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void WriteLine(std::string_view text) {
  WriteText(text);
  std::cout.put('\n');
  std::cout.flush();
}
