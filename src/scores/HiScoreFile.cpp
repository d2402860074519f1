#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "app/frmRallex.hpp"
#include "platform/Files.hpp"

namespace qr {

namespace {

// More than enough to see whether the first line has the record's 120 characters.
constexpr std::size_t kReadLimit = 4096;

}  // namespace

// Loads both tables from the file. False (tables untouched) when there is no data directory,
// no file, an unreadable file, or a first line that is not a whole valid record.
bool frmRallex::GetHighScores() {
  const std::string dir = Rallex.GetWindowsDir();
  hiScoreFile = dir + kHiScoreFileName;
  if (dir.empty()) return false;  // the game runs without files

  std::ifstream in(hiScoreFile, std::ios::binary);
  if (!in) return false;
  std::string bytes(kReadLimit, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) return false;
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return ParseHiScoreFile(bytes, hiScores, hiScores2P);
}

// Writes both tables to the file, replacing it whole. A save that fails leaves the old file as
// it was and the tables in memory as they are, and says why on stderr; the game goes on.
void frmRallex::SaveHighScores() {
  const std::string dir = Rallex.GetWindowsDir();
  hiScoreFile = dir + kHiScoreFileName;
  if (dir.empty()) return;  // the game runs without files

  std::string error;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(dir), ec);
  if (ec) {
    error = ec.message();
  } else if (WriteFileAtomically(hiScoreFile, FormatHiScoreRecord(hiScores, hiScores2P) + "\r\n", error)) {
    return;
  }
  std::fprintf(stderr, "quillmarsh-rall: cannot save the high scores to %s: %s\n", hiScoreFile.c_str(), error.c_str());
}

}  // namespace qr
