#include "hosts/desktop/RecordingFile.hpp"

#include <cerrno>
#include <cstring>

#include "hosts/desktop/Files.hpp"

namespace qr {

RecordingFile::~RecordingFile() {
  // A game that stopped before Finish leaves its part file, whole up to where it stopped.
  if (part_ != nullptr) std::fclose(part_);
}

std::string RecordingFile::Name() const { return Printable(path_); }

void RecordingFile::GiveUpPart() {
  if (part_ != nullptr) std::fclose(part_);
  part_ = nullptr;
  RemoveDataFile(PartPath());
  failed_ = true;
}

bool RecordingFile::Keep(std::string_view whole, std::string& error) {
  if (failed_) {
    error = "an earlier write failed";
    return false;
  }
  if (part_ == nullptr) {
    part_ = std::fopen(PartPath().c_str(), "wb");
    if (part_ == nullptr) {
      error = std::strerror(errno);
      failed_ = true;
      return false;
    }
  }
  if (written_ < whole.size()) {
    errno = 0;
    const std::size_t n = std::fwrite(whole.data() + written_, 1, whole.size() - written_, part_);
    if (n != whole.size() - written_ || std::fflush(part_) != 0) {
      error = errno != 0 ? std::strerror(errno) : "a short write";
      GiveUpPart();
      return false;
    }
    written_ = whole.size();
  }
  return true;
}

bool RecordingFile::Finish(std::string_view whole, std::string& error) {
  bool partWhole = false;
  if (!failed_ && part_ != nullptr) {
    std::string ignored;
    partWhole = Keep(whole, ignored);
  }
  if (part_ != nullptr) {
    if (std::fclose(part_) != 0) partWhole = false;
    part_ = nullptr;
  }
  if (WriteFileAtomically(path_, whole, error)) {
    RemoveDataFile(PartPath());
    return true;
  }
  if (partWhole) {
    error += "; the whole recording is in " + Printable(PartPath());
  } else {
    RemoveDataFile(PartPath());
    error += "; " + Printable(path_) + " is left as it was";
  }
  return false;
}

}  // namespace qr
