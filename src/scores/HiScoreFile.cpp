#include <cstdio>

#include "app/frmRallex.hpp"

namespace qr {

// Loads both tables from the file. False (tables untouched) when there is no data directory,
// no file, an unreadable file, or a first line that is not a whole valid record.
bool frmRallex::GetHighScores() {
  const std::string dir = Rallex.GetWindowsDir();
  hiScoreFile = dir + kHiScoreFileName;
  if (dir.empty()) return false;  // the game runs without files

  const LoadedFile file = machine_.LoadFile(kHiScoreFileName);
  if (file.status != LoadedFile::Status::Ok) return false;
  return ParseHiScoreFile(file.bytes, hiScores, hiScores2P);
}

// Writes both tables to the file, replacing it whole. A save that fails leaves the old file as
// it was and the tables in memory as they are, and says why on stderr; the game goes on.
void frmRallex::SaveHighScores() {
  const std::string dir = Rallex.GetWindowsDir();
  hiScoreFile = dir + kHiScoreFileName;
  if (dir.empty()) return;  // the game runs without files

  std::string error;
  if (machine_.SaveFile(kHiScoreFileName, FormatHiScoreRecord(hiScores, hiScores2P) + "\r\n", error)) return;
  std::fprintf(stderr, "quillmarsh-rall: cannot save the high scores to %s: %s\n", hiScoreFile.c_str(), error.c_str());
}

}  // namespace qr
