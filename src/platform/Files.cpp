#include "platform/Files.hpp"

#include <atomic>
#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qr {

namespace {

// Names for the new file beside the old one, unique within this process.
std::atomic<unsigned> tempCounter{0};

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

#else

std::string ErrnoText(int code) { return std::strerror(code); }

// The directory part of a path, "." when it has none.
std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
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

// Flushes the file's data to the disk itself, not only to the drive's cache where it can.
bool SyncToDisk(int fd, int& code) {
#if defined(F_FULLFSYNC)
  if (::fcntl(fd, F_FULLFSYNC) == 0) return true;
#endif
  while (::fsync(fd) != 0) {
    if (errno == EINTR) continue;
    code = errno;
    return false;
  }
  return true;
}

#endif

}  // namespace

#if defined(_WIN32)

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string& error) {
  const std::string temp =
      path + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(tempCounter.fetch_add(1));
  HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
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

#else

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string& error) {
  std::string temp;
  int fd = -1;
  // A name left behind by a process that was killed while saving may exist already.
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(tempCounter.fetch_add(1));
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST && errno != EINTR) break;
  }
  if (fd < 0) {
    error = ErrnoText(errno);
    return false;
  }

  int code = 0;
  bool ok = WriteAll(fd, bytes, code) && SyncToDisk(fd, code);
  if (::close(fd) != 0 && ok) {
    code = errno;
    ok = false;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
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
  const int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

#endif

}  // namespace qr
