#include "hosts/desktop/Files.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qr {

namespace {

// Names for the new file beside the old one, unique within this process.
std::atomic<unsigned> tempCounter{0};

constexpr const char* kNotRegular = "not a regular file";

// The "PID" of a name "<base>.tmp-PID-N" (both whole decimal numbers), or 0 when the name has
// another form.
unsigned long TempFilePid(std::string_view name, std::string_view base) {
  const std::string_view mark = ".tmp-";
  if (name.size() <= base.size() + mark.size() || name.substr(0, base.size()) != base ||
      name.substr(base.size(), mark.size()) != mark) {
    return 0;
  }
  name.remove_prefix(base.size() + mark.size());
  unsigned long pid = 0;
  std::size_t i = 0;
  for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
    pid = pid * 10 + static_cast<unsigned long>(name[i] - '0');
    if (pid > INT_MAX) return 0;
  }
  if (i == 0 || i + 1 >= name.size() || name[i] != '-') return 0;
  for (++i; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
  }
  return pid;
}

#if defined(_WIN32)

std::string LastErrorText() {
  const DWORD code = GetLastError();
  char buffer[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                                 static_cast<DWORD>(sizeof buffer), nullptr);
  std::string text(buffer, n);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == '.')) text.pop_back();
  return text.empty() ? "error " + std::to_string(code) : text;
}

// The directory part of a path with its separator, "" when it has none.
std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

#else

std::string ErrnoText(int code) { return std::strerror(code); }

int (*syncFile)(int) = nullptr;  // nullptr: fsync

// The directory part of a path, "." when it has none.
std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file that path names once every symbolic link at its end is followed (a link to a link
// too). A name that is no link, or names nothing yet, is its own target.
bool FollowLinks(const std::string& path, std::string& target, int& code) {
  target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    std::string link(PATH_MAX, '\0');
    const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
    if (n < 0) {
      code = errno;
      return false;
    }
    link.resize(static_cast<std::size_t>(n));
    if (link.empty()) {
      code = ENOENT;
      return false;
    }
    target = link[0] == '/' ? link : DirectoryOf(target) + "/" + link;
  }
  code = ELOOP;
  return false;
}

bool WriteAll(int fd, std::string_view bytes, int& code) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      code = errno;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// Flushes the file's data to the disk itself, not only to the drive's cache where it can. A file
// system that cannot flush at all (EINVAL, ENOTSUP) keeps the file all the same.
bool SyncToDisk(int fd, int& code) {
#if defined(F_FULLFSYNC)
  if (syncFile == nullptr && ::fcntl(fd, F_FULLFSYNC) == 0) return true;
#endif
  while ((syncFile != nullptr ? syncFile(fd) : ::fsync(fd)) != 0) {
    if (errno == EINTR) continue;
    if (errno == EINVAL || errno == ENOTSUP || errno == EOPNOTSUPP) return true;  // saved, not synced
    code = errno;
    return false;
  }
  return true;
}

// Gives the new file fd the old file's owner (where the player may) and permissions, or those of
// a new file.
bool TakeOverMode(int fd, const struct stat* old, int& code) {
  if (old != nullptr && ::fchown(fd, old->st_uid, old->st_gid) != 0 && errno != EPERM) {
    code = errno;
    return false;
  }
  const mode_t mode = old != nullptr ? (old->st_mode & 0777) : 0600;
  if (::fchmod(fd, mode) != 0) {
    code = errno;
    return false;
  }
  return true;
}

#endif

}  // namespace

#if defined(_WIN32)

LoadedFile ReadDataFile(const std::string& path, std::size_t limit) {
  LoadedFile result;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return result;
    result.status = LoadedFile::Status::Unreadable;
    result.reason = LastErrorText();
    return result;
  }
  result.status = LoadedFile::Status::Unreadable;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    result.reason = kNotRegular;
    return result;
  }
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    result.reason = LastErrorText();
    return result;
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    result.reason = kNotRegular;
    return result;
  }
  std::string bytes(limit + 1, '\0');
  std::size_t got = 0;
  bool ok = true;
  while (ok && got < bytes.size()) {
    DWORD n = 0;
    const std::size_t want = bytes.size() - got;
    ok =
        ReadFile(file, bytes.data() + got, want > 0x10000000 ? 0x10000000 : static_cast<DWORD>(want), &n, nullptr) != 0;
    if (ok && n == 0) break;
    got += n;
  }
  if (!ok) result.reason = LastErrorText();
  CloseHandle(file);
  if (!ok) return result;
  if (got > limit) {
    result.reason = "larger than " + std::to_string(limit) + " bytes";
    return result;
  }
  bytes.resize(got);
  result.status = LoadedFile::Status::Ok;
  result.bytes = std::move(bytes);
  return result;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string& error) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      error = kNotRegular;
      return false;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      error = "the file is read-only";
      return false;
    }
  }
  std::string temp;
  HANDLE file = INVALID_HANDLE_VALUE;
  // A name left behind by a process that was killed while saving may exist already.
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temp = path + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(tempCounter.fetch_add(1));
    file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
      break;
    }
  }
  if (file == INVALID_HANDLE_VALUE) {
    error = LastErrorText();
    return false;
  }
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  bool ok = true;
  while (ok && left > 0) {
    DWORD written = 0;
    const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
    ok = WriteFile(file, p, chunk, &written, nullptr) != 0;
    p += written;
    left -= written;
  }
  if (ok) ok = FlushFileBuffers(file) != 0;
  if (!ok) error = LastErrorText();
  CloseHandle(file);
  if (ok && MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    error = LastErrorText();
    ok = false;
  }
  if (!ok) DeleteFileA(temp.c_str());
  return ok;
}

bool CreateDirectories(const std::string& dir, std::string& error) {
  std::string path = dir;
  while (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '\\' && path[i] != '/') continue;
    const std::string part = path.substr(0, i);
    if (part.empty() || part.back() == ':') continue;  // a drive or a server
    if (CreateDirectoryA(part.c_str(), nullptr) != 0) continue;
    const DWORD code = GetLastError();
    const DWORD attributes = GetFileAttributesA(part.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      error = "Not a directory";  // a file has the name; Windows would say that it "already exists"
      return false;
    }
    SetLastError(code);
    error = LastErrorText();
    return false;
  }
  return true;
}

void RemoveStaleTempFiles(const std::string& path) {
  const std::string dir = DirectoryOf(path);
  const std::string base = path.substr(dir.size());
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path + ".tmp-*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const unsigned long pid = TempFilePid(found.cFileName, base);
    if (pid == 0 || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    // A process that has ended keeps its id while anyone still holds a handle to it.
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    bool ended = process == nullptr && GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
    if (process != nullptr) {
      ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
      CloseHandle(process);
    }
    if (ended) DeleteFileA((dir + found.cFileName).c_str());
  } while (FindNextFileA(search, &found) != 0);
  FindClose(search);
}

#else

LoadedFile ReadDataFile(const std::string& path, std::size_t limit) {
  LoadedFile result;
  // Looked at before it is opened, so that no device is opened, and again once it is open, in
  // case another file took its name meanwhile. Opening never waits (a FIFO would wait for a
  // writer for good).
  struct stat st {};
  const bool found = ::stat(path.c_str(), &st) == 0;
  if (!found && (errno == ENOENT || errno == ENOTDIR)) return result;
  result.status = LoadedFile::Status::Unreadable;
  if (!found) {
    result.reason = ErrnoText(errno);
    return result;
  }
  if (!S_ISREG(st.st_mode)) {
    result.reason = kNotRegular;
    return result;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    result.reason = ErrnoText(errno);
    return result;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    result.reason = kNotRegular;
    return result;
  }

  std::string bytes(limit + 1, '\0');
  std::size_t got = 0;
  int code = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) code = errno;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (code != 0) {
    result.reason = ErrnoText(code);
  } else if (got > limit) {
    result.reason = "larger than " + std::to_string(limit) + " bytes";
  } else {
    bytes.resize(got);
    result.status = LoadedFile::Status::Ok;
    result.bytes = std::move(bytes);
  }
  return result;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string& error) {
  std::string target;
  int code = 0;
  if (!FollowLinks(path, target, code)) {
    error = ErrnoText(code);
    return false;
  }
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) {
    error = ErrnoText(errno);
    return false;
  }
  if (exists && !S_ISREG(old.st_mode)) {
    error = kNotRegular;
    return false;
  }
  if (exists && ((old.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)) {
    error = (old.st_mode & 0222) == 0 ? "the file is read-only" : ErrnoText(errno);
    return false;
  }

  std::string temp;
  int fd = -1;
  // A name left behind by a process that was killed while saving may exist already.
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(tempCounter.fetch_add(1));
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST && errno != EINTR) break;
  }
  if (fd < 0) {
    error = ErrnoText(errno);
    return false;
  }

  bool ok = TakeOverMode(fd, exists ? &old : nullptr, code) && WriteAll(fd, bytes, code) && SyncToDisk(fd, code);
  if (::close(fd) != 0 && ok) {
    code = errno;
    ok = false;
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    code = errno;
    ok = false;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    error = ErrnoText(code);
    return false;
  }

  // Makes the rename itself durable. Should this fail, the directory still names either the old
  // file or the new one, so the save stands.
  const int dir = ::open(DirectoryOf(target).c_str(), O_RDONLY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

bool CreateDirectories(const std::string& dir, std::string& error) {
  std::string path = dir;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') continue;
    const std::string part = path.substr(0, i);
    if (::mkdir(part.c_str(), 0700) == 0) continue;
    const int code = errno;
    struct stat st {};
    if (::stat(part.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    error = ErrnoText(code == EEXIST ? ENOTDIR : code);
    return false;
  }
  return true;
}

void RemoveStaleTempFiles(const std::string& path) {
  std::string target;
  int code = 0;
  if (!FollowLinks(path, target, code)) return;
  const std::string base = NameOf(target);
  DIR* dir = ::opendir(DirectoryOf(target).c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const unsigned long pid = TempFilePid(entry->d_name, base);
    if (pid == 0) continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == -1 && errno == ESRCH) ::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
}

void SetFileSyncForTests(int (*sync)(int fd)) { syncFile = sync; }

#endif

namespace {

// Tries take() every few milliseconds until it holds or timeoutMs have passed.
template <typename Take>
bool KeepTrying(int timeoutMs, Take take) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (take()) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

#if defined(_WIN32)

bool CheckOutputFile(const std::string& path, std::string& error) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
      error = LastErrorText();
      return false;
    }
    const std::string dir = DirectoryOf(path);
    const DWORD dirAttributes = GetFileAttributesA(dir.empty() ? "." : dir.c_str());
    if (dirAttributes == INVALID_FILE_ATTRIBUTES || (dirAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      error = "no such directory";
      return false;
    }
    return true;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || (attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
    error = kNotRegular;
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    error = "the file is read-only";
    return false;
  }
  return true;
}

bool FileLock::Lock(const std::string& path, int timeoutMs, std::string& error) {
  Unlock();
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = LastErrorText();
    return false;
  }
  const bool held = KeepTrying(timeoutMs, [&] {
    OVERLAPPED whole{};
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole) != 0;
  });
  if (!held) {
    error = "another game holds it";
    CloseHandle(file);
    return false;
  }
  handle_ = file;
  return true;
}

void FileLock::Unlock() {
  if (handle_ == nullptr) return;
  OVERLAPPED whole{};
  UnlockFileEx(static_cast<HANDLE>(handle_), 0, 1, 0, &whole);
  CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
}

bool FileLock::Held() const { return handle_ != nullptr; }

#else

bool CheckOutputFile(const std::string& path, std::string& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      error = kNotRegular;
      return false;
    }
    if ((st.st_mode & 0222) == 0) {
      error = "the file is read-only";
      return false;
    }
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
      error = ErrnoText(errno);
      return false;
    }
    return true;
  }
  if (errno != ENOENT) {
    error = ErrnoText(errno);
    return false;
  }
  const std::string dir = DirectoryOf(path);
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = "no such directory";
    return false;
  }
  if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    error = ErrnoText(errno);
    return false;
  }
  return true;
}

bool FileLock::Lock(const std::string& path, int timeoutMs, std::string& error) {
  Unlock();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  if (fd < 0) {
    error = ErrnoText(errno);
    return false;
  }
  int code = 0;
  const bool held = KeepTrying(timeoutMs, [&] {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    code = errno;
    return false;
  });
  if (!held) {
    error = code == EWOULDBLOCK ? "another game holds it" : ErrnoText(code);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void FileLock::Unlock() {
  if (fd_ < 0) return;
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
}

bool FileLock::Held() const { return fd_ >= 0; }

#endif

void RemoveDataFile(const std::string& path) {
#if defined(_WIN32)
  DeleteFileA(path.c_str());
#else
  ::unlink(path.c_str());
#endif
}

}  // namespace qr
