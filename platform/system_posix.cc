// The system on Linux and other POSIX systems: names are bytes, files are
// read and written as they are, outputs are replaced by rename.
#include "platform/system.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "platform/replace.h"

const char* const OUTPUT_PREFIX = "temb/";
const char kSeparator = '/';
const bool PARALLEL_WRITES = true;
const bool TEXT_MODE_FILES = false;

namespace {

// O_NONBLOCK only for the open: a FIFO without a peer must not hang it.
// Regular files, the only ones read, take no notice of it.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
constexpr int kTempFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
constexpr mode_t kNewFileMode = 0664;
constexpr int kMaxLinks = 40;  // as many as the kernel follows in one path

// The signals that stop a run and remove its temporary file on the way out.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The temporary files that exist, the one being written and those waiting
// for their renames, for the signal handler to remove. Changed only while
// the stop signals are held, so the handler never sees it half changed; the
// handler only reads it.
std::vector<std::string> tempsNoted;
// Workers change the notes too: each change holds this flag, and so does
// the handler while it reads them (a worker that holds it lets go at once;
// the thread that gets the signal holds the signals back while it holds
// the flag).
std::atomic_flag notesBusy = ATOMIC_FLAG_INIT;

class NotesHeld {
 public:
  NotesHeld() {
    while (notesBusy.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~NotesHeld() { notesBusy.clear(std::memory_order_release); }
  NotesHeld(const NotesHeld&) = delete;
  NotesHeld& operator=(const NotesHeld&) = delete;
};

void RemoveTempsAndDie(int sig) {
  {
    NotesHeld notes;
    for (const std::string& name : tempsNoted) unlink(name.c_str());
  }
  // Ended from outside, what was typed ahead at a terminal must not reach
  // its next reader (a shell would run it); elsewhere this does nothing.
  if (sig == SIGTERM || sig == SIGHUP) tcflush(STDIN_FILENO, TCIFLUSH);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// True in a thread that holds the stop signals for good (a worker): it
// need not hold them again around each step.
thread_local bool stopsHeldForGood = false;

// Holds the stop signals back for its lifetime, so that the temporary files
// and the handler's notes of their names come and go together: a signal that
// arrives meanwhile is delivered when the hold ends, and the handler then
// removes whatever exists.
class SignalsHeld {
 public:
  SignalsHeld() {
    if (stopsHeldForGood) return;
    sigset_t stops;
    sigemptyset(&stops);
    for (int sig : kStopSignals) sigaddset(&stops, sig);
    pthread_sigmask(SIG_BLOCK, &stops, &previous_);
  }
  ~SignalsHeld() {
    if (!stopsHeldForGood) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Makes a call that gives -1 on failure, again for as long as a signal
// interrupts it: an interruption is no failure.
template <typename Call>
auto Retrying(Call call) {
  for (;;) {
    auto result = call();
    if (result != -1 || errno != EINTR) return result;
  }
}

int OpenRetrying(const char* name, int flags, mode_t mode) {
  return Retrying([&] { return ::open(name, flags, mode); });
}

FileIdentity IdentityOfStat(const struct stat& st) {
  FileIdentity id;
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.index = static_cast<std::uint64_t>(st.st_ino);
  id.known = true;
  return id;
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
  errno = ELOOP;
  return false;
}

// Drops the handler's note of a temporary file that is gone or renamed;
// called with the stop signals held.
void Forget(const std::string& tempName) {
  NotesHeld notes;
  auto it = std::find(tempsNoted.begin(), tempsNoted.end(), tempName);
  if (it != tempsNoted.end()) tempsNoted.erase(it);
}

int OpenFolder(const std::string& folder) {
  return OpenRetrying(folder.empty() ? "." : folder.c_str(),
                      O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
}

}  // namespace

void SetUpProcess() {
  // A console that goes away (tembrix | head) or a file size limit must
  // not kill the run: the failed write is reported and the run goes on.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
#ifdef __GLIBC__
  // Each merge takes and gives back the same few blocks, and a site build
  // its lists of names, a few MiB each: keep them in the heap, so that what
  // one gives back the next uses, rather than mapping memory afresh (each
  // page of it a fault) and trimming it for every page of a list.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  // Workers share that heap: one more arena each would keep as much again.
  mallopt(M_ARENA_MAX, 1);
#endif
  RemoveTempsOnStop();
}

void RemoveTempsOnStop() {
  for (int sig : kStopSignals) {
    struct sigaction action;
    if (sigaction(sig, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) {
      continue;  // started with nohup or the like: stays ignored
    }
    std::memset(&action, 0, sizeof action);
    action.sa_handler = RemoveTempsAndDie;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
  }
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::string NameFromBytes(std::string bytes) { return bytes; }

bool IsSeparator(char c) { return c == '/'; }

namespace {

FileState StateOfStat(const struct stat& st) {
  auto ns = [](const struct timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
  };
  FileState state;
  state.id = IdentityOfStat(st);
  state.size = static_cast<std::uint64_t>(st.st_size);
  state.modified = ns(st.st_mtim);
  state.changed = ns(st.st_ctim);
  state.known = true;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  state.settled = ns(now) - state.changed >= kSettledNanoseconds;
  return state;
}

}  // namespace

FileHandle OpenForReading(const std::string& name, FileIdentity* id) {
  return OpenForReading(name, id, nullptr);
}

FileState StateOfFile(const std::string& name) {
  struct stat st;
  if (HoldsZeroByte(name) || stat(name.c_str(), &st) != 0 ||
      !S_ISREG(st.st_mode)) {
    return FileState();
  }
  return StateOfStat(st);
}

FileState StateOfFileNear(const std::string& name) {
  // The folder looked in last, open, on each thread.
  struct Near {
    std::string folder;
    FileHandle handle;
  };
  thread_local Near near;
  std::size_t cut = name.rfind('/');
  if (HoldsZeroByte(name) || cut == std::string::npos || cut == 0 ||
      cut + 1 == name.size()) {
    return StateOfFile(name);
  }
  if (name.compare(0, cut, near.folder) != 0 || !near.handle.valid()) {
    near.folder = name.substr(0, cut);
    near.handle = FileHandle(
        OpenRetrying(near.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0));
    if (!near.handle.valid()) {
      near.folder.clear();
      return StateOfFile(name);
    }
  }
  struct stat st;
  if (fstatat(near.handle.get(), name.c_str() + cut + 1, &st, 0) != 0 ||
      !S_ISREG(st.st_mode)) {
    return FileState();
  }
  return StateOfStat(st);
}

FileHandle OpenForReading(const std::string& name, FileIdentity* id,
                          FileState* state) {
  if (HoldsZeroByte(name)) return FileHandle();
  int fd = OpenRetrying(name.c_str(), kReadFlags, 0);
  if (fd < 0) return FileHandle();
  // Only a regular file reads as a page: a folder has no bytes, and a
  // device or FIFO may never end (/dev/zero) or never begin.
  FileHandle file(fd);
  struct stat st;
  if (fstat(fd, &st) != 0) return FileHandle();
  if (!S_ISREG(st.st_mode)) {
    file.Close();
    errno = S_ISDIR(st.st_mode) ? EISDIR : kNotRegularFile;
    return FileHandle();
  }
  if (id != nullptr) *id = IdentityOfStat(st);
  if (state != nullptr) *state = StateOfStat(st);
  return file;
}

std::ptrdiff_t ReadBlock(int fd, char* data, std::size_t size) {
  return Retrying([&] { return ::read(fd, data, size); });
}

std::ptrdiff_t ReadAt(int fd, char* data, std::size_t size,
                      std::uint64_t offset) {
  return Retrying(
      [&] { return ::pread(fd, data, size, static_cast<off_t>(offset)); });
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

bool SeekFile(int fd, std::uint64_t offset) {
  auto at = static_cast<off_t>(offset);
  return ::lseek(fd, at, SEEK_SET) == at;
}

bool CloseFile(int fd) {
  // Linux closes the descriptor even when close is interrupted.
  return ::close(fd) == 0 || errno == EINTR;
}

bool FindOutputTarget(const std::string& name, OutputTarget* target) {
  struct stat st;
  if (!FollowLinks(name, &target->path, &target->exists, &st)) return false;
  if (target->path.empty() || target->path.back() == '/') {
    errno = EISDIR;
    return false;
  }
  // Asked once: neither changes while the program runs.
  static const mode_t mask = [] {
    mode_t m = umask(0);
    umask(m);
    return m;
  }();
  static const uid_t user = geteuid();
  static const gid_t group = getegid();
  target->mode = kNewFileMode;
  if (!target->exists) return true;
  // Only a regular file is replaced: never a folder, a device or a FIFO.
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : kNotRegularFile;
    return false;
  }
  target->id = IdentityOfStat(st);
  // The temporary file may come later, at the first byte that differs:
  // its folder must take it.
  std::string folder = FolderOf(target->path);
  target->writable =
      access(target->path.c_str(), W_OK) == 0 &&
      access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) == 0;
  target->mode = st.st_mode & 07777;
  // A replaced page keeps its bits exactly: created with them when the umask
  // leaves them be (the common case, no further call), else set after.
  target->user = st.st_uid;
  target->group = st.st_gid;
  target->setOwner = st.st_uid != user || st.st_gid != group;
  target->setMode = target->setOwner || (target->mode & ~mask) != target->mode;
  return true;
}

FileHandle CreateTempFile(const std::string& tempName,
                          const OutputTarget& target, bool* bitsApplied) {
  SignalsHeld held;
  int fd = OpenRetrying(tempName.c_str(), kTempFlags,
                        target.setMode ? 0600 : target.mode);
  if (fd < 0) return FileHandle();
  {
    NotesHeld notes;
    tempsNoted.push_back(tempName);
  }
  // The owner where the system lets us give it (as root), then the bits,
  // which a change of owner may clear. Without its bits the page must not
  // replace the output.
  if (target.setOwner &&
      Retrying([&] { return fchown(fd, target.user, target.group); }) != 0) {
    // Not permitted (a file system that squashes root): the page becomes
    // ours, as a copy would.
  }
  if (target.setMode &&
      Retrying([&] { return fchmod(fd, target.mode); }) != 0) {
    *bitsApplied = false;
  }
  return FileHandle(fd);
}

const std::size_t MAX_WAITING_TEMPS = 1024;

bool CloseTemp(FileHandle file, bool flush) {
  int fd = file.get();
  // fdatasync leaves out only times the page does not need.
  bool flushed = !flush || Retrying([fd] { return fdatasync(fd); }) == 0;
  int error = errno;
  bool closed = file.Close();
  if (!flushed) errno = error;
  return closed && flushed;
}

bool PutInPlace(const std::string& tempName, const std::string& finalName,
                bool) {
  SignalsHeld held;
  if (Retrying([&] {
        return std::rename(tempName.c_str(), finalName.c_str());
      }) != 0) {
    return false;
  }
  Forget(tempName);
  return true;
}

std::string TempPrefix() {
  static const std::string prefix = [] {
    // The boot's identity: the first hex digits of its random id, "0"
    // where the system gives none.
    std::string boot;
    std::ifstream id("/proc/sys/kernel/random/boot_id");
    for (char c; boot.size() < 12 && id.get(c);) {
      if (std::isxdigit(static_cast<unsigned char>(c))) boot += c;
    }
    if (boot.empty()) boot = "0";
    return ".tembrix-" + boot + "-" + std::to_string(getpid()) + "-";
  }();
  return prefix;
}

void RemoveStaleTemps(const std::string& folder) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return;
  const std::string ours = TempPrefix();
  const std::string boot = ours.substr(9, ours.find('-', 9) - 9);
  while (const dirent* entry = readdir(dir)) {
    // ".tembrix-BOOT-PID-XXXXXX"
    std::string name = entry->d_name;
    std::size_t bootEnd = name.find('-', 9);
    std::size_t pidEnd = bootEnd == std::string::npos
                             ? std::string::npos
                             : name.find('-', bootEnd + 1);
    if (name.compare(0, 9, ".tembrix-") != 0 || pidEnd == std::string::npos ||
        name.size() != pidEnd + 7) {
      continue;
    }
    std::string pid = name.substr(bootEnd + 1, pidEnd - bootEnd - 1);
    if (pid.empty() || pid.size() > 9 ||
        pid.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    // A file of another boot is stale; where either boot is unknown, the
    // process alone tells.
    std::string fileBoot = name.substr(9, bootEnd - 9);
    bool otherBoot = fileBoot != boot && fileBoot != "0" && boot != "0";
    pid_t writer = static_cast<pid_t>(std::stol(pid));
    bool running = writer == getpid() || kill(writer, 0) == 0 || errno == EPERM;
    if (!otherBoot && running) continue;
    std::string path = folder + name;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      unlink(path.c_str());
    }
  }
  closedir(dir);
}

void RemoveTemp(const std::string& tempName) {
  SignalsHeld held;
  unlink(tempName.c_str());
  Forget(tempName);
}

bool SyncFileSystemOf(const FileHandle& folder,
                      std::vector<std::uint64_t>* flushed) {
  struct stat st;
  if (fstat(folder.get(), &st) != 0) return false;
  auto device = static_cast<std::uint64_t>(st.st_dev);
  if (std::find(flushed->begin(), flushed->end(), device) != flushed->end()) {
    return true;
  }
#ifdef __linux__
  if (Retrying([&] { return syncfs(folder.get()); }) != 0) return false;
#else
  sync();  // waits for the writes on the systems where syncfs is missing
#endif
  flushed->push_back(device);
  return true;
}

bool OpenFolderToFlush(const std::string& folder, FileHandle* handle) {
  *handle = FileHandle(OpenFolder(folder));
  return handle->valid();
}

bool FlushFolder(const FileHandle& folder) {
  // Once the entries are on the disk, a failed close loses nothing.
  return !folder.valid() || Retrying([&] { return fsync(folder.get()); }) == 0;
}

namespace {

// LookAtPath of `name` in the open folder `dir` (AT_FDCWD: a path).
PathKind LookAt(int dir, const char* name, bool* link, FileState* state) {
  struct stat st;
  *link = false;
  *state = FileState();
  if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return PathKind::kMissing;
  }
  *link = S_ISLNK(st.st_mode);
  if (*link && fstatat(dir, name, &st, 0) != 0) return PathKind::kMissing;
  *state = StateOfStat(st);
  return S_ISREG(st.st_mode)   ? PathKind::kFile
         : S_ISDIR(st.st_mode) ? PathKind::kFolder
                               : PathKind::kOther;
}

}  // namespace

PathKind LookAtPath(const std::string& path, bool* link, FileState* state) {
  if (HoldsZeroByte(path)) {
    *link = false;
    *state = FileState();
    return PathKind::kMissing;
  }
  return LookAt(AT_FDCWD, path.c_str(), link, state);
}

namespace {

// Calls found(dir, name) for each name in the folder `path` but "." and
// "..", `dir` being the open folder; false, with errno set, when it cannot
// be read.
template <typename Found>
bool EachName(const std::string& path, Found found) {
  DIR* dir = opendir(path.empty() ? "." : path.c_str());
  if (dir == nullptr) return false;
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 &&
        std::strcmp(entry->d_name, "..") != 0) {
      found(dirfd(dir), entry->d_name);
    }
    errno = 0;
  }
  int error = errno;
  closedir(dir);
  errno = error;
  return error == 0;
}

}  // namespace

bool LookInFolder(const std::string& path, std::vector<FoundEntry>* entries) {
  entries->clear();
  if (HoldsZeroByte(path)) {
    errno = ENOENT;
    return false;
  }
  return EachName(path, [entries](int dir, const char* name) {
    entries->emplace_back();
    FoundEntry& entry = entries->back();
    entry.name = name;
    entry.kind = LookAt(dir, name, &entry.link, &entry.state);
  });
}

PathKind KindOfPath(const std::string& path, bool* link, FileIdentity* id) {
  bool isLink = false;
  FileState state;
  PathKind kind = LookAtPath(path, &isLink, &state);
  if (link != nullptr) *link = isLink;
  if (id != nullptr && kind != PathKind::kMissing) *id = state.id;
  return kind;
}

bool ListFolder(const std::string& path, std::vector<std::string>* names) {
  names->clear();
  return EachName(path,
                  [names](int, const char* name) { names->push_back(name); });
}

bool MakeFolder(const std::string& path) {
  if (Retrying([&] { return ::mkdir(path.c_str(), 0777); }) == 0) return true;
  int error = errno;
  if (error == EEXIST && KindOfPath(path) == PathKind::kFolder) return true;
  errno = error == EEXIST ? ENOTDIR : error;
  return false;
}

std::string RecordFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  std::string folder;
  if (cache != nullptr && cache[0] == '/') {
    folder = cache;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return "";
    folder = std::string(home) + "/.cache";
  }
  // Made for this user alone: the record names the files of a site.
  ::mkdir(folder.c_str(), 0700);
  folder += "/tembrix";
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return "";
  return KindOfPath(folder) == PathKind::kFolder ? folder : "";
}

bool ReplaceSmallFile(const std::string& name, const std::string& bytes) {
  if (HoldsZeroByte(name)) return false;
  const std::string temp = name + ".new" + std::to_string(::getpid());
  int fd =
      OpenRetrying(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool written = WriteAll(fd, bytes.data(), bytes.size());
  written &= CloseFile(fd);
  if (written && ::rename(temp.c_str(), name.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

bool RemovePath(const std::string& path, bool folder) {
  return (folder ? ::rmdir(path.c_str()) : ::unlink(path.c_str())) == 0;
}

std::string FullPath(const std::string& path) {
  char* full = realpath(path.c_str(), nullptr);
  if (full == nullptr) return "";
  std::string result = full;
  free(full);
  return result;
}

std::string CaseKey(const std::string& name) {
  std::string key = name;
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return key;
}

bool IgnoresCase(const std::string& near) {
  // The folder's name with its letters' case turned must lead to it.
  std::string full = FullPath(near);
  std::size_t at = full.find_last_of('/');
  if (full.empty() || at == std::string::npos) return false;
  std::string turned = full;
  bool letters = false;
  for (std::size_t i = at + 1; i < turned.size(); ++i) {
    char c = turned[i];
    if (std::isalpha(static_cast<unsigned char>(c))) {
      turned[i] = std::islower(static_cast<unsigned char>(c))
                      ? static_cast<char>(std::toupper(c))
                      : static_cast<char>(std::tolower(c));
      letters = true;
    }
  }
  struct stat a, b;
  return letters && stat(full.c_str(), &a) == 0 &&
         stat(turned.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

void HoldStopSignals() {
  sigset_t stops;
  sigemptyset(&stops);
  for (int sig : kStopSignals) sigaddset(&stops, sig);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  stopsHeldForGood = true;
}

bool ErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void WriteErrorText(std::string_view text) {
  if (Captured(true, text)) return;
  std::cerr.write(text.data(), static_cast<std::streamsize>(text.size()));
  std::cerr.flush();
}

void WriteText(std::string_view text) {
  if (Captured(false, text)) return;
  ClearProgress();
  std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void WriteLine(std::string_view text) {
  if (Captured(false, text) && Captured(false, "\n")) return;
  WriteText(text);
  std::cout.put('\n');
  std::cout.flush();
  NoteConsoleWrite(static_cast<bool>(std::cout));
}

void WriteErrorLine(std::string_view text) {
  if (Captured(true, text) && Captured(true, "\n")) return;
  ClearProgress();
  std::cerr.write(text.data(), static_cast<std::streamsize>(text.size()));
  std::cerr.put('\n');
  std::cerr.flush();
}
