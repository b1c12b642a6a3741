// A fault-injection layer for the real program, loaded with LD_PRELOAD. It
// makes one system call fail on files whose path holds a chosen text:
//   FAULT_CALL   read, pread, write, close, open, rename, lseek, fchmod,
//                fchown, fdatasync, fsync, syncfs, or pthread_create (with
//                no path: the FAULT_AFTER-th thread and every later one
//                cannot start)
//   FAULT_PATH   text the path must hold
//   FAULT_AFTER  read and write: bytes that pass before the fault, which then
//                stays on that one file until it is closed; the others:
//                which matching call fails (1 is the first)
//   FAULT_ERRNO  the error number to fail with
//   FAULT_SLOW_US  instead of failing, sleep this long before each write
//   FAULT_SIGNAL   open and rename: instead of failing, the call is made and
//                this signal is then sent to the process; write: the signal
//                is sent when the bytes have passed, before the next write
// A failing close closes the file first, as Linux does.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Fault {
  const char* call = nullptr;
  const char* path = "";
  long after = 0;
  int error = EIO;
  long slowMicros = 0;
  int signal = 0;
  long bytes = 0;     // bytes passed so far, for read and write
  long calls = 0;     // matching calls so far, for open, close and rename
  int faultyFd = -1;  // the file the byte fault landed on; -2 once closed
  bool matched[4096] = {};
};

Fault& State() {
  static Fault* fault = [] {
    auto* f = new Fault;
    f->call = getenv("FAULT_CALL");
    if (const char* p = getenv("FAULT_PATH")) f->path = p;
    if (const char* a = getenv("FAULT_AFTER")) f->after = atol(a);
    if (const char* e = getenv("FAULT_ERRNO")) f->error = atoi(e);
    if (const char* s = getenv("FAULT_SLOW_US")) f->slowMicros = atol(s);
    if (const char* s = getenv("FAULT_SIGNAL")) f->signal = atoi(s);
    return f;
  }();
  return *fault;
}

bool Is(const char* call) {
  return State().call != nullptr && strcmp(State().call, call) == 0;
}

bool Matches(const char* path) {
  return path != nullptr && strstr(path, State().path) != nullptr;
}

bool Tracked(int fd) { return fd >= 0 && fd < 4096 && State().matched[fd]; }

template <typename F>
F Real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// The byte fault: how many of `size` bytes may pass, or -1 to fail now.
long Allow(int fd, size_t size) {
  Fault& f = State();
  if (f.faultyFd != -1) return fd == f.faultyFd ? -1 : static_cast<long>(size);
  long left = f.after - f.bytes;
  if (left <= 0) {
    f.faultyFd = fd;
    return -1;
  }
  return static_cast<long>(size) < left ? static_cast<long>(size) : left;
}

bool NthCall() { return ++State().calls == State().after; }

// Fails the call with the chosen error, or with FAULT_SIGNAL makes it and
// signals the process right after.
template <typename Call>
int FailOrSignal(Call call) {
  if (State().signal == 0) {
    errno = State().error;
    return -1;
  }
  int result = call();
  int saved = errno;
  kill(getpid(), State().signal);
  errno = saved;
  return result;
}

// A call on a descriptor that fails as FAULT_CALL says.
bool FailsOnFd(const char* call, int fd) {
  return Is(call) && Tracked(fd) && NthCall();
}

// A read or write of `size` bytes through `call` under the byte fault.
template <typename Call>
ssize_t PassBytes(int fd, size_t size, Call call) {
  long allowed = Allow(fd, size);
  if (allowed < 0 && State().signal != 0) {
    kill(getpid(), State().signal);
    allowed = static_cast<long>(size);  // a signal that is caught goes on
  } else if (allowed < 0) {
    errno = State().error;
    return -1;
  }
  ssize_t done = call(static_cast<size_t>(allowed));
  if (done > 0) State().bytes += done;
  return done;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  auto real = [&] {
    return Real<int (*)(const char*, int, ...)>("open")(path, flags, mode);
  };
  int fd =
      Is("open") && Matches(path) && NthCall() ? FailOrSignal(real) : real();
  if (fd >= 0 && fd < 4096) State().matched[fd] = Matches(path);
  return fd;
}

ssize_t read(int fd, void* data, size_t size) {
  auto real = Real<ssize_t (*)(int, void*, size_t)>("read");
  if (!Is("read") || !Tracked(fd)) return real(fd, data, size);
  return PassBytes(fd, size, [&](size_t n) { return real(fd, data, n); });
}

ssize_t pread(int fd, void* data, size_t size, off_t offset) {
  auto real = Real<ssize_t (*)(int, void*, size_t, off_t)>("pread");
  if (!Is("pread") || !Tracked(fd)) return real(fd, data, size, offset);
  return PassBytes(fd, size,
                   [&](size_t n) { return real(fd, data, n, offset); });
}

ssize_t write(int fd, const void* data, size_t size) {
  auto real = Real<ssize_t (*)(int, const void*, size_t)>("write");
  if (!Tracked(fd)) return real(fd, data, size);
  if (State().slowMicros > 0)
    usleep(static_cast<useconds_t>(State().slowMicros));
  if (!Is("write")) return real(fd, data, size);
  return PassBytes(fd, size, [&](size_t n) { return real(fd, data, n); });
}

int close(int fd) {
  bool fail = FailsOnFd("close", fd);
  if (fd == State().faultyFd) State().faultyFd = -2;  // the fault is spent
  if (fd >= 0 && fd < 4096) State().matched[fd] = false;
  int result = Real<int (*)(int)>("close")(fd);
  if (fail) {
    errno = State().error;
    return -1;
  }
  return result;
}

int rename(const char* from, const char* to) {
  auto real = [&] {
    return Real<int (*)(const char*, const char*)>("rename")(from, to);
  };
  if (Is("rename") && (Matches(from) || Matches(to)) && NthCall()) {
    return FailOrSignal(real);
  }
  return real();
}

off_t lseek(int fd, off_t offset, int whence) {
  if (FailsOnFd("lseek", fd)) {
    errno = State().error;
    return -1;
  }
  return Real<off_t (*)(int, off_t, int)>("lseek")(fd, offset, whence);
}

int fchmod(int fd, mode_t mode) {
  if (FailsOnFd("fchmod", fd)) {
    errno = State().error;
    return -1;
  }
  return Real<int (*)(int, mode_t)>("fchmod")(fd, mode);
}

int fchown(int fd, uid_t user, gid_t group) {
  if (FailsOnFd("fchown", fd)) {
    errno = State().error;
    return -1;
  }
  return Real<int (*)(int, uid_t, gid_t)>("fchown")(fd, user, group);
}

// The flushes: each fails on a file or folder whose path matched.
int fdatasync(int fd) {
  if (FailsOnFd("fdatasync", fd)) {
    errno = State().error;
    return -1;
  }
  return Real<int (*)(int)>("fdatasync")(fd);
}

int fsync(int fd) {
  if (FailsOnFd("fsync", fd)) {
    errno = State().error;
    return -1;
  }
  return Real<int (*)(int)>("fsync")(fd);
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attr,
                   void* (*start)(void*), void* arg) {
  if (Is("pthread_create") && ++State().calls >= State().after) return EAGAIN;
  return Real<int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*),
                      void*)>("pthread_create")(thread, attr, start, arg);
}

int syncfs(int fd) {
  if (FailsOnFd("syncfs", fd)) {
    errno = State().error;
    return -1;
  }
  return Real<int (*)(int)>("syncfs")(fd);
}

}  // extern "C"
