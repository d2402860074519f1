#include "hosts/desktop/DataFiles.hpp"

#include "hosts/desktop/Files.hpp"

namespace qr {

namespace {

constexpr char kSeparator =
#if defined(_WIN32)
    '\\';
#else
    '/';
#endif

std::string PathOf(const std::string& dir, const std::string& name) {
  std::string path = dir + name;
  for (std::size_t i = dir.size(); i < path.size(); ++i) {
    if (path[i] == '/') path[i] = kSeparator;
  }
  return path;
}

std::string DirectoryPart(const std::string& path) {
  const std::size_t cut = path.find_last_of(kSeparator == '/' ? "/" : "/\\");  // Windows takes either
  return cut == std::string::npos ? std::string(".") : path.substr(0, cut + 1);
}

}  // namespace

DataFiles::DataFiles(std::string directory) : dir_(std::move(directory)) {
  if (!dir_.empty() && dir_.back() != '/' && dir_.back() != '\\') dir_ += kSeparator;
}

// New files left beside it by a game that died while saving are removed first, also those of
// the copy NAME.bad that the game keeps of a broken file.
LoadedFile DataFiles::Load(const std::string& name, std::size_t limit) const {
  if (dir_.empty()) return LoadedFile{};
  const std::string path = PathOf(dir_, name);
  RemoveStaleTempFiles(path);
  RemoveStaleTempFiles(path + ".bad");
  return ReadDataFile(path, limit);
}

bool DataFiles::Save(const std::string& name, std::string_view bytes, std::string& error) const {
  if (dir_.empty()) {
    error = "the game keeps no files";
    return false;
  }
  const std::string path = PathOf(dir_, name);
  RemoveStaleTempFiles(path);
  return CreateDirectories(DirectoryPart(path), error) && WriteFileAtomically(path, bytes, error);
}

bool DataFiles::Lock(std::string& error) {
  // Long enough for another game's save (a few small files); short enough that a player never
  // waits on a game that is stuck.
  constexpr int kLockWaitMs = 3000;
  if (dir_.empty()) return true;
  if (!CreateDirectories(dir_, error)) return false;
  return lock_.Lock(PathOf(dir_, kLockName), kLockWaitMs, error);
}

void DataFiles::Remove(const std::string& name) const {
  if (dir_.empty()) return;
  RemoveDataFile(PathOf(dir_, name));
}

}  // namespace qr
