#pragma once
#include <string>
#include <string_view>

#include "hosts/desktop/Files.hpp"
#include "machine/Host.hpp"

namespace qr {

// The game's named files in a directory of this machine (the desktop hosts' file service): a
// name may hold '/' for a subdirectory ("replays/1p-1.txt"); directories are made on the first
// save; every save is atomic. With an empty directory the game keeps no files.
class DataFiles {
 public:
  explicit DataFiles(std::string directory);

  LoadedFile Load(const std::string& name, std::size_t limit) const;
  bool Save(const std::string& name, std::string_view bytes, std::string& error) const;
  void Remove(const std::string& name) const;
  // Holds the lock file beside the files (kLockName) against other games, for at most a few
  // seconds of waiting; see Host::LockFiles. Without a directory there is nothing to hold.
  bool Lock(std::string& error);
  void Unlock() { lock_.Unlock(); }
  static constexpr const char* kLockName = "QuillmarshRall.lock";
  // The directory with a trailing separator, or empty.
  const std::string& Location() const { return dir_; }

 private:
  std::string dir_;
  FileLock lock_;
};

}  // namespace qr
