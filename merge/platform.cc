// What every platform shares on top of its own file layer: names, file
// identity, and the buffered sink.
#include "merge/platform.h"

#include <cerrno>
#include <chrono>
#include <cstring>

bool HoldsZeroByte(const std::string& name) {
  return name.find('\0') != std::string::npos;
}

std::string FolderOf(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && !IsSeparator(path[end - 1])) --end;
  return path.substr(0, end);
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.device == b.device && a.index == b.index;
}

namespace {

// Writing to the disk starts behind the writes, a few MiB at a time, so a
// large page is mostly on its way by the time it replaces the output, where
// the file system may wait for it.
constexpr std::uint64_t kWritebackStep = 8 << 20;

void WriteToFile(Sink& out, const char* data, std::size_t size) {
  if (!WriteAll(out.file.fd, data, size)) {
    out.failed = true;
    return;
  }
  out.written += size;
  if (out.written - out.writeback >= kWritebackStep) {
    StartWriteback(out.file.fd, out.writeback, out.written - out.writeback);
    out.writeback = out.written;
  }
}

void FlushBlock(Sink& out) {
  if (out.used > 0 && !out.failed) WriteToFile(out, out.block.get(), out.used);
  out.used = 0;
}

}  // namespace

std::string TempNameIn(const std::string& folder) {
  static const char kChars[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::uint64_t state = 0;
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
  std::string name = folder + ".tembrix-";
  for (int i = 0; i < 6; ++i) {
    state ^= state << 13;  // xorshift: cheap, and plenty for a name
    state ^= state >> 7;
    state ^= state << 17;
    name += kChars[state % (sizeof kChars - 1)];
  }
  return name;
}

OutputCheck CreateReplacement(const std::string& name,
                              const FileIdentity* const* reading,
                              std::size_t count, Replacement* out) {
  OutputTarget target;
  if (HoldsZeroByte(name) || !FindOutputTarget(name, &target)) {
    return OutputCheck::kCannotCreate;
  }
  if (target.exists) {
    for (std::size_t i = 0; i < count; ++i) {
      if (reading[i] != nullptr && SameFile(target.id, *reading[i])) {
        return OutputCheck::kBeingRead;
      }
    }
    // A file the user may not write is not replaced behind the user's back.
    if (!target.writable) return OutputCheck::kCannotCreate;
  }
  // A fresh name each time, created exclusively, so that a link or a file of
  // that name is never used.
  std::string folder = FolderOf(target.path);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string tempName = TempNameIn(folder);
    int fd = CreateTempFile(tempName, target, out);
    if (fd >= 0) {
      out->fd = fd;
      out->tempName = tempName;
      out->finalName = target.path;
      return OutputCheck::kReady;
    }
    if (errno != EEXIST) break;
  }
  return OutputCheck::kCannotCreate;
}

Sink::Sink() : block(new char[kBlockSize]) {}

Sink::~Sink() {
  if (file.fd >= 0) EndReplacement(file, false);
}

void Write(Sink& out, const char* data, std::size_t size) {
  if (out.stream != nullptr) {
    if (out.stream->sputn(data, static_cast<std::streamsize>(size)) !=
        static_cast<std::streamsize>(size)) {
      out.failed = true;
    }
    return;
  }
  // After a failed write nothing more goes out: a later run must not land
  // in the file as if it followed what was lost.
  if (out.file.fd < 0 || out.failed) return;
  // Pieces gather in the block; a large run with nothing before it in the
  // block goes out as it is, saving the copy.
  bool large = size >= kBlockSize / 4;
  if (out.used + size <= kBlockSize && !(large && out.used == 0)) {
    std::memcpy(out.block.get() + out.used, data, size);
    out.used += size;
    return;
  }
  FlushBlock(out);
  if (out.failed) return;
  if (large) {
    WriteToFile(out, data, size);
  } else {
    std::memcpy(out.block.get(), data, size);
    out.used = size;
  }
}

bool FinishSink(Sink& out, bool keep) {
  if (out.stream != nullptr) {
    if (out.stream->pubsync() != 0) out.failed = true;
    return !out.failed;
  }
  if (out.file.fd < 0) return !out.failed;
  FlushBlock(out);
  if (!EndReplacement(out.file, keep && !out.failed)) out.failed = true;
  return !out.failed;
}
