// The system on Windows: names are UTF-8 inside the program and reach the
// system through its wide-character API, so a name opens the file Explorer
// shows under it in any script; pages are written as text-mode files hold
// them (CR LF); outputs are replaced by MoveFileExW; console lines are
// written to a console window as characters.
#include "platform/system.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "platform/replace.h"
#include "platform/text.h"
#include "platform/wide_win32.h"

const char* const OUTPUT_PREFIX = "temb\\";
const char kSeparator = '\\';

std::wstring Widen(const std::string& text, unsigned codePage) {
  if (text.empty()) return std::wstring();
  int size = MultiByteToWideChar(codePage, 0, text.data(),
                                 static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                      wide.data(), size);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(),
                                 static_cast<int>(wide.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                      text.data(), size, nullptr, nullptr);
  return text;
}

const bool PARALLEL_WRITES = false;
const bool TEXT_MODE_FILES = true;

namespace {

// The errno closest to the last Windows error, for the words shown.
int ErrnoOfLastError() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

// Pages and lists are read as bytes: the reader undoes text mode itself, so
// that a 0x1A inside a page is data. The temporary output is written as
// bytes too: the sink has already made every newline CR LF, as it compares
// with the earlier page. No handle is inherited.
constexpr int kReadFlags = _O_RDONLY | _O_BINARY | _O_NOINHERIT;
constexpr int kTempFlags =
    _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT;

// A path may be longer than MAX_PATH only as a "\\?\" full path, which
// the system takes as it stands; shorter ones are left as they are.
constexpr std::size_t kShortPath = MAX_PATH - 12;

// The wide path the system is given for a name of the program's own.
std::wstring SystemPath(const std::string& name) {
  std::wstring wide = Widen(name, IsValidUtf8(name) ? CP_UTF8 : CP_ACP);
  if (wide.size() < kShortPath || wide.compare(0, 4, L"\\\\?\\") == 0) {
    return wide;
  }
  DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return wide;
  std::wstring full(size, L'\0');
  size = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  full.resize(size);
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

FileIdentity IdentityOfHandle(HANDLE handle) {
  FileIdentity id;
  BY_HANDLE_FILE_INFORMATION info;
  if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK &&
      GetFileInformationByHandle(handle, &info) &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    id.device = info.dwVolumeSerialNumber;
    id.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) |
               info.nFileIndexLow;
    id.known = true;
  }
  return id;
}

// Identity of the file at `path`, opened for no access at all, so that a
// file open elsewhere or read-only still answers.
FileIdentity IdentityOfPath(const std::wstring& path) {
  HANDLE handle = CreateFileW(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  FileIdentity id = IdentityOfHandle(handle);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  return id;
}

// The temporary file being written, for the console control handler to
// remove. The handler runs on a thread of its own: the lock keeps the file
// and this note of it together.
CRITICAL_SECTION tempLock;
int tempFd = -1;
wchar_t tempPath[32768];

class TempHeld {
 public:
  TempHeld() { EnterCriticalSection(&tempLock); }
  ~TempHeld() { LeaveCriticalSection(&tempLock); }
  TempHeld(const TempHeld&) = delete;
  TempHeld& operator=(const TempHeld&) = delete;
};

void NoteTemp(int fd, const std::wstring& path) {
  if (path.size() >= sizeof tempPath / sizeof tempPath[0]) return;
  std::copy(path.begin(), path.end(), tempPath);
  tempPath[path.size()] = L'\0';
  tempFd = fd;
}

// Ctrl-C, Ctrl-Break or the console window closing: the temporary file is
// closed (it is open without delete sharing) and removed, and the program
// ends with the status the system's own handler gives. The lock is never
// given back, so the merge can neither replace the output nor start another
// file meanwhile; the program ends at once, with no clean-up that could
// wait on what the merge holds.
BOOL WINAPI RemoveTempAndEnd(DWORD) {
  EnterCriticalSection(&tempLock);
  if (tempFd >= 0) _close(tempFd);
  if (tempPath[0] != L'\0') DeleteFileW(tempPath);
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return TRUE;
}

bool IsConsole(DWORD which) {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

// Writes `text` to the standard output or error, `which`: as characters to
// a console window, so names appear as they were typed; as UTF-8 elsewhere.
// `toConsole` says which, asked once per handle.
void WriteTo(DWORD which, bool toConsole, std::ostream& stream,
             std::string_view text) {
  if (!toConsole) {
    stream.write(text.data(), static_cast<std::streamsize>(text.size()));
    return;
  }
  std::wstring wide = Widen(std::string(text), CP_UTF8);
  DWORD written;
  if (WriteConsoleW(GetStdHandle(which), wide.data(),
                    static_cast<DWORD>(wide.size()), &written, nullptr) == 0 &&
      which == STD_OUTPUT_HANDLE) {
    errno = EIO;
    NoteConsoleWrite(false);
  }
}

}  // namespace

void SetUpProcess() {
  // No dialog box for a drive with no disk in it: the open just fails.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  RemoveTempsOnStop();
}

void RemoveTempsOnStop() {
  InitializeCriticalSection(&tempLock);
  SetConsoleCtrlHandler(RemoveTempAndEnd, TRUE);
}

std::vector<std::string> ProgramArguments(int, char**) {
  // The narrow arguments hold only what the code page can say: read the
  // wide command line instead.
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) args.push_back(Narrow(wide[i]));
  LocalFree(wide);
  return args;
}

std::string NameFromBytes(std::string bytes) {
  if (IsValidUtf8(bytes)) return bytes;
  return Narrow(Widen(bytes, CP_ACP));
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

FileHandle OpenForReading(const std::string& name, FileIdentity* id) {
  if (HoldsZeroByte(name)) return FileHandle();
  int fd = _wopen(SystemPath(name).c_str(), kReadFlags);
  if (fd < 0) return FileHandle();
  // Only a regular file reads as a page: never a device such as nul or con.
  FileIdentity found =
      IdentityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
  if (!found.known) {
    _close(fd);
    errno = kNotRegularFile;
    return FileHandle();
  }
  if (id != nullptr) *id = found;
  return FileHandle(fd);
}

// Windows tells a file's times only through a handle of its own: the state
// is left unknown, and a file is read again each time.
FileHandle OpenForReading(const std::string& name, FileIdentity* id,
                          FileState* state) {
  if (state != nullptr) *state = FileState();
  return OpenForReading(name, id);
}

FileState StateOfFile(const std::string&) { return FileState(); }

FileState StateOfFileNear(const std::string&) { return FileState(); }

std::string RecordFolder() { return ""; }

bool ReplaceSmallFile(const std::string&, const std::string&) { return false; }

std::ptrdiff_t ReadBlock(int fd, char* data, std::size_t size) {
  return _read(fd, data, static_cast<unsigned int>(size));
}

std::ptrdiff_t ReadAt(int fd, char* data, std::size_t size,
                      std::uint64_t offset) {
  if (_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0) return -1;
  return ReadBlock(fd, data, size);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    std::size_t chunk = std::min<std::size_t>(size, std::size_t{1} << 30);
    int written = _write(fd, data, static_cast<unsigned int>(chunk));
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

void StartWriteback(int, std::uint64_t, std::uint64_t) {}

bool SeekFile(int fd, std::uint64_t offset) {
  auto at = static_cast<__int64>(offset);
  return _lseeki64(fd, at, SEEK_SET) == at;
}

bool CloseFile(int fd) { return _close(fd) == 0; }

bool FindOutputTarget(const std::string& name, OutputTarget* target) {
  // A device name opens the device in any folder: nothing is written there.
  if (NamesWindowsDevice(name) || name.empty() || IsSeparator(name.back())) {
    return false;
  }
  target->path = name;
  target->mode = _S_IREAD | _S_IWRITE;
  std::wstring path = SystemPath(name);
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  // Only a regular file the user may write is replaced.
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY |
                     FILE_ATTRIBUTE_DEVICE)) != 0) {
    return false;
  }
  target->exists = true;
  target->id = IdentityOfPath(path);
  return target->id.known;
}

FileHandle CreateTempFile(const std::string& tempName,
                          const OutputTarget& target, bool*) {
  TempHeld held;
  int fd = _wopen(SystemPath(tempName).c_str(), kTempFlags,
                  static_cast<int>(target.mode));
  if (fd >= 0) NoteTemp(fd, SystemPath(tempName));
  return FileHandle(fd);
}

// Each file is flushed as it is closed and each move is written through,
// so nothing waits for a later flush.
const std::size_t MAX_WAITING_TEMPS = 1;

bool CloseTemp(FileHandle file, bool flush) {
  int fd = file.get();
  TempHeld held;
  bool flushed =
      !flush ||
      FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != 0;
  int error = flushed ? 0 : ErrnoOfLastError();
  tempFd = -1;
  bool closed = file.Close();
  if (!flushed) errno = error;
  return closed && flushed;
}

bool PutInPlace(const std::string& tempName, const std::string& finalName,
                bool writeThrough) {
  TempHeld held;
  DWORD flags = MOVEFILE_REPLACE_EXISTING;
  if (writeThrough) flags |= MOVEFILE_WRITE_THROUGH;
  if (MoveFileExW(SystemPath(tempName).c_str(), SystemPath(finalName).c_str(),
                  flags) == 0) {
    errno = ErrnoOfLastError();
    return false;
  }
  tempPath[0] = L'\0';
  return true;
}

std::string TempPrefix() {
  // Windows gives no boot identity that every process reads alike: "0",
  // and the process alone tells whether a file is still in use.
  static const std::string prefix =
      ".tembrix-0-" + std::to_string(GetCurrentProcessId()) + "-";
  return prefix;
}

void RemoveStaleTemps(const std::string& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search =
      FindFirstFileW(SystemPath(folder + ".tembrix-0-*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    // ".tembrix-0-PID-XXXXXX"
    std::string name = Narrow(found.cFileName);
    std::size_t pidEnd = name.find('-', 11);
    if (pidEnd == std::string::npos || name.size() != pidEnd + 7 ||
        pidEnd == 11 || pidEnd > 21 ||
        name.find_first_not_of("0123456789", 11) != pidEnd ||
        (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      continue;
    }
    DWORD pid = static_cast<DWORD>(std::stoul(name.substr(11, pidEnd - 11)));
    bool running = pid == GetCurrentProcessId();
    if (HANDLE process =
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
      DWORD code = 0;
      running = GetExitCodeProcess(process, &code) == 0 || code == STILL_ACTIVE;
      CloseHandle(process);
    } else {
      // Denied: a process of another user runs under that number.
      running |= GetLastError() == ERROR_ACCESS_DENIED;
    }
    if (!running) DeleteFileW(SystemPath(folder + name).c_str());
  } while (FindNextFileW(search, &found) != 0);
  FindClose(search);
}

void RemoveTemp(const std::string& tempName) {
  TempHeld held;
  DeleteFileW(SystemPath(tempName).c_str());
  tempPath[0] = L'\0';
}

bool SyncFileSystemOf(const FileHandle&, std::vector<std::uint64_t>*) {
  return true;
}

bool OpenFolderToFlush(const std::string&, FileHandle* handle) {
  *handle = FileHandle();
  return true;
}

bool FlushFolder(const FileHandle&) { return true; }

PathKind KindOfPath(const std::string& path, bool* link, FileIdentity* id) {
  if (link != nullptr) *link = false;
  if (HoldsZeroByte(path)) return PathKind::kMissing;
  std::wstring wide = SystemPath(path);
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
  if (link != nullptr) {
    *link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kFolder;
  FileIdentity found = IdentityOfPath(wide);
  if (id != nullptr) *id = found;
  return found.known ? PathKind::kFile : PathKind::kOther;
}

PathKind LookAtPath(const std::string& path, bool* link, FileState* state) {
  *state = FileState();
  return KindOfPath(path, link, &state->id);
}

bool LookInFolder(const std::string& path, std::vector<FoundEntry>* entries) {
  entries->clear();
  std::vector<std::string> names;
  if (!ListFolder(path, &names)) return false;
  std::string folder = path;
  if (!folder.empty() && !IsSeparator(folder.back())) folder += '\\';
  for (std::string& name : names) {
    entries->emplace_back();
    FoundEntry& entry = entries->back();
    entry.kind = LookAtPath(folder + name, &entry.link, &entry.state);
    entry.name = std::move(name);
  }
  return true;
}

bool ListFolder(const std::string& path, std::vector<std::string>* names) {
  names->clear();
  std::wstring pattern = SystemPath(path.empty() ? "." : path);
  if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') {
    pattern += L'\\';
  }
  pattern += L'*';
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(pattern.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) {
    errno = ErrnoOfLastError();
    return false;
  }
  do {
    std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names->push_back(Narrow(name));
  } while (FindNextFileW(find, &found));
  bool whole = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(find);
  if (!whole) errno = EIO;
  return whole;
}

bool MakeFolder(const std::string& path) {
  if (CreateDirectoryW(SystemPath(path).c_str(), nullptr)) return true;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    if (KindOfPath(path) == PathKind::kFolder) return true;
    errno = ENOTDIR;
    return false;
  }
  errno = ErrnoOfLastError();
  return false;
}

bool RemovePath(const std::string& path, bool folder) {
  std::wstring wide = SystemPath(path);
  if (folder ? RemoveDirectoryW(wide.c_str()) : DeleteFileW(wide.c_str())) {
    return true;
  }
  errno = ErrnoOfLastError();
  return false;
}

std::string FullPath(const std::string& path) {
  std::wstring wide = Widen(path, IsValidUtf8(path) ? CP_UTF8 : CP_ACP);
  DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return "";
  std::wstring full(size, L'\0');
  size = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  full.resize(size);
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  return Narrow(full);
}

bool IgnoresCase(const std::string&) { return true; }

std::string CaseKey(const std::string& name) {
  std::wstring wide = Widen(name, CP_UTF8);
  CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  return Narrow(wide);
}

void HoldStopSignals() {}

bool ErrorIsTerminal() { return IsConsole(STD_ERROR_HANDLE); }

void WriteErrorText(std::string_view text) {
  if (Captured(true, text)) return;
  static const bool toConsole = IsConsole(STD_ERROR_HANDLE);
  WriteTo(STD_ERROR_HANDLE, toConsole, std::cerr, text);
  std::cerr.flush();
}

void WriteText(std::string_view text) {
  if (Captured(false, text)) return;
  ClearProgress();
  static const bool toConsole = IsConsole(STD_OUTPUT_HANDLE);
  WriteTo(STD_OUTPUT_HANDLE, toConsole, std::cout, text);
}

void WriteLine(std::string_view text) {
  if (Captured(false, text) && Captured(false, "\n")) return;
  WriteText(text);
  WriteText("\n");
  std::cout.flush();
  NoteConsoleWrite(static_cast<bool>(std::cout));
}

void WriteErrorLine(std::string_view text) {
  if (Captured(true, text) && Captured(true, "\n")) return;
  ClearProgress();
  WriteErrorText(std::string(text) + "\n");
}
