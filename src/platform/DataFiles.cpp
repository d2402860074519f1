#include "platform/DataFiles.hpp"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/Files.hpp"

namespace qr {

namespace {

// More than any file of the game needs; a larger one is read only this far.
constexpr std::size_t kReadLimit = 16 * 1024 * 1024;

std::filesystem::path PathOf(const std::string& dir, const std::string& name) {
  return std::filesystem::path(dir) / std::filesystem::path(name).make_preferred();
}

}  // namespace

DataFiles::DataFiles(std::string directory) : dir_(std::move(directory)) {
  if (!dir_.empty() && dir_.back() != '/' && dir_.back() != '\\') {
    dir_ += static_cast<char>(std::filesystem::path::preferred_separator);
  }
}

LoadedFile DataFiles::Load(const std::string& name) const {
  LoadedFile out;
  if (dir_.empty()) return out;
  const std::filesystem::path path = PathOf(dir_, name);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    if (ec) {
      out.status = LoadedFile::Status::Unreadable;
      out.reason = ec.message();
    }
    return out;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    out.status = LoadedFile::Status::Unreadable;
    out.reason = "cannot be opened";
    return out;
  }
  out.bytes.resize(kReadLimit);
  in.read(out.bytes.data(), static_cast<std::streamsize>(out.bytes.size()));
  if (in.bad()) {
    out.status = LoadedFile::Status::Unreadable;
    out.reason = "cannot be read";
    out.bytes.clear();
    return out;
  }
  out.bytes.resize(static_cast<std::size_t>(in.gcount()));
  out.status = LoadedFile::Status::Ok;
  return out;
}

bool DataFiles::Save(const std::string& name, std::string_view bytes, std::string& error) const {
  if (dir_.empty()) {
    error = "the game keeps no files";
    return false;
  }
  const std::filesystem::path path = PathOf(dir_, name);
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  if (ec) {
    error = ec.message();
    return false;
  }
  return WriteFileAtomically(path.string(), bytes, error);
}

void DataFiles::Remove(const std::string& name) const {
  if (dir_.empty()) return;
  std::error_code ec;
  std::filesystem::remove(PathOf(dir_, name), ec);
}

}  // namespace qr
