#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "machine/Host.hpp"

namespace qr {

// Reads the file at path whole, when it is a regular file of at most limit bytes. Never blocks on
// what is not a regular file (a FIFO, a device): that counts as unreadable, as does a larger file;
// reason is then a short phrase ("not a regular file", "Permission denied", ...).
LoadedFile ReadDataFile(const std::string& path, std::size_t limit);

// Replaces the file at path with bytes so that a crash or a power loss at any moment leaves
// either the old file or the new one, never a mix or an empty file: the bytes go to a new file
// in the same directory, are flushed to the disk, and that file is renamed over the old one.
// A symbolic link at path is followed: its target is replaced, in the target's directory. The
// new file keeps the old one's permissions (and owner, where the player may give it away); a
// new file is readable and writable by the player alone. A file that is not a regular file, or
// that the player may not write (read-only counts, even for root), is not replaced. A file
// system that cannot flush a file to the disk still gets the file. The directory must exist.
// On failure returns false with the reason in error; the old file is then untouched.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string& error);

// Creates the directory dir and its missing parents, each readable by the player alone (0700).
// True when dir is a directory afterwards; otherwise false with the reason in error.
bool CreateDirectories(const std::string& dir, std::string& error);

// Removes the new files that WriteFileAtomically left beside path (path.tmp-PID-N) when its
// process died during a save: only names of exactly that form whose process no longer exists.
void RemoveStaleTempFiles(const std::string& path);

// Removes the file at path, if there is one.
void RemoveDataFile(const std::string& path);

// Whether a file the game is told to write (a recording, a screenshot, the state) may be written
// at path: a plain file or a new name in a directory the player may write. Something that is not
// a plain file (a FIFO, a device, a directory) is refused, so that no write can wait on it. False
// with the reason in error.
bool CheckOutputFile(const std::string& path, std::string& error);

// An exclusive hold on a lock file, between processes and within one (flock on Linux, LockFileEx
// on Windows). The system lets go when the holder ends, however it ends, so a lock left by a game
// that died never blocks.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { Unlock(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the hold on the file at path, made when missing, waiting up to timeoutMs for another
  // holder to let go. False with the reason in error.
  bool Lock(const std::string& path, int timeoutMs, std::string& error);
  void Unlock();
  bool Held() const;

 private:
#if defined(_WIN32)
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

#if !defined(_WIN32)
// Tests only: the call that flushes a file to the disk (nullptr: fsync).
void SetFileSyncForTests(int (*sync)(int fd));
#endif

}  // namespace qr
