// What every platform shares on top of its own file layer: names, file
// identity, the steps of replacing an output, and the buffered sink that
// leaves an unchanged output as it is.
#include "merge/platform.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "merge/text.h"

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

// Stops comparing with the earlier page, which stays as it is.
void StopComparing(Sink& out) {
  if (out.file.oldFd >= 0) CloseFile(out.file.oldFd);
  out.file.oldFd = -1;
}

// The merged page differs from the earlier one from here on: the temporary
// file is created and given the bytes found equal so far, read back from
// the earlier page, so that no page is ever held whole.
void Diverge(Sink& out) {
  int oldFd = out.file.oldFd;
  out.file.oldFd = -1;
  if (!StartTemporary(out.file)) out.failed = true;
  // Most pages differ within the earlier page's first block, which is
  // still at hand.
  if (out.oldOffset == 0 && !out.failed) {
    if (out.same > 0) {
      WriteToFile(out, out.old.get(), static_cast<std::size_t>(out.same));
    }
    CloseFile(oldFd);
    return;
  }
  for (std::uint64_t at = 0; at < out.same && !out.failed;) {
    std::ptrdiff_t got =
        ReadAt(oldFd, out.old.get(),
               static_cast<std::size_t>(
                   std::min<std::uint64_t>(kBlockSize, out.same - at)),
               at);
    if (got <= 0) {
      out.failed = true;
      break;
    }
    WriteToFile(out, out.old.get(), static_cast<std::size_t>(got));
    at += static_cast<std::uint64_t>(got);
  }
  CloseFile(oldFd);
}

// How many of `size` bytes bound for the disk equal the earlier page's
// next bytes; fewer at the first difference, or where the earlier page
// ends or cannot be read.
std::size_t MatchEarlierPage(Sink& out, const char* data, std::size_t size) {
  // The block for the earlier page comes only when there is one to read.
  if (!out.old) out.old.reset(new char[kBlockSize]);
  std::size_t matched = 0;
  while (matched < size) {
    if (out.oldPos == out.oldEnd) {
      std::ptrdiff_t got = ReadBlock(out.file.oldFd, out.old.get(), kBlockSize);
      if (got <= 0) break;
      out.oldOffset += out.oldEnd;
      out.oldPos = 0;
      out.oldEnd = static_cast<std::size_t>(got);
    }
    std::size_t n = std::min(size - matched, out.oldEnd - out.oldPos);
    if (std::memcmp(data + matched, out.old.get() + out.oldPos, n) != 0) break;
    out.oldPos += n;
    out.same += n;
    matched += n;
  }
  return matched;
}

// Bytes as they are on the disk: compared while the earlier page holds
// them, written from the first that differs.
void Emit(Sink& out, const char* data, std::size_t size) {
  if (out.file.oldFd >= 0) {
    std::size_t matched = MatchEarlierPage(out, data, size);
    if (matched == size) return;
    Diverge(out);
    data += matched;
    size -= matched;
  }
  if (!out.failed && out.file.fd >= 0) WriteToFile(out, data, size);
}

// Merged bytes, in text mode where files have it: every newline as CR LF.
void EmitMerged(Sink& out, const char* data, std::size_t size) {
  if (!TEXT_MODE_FILES) return Emit(out, data, size);
  while (size > 0 && !out.failed) {
    std::size_t n = std::min(size, kBlockSize);
    Emit(out, out.encoded.get(), ToTextMode(data, n, out.encoded.get()));
    data += n;
    size -= n;
  }
}

void FlushBlock(Sink& out) {
  if (out.used > 0 && !out.failed) EmitMerged(out, out.block.get(), out.used);
  out.used = 0;
}

// True when the earlier page has no bytes beyond those compared.
bool EarlierPageEnds(Sink& out) {
  char probe;
  return out.oldPos == out.oldEnd && ReadBlock(out.file.oldFd, &probe, 1) == 0;
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
  out->target = target;
  out->finalName = target.path;
  if (target.exists) {
    for (std::size_t i = 0; i < count; ++i) {
      if (reading[i] != nullptr && SameFile(target.id, *reading[i])) {
        return OutputCheck::kBeingRead;
      }
    }
    // A file the user may not write is not replaced behind the user's back.
    if (!target.writable) return OutputCheck::kCannotCreate;
    // The earlier page may hold the merged bytes already: it is compared
    // first. One that cannot be read is simply replaced.
    out->oldFd = OpenForReading(target.path, nullptr);
    if (out->oldFd >= 0) return OutputCheck::kReady;
  }
  return StartTemporary(*out) ? OutputCheck::kReady
                              : OutputCheck::kCannotCreate;
}

bool StartTemporary(Replacement& file) {
  // A fresh name each time, created exclusively, so that a link or a file of
  // that name is never used.
  std::string folder = FolderOf(file.finalName);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string tempName = TempNameIn(folder);
    int fd = CreateTempFile(tempName, file.target, &file);
    if (fd >= 0) {
      file.fd = fd;
      file.tempName = tempName;
      return true;
    }
    if (errno != EEXIST) break;
  }
  return false;
}

Sink::Sink()
    : block(new char[kBlockSize]),
      encoded(TEXT_MODE_FILES ? new char[2 * kBlockSize] : nullptr) {}

Sink::~Sink() {
  if (file.fd >= 0) EndReplacement(file, false);
  StopComparing(*this);
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
  if ((out.file.fd < 0 && out.file.oldFd < 0) || out.failed) return;
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
    EmitMerged(out, data, size);
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
  FlushBlock(out);
  if (out.file.oldFd >= 0) {
    // Unchanged, or cut short by a read error: the earlier page stays.
    if (!keep || EarlierPageEnds(out)) {
      StopComparing(out);
      return !out.failed;
    }
    Diverge(out);
  }
  if (out.file.fd < 0) return !out.failed;
  if (!EndReplacement(out.file, keep && !out.failed)) out.failed = true;
  return !out.failed;
}
