#include <cstdio>

#include "app/frmRallex.hpp"

namespace qr {

namespace {

// Far more than a table: a larger file is not read (and so never replaced).
constexpr std::size_t kReadLimit = 65536;

}  // namespace

// Loads both tables from the file. False (tables untouched) when there is no data directory,
// no file, an unreadable file, or a first line that is not a whole valid record. A file that
// is there but cannot be read is said once on stderr and is not replaced during the run; the
// bytes of a file without a valid table are kept for a copy before the first save.
bool frmRallex::GetHighScores() {
  const std::string dir = Rallex.GetWindowsDir();
  hiScoreFile = dir + kHiScoreFileName;
  // Asked even when the game keeps no files: a recording played again brings the file as the
  // game found it.
  LoadedFile file = machine_.LoadFile(kHiScoreFileName, kReadLimit);
  if (file.status == LoadedFile::Status::Missing) return false;
  if (file.status == LoadedFile::Status::Unreadable) {
    hiScoreSaveOff = true;
    std::fprintf(stderr,
                 "quillmarsh-rall: cannot read the high scores from %s (%s); playing on the default tables, and no "
                 "high score is saved while the game runs\n",
                 hiScoreFile.c_str(), file.reason.c_str());
    return false;
  }
  if (ParseHiScoreFile(file.bytes, hiScores, hiScores2P)) return true;
  hiScoreKeepBad = !file.bytes.empty();
  hiScoreBadBytes = std::move(file.bytes);
  return false;
}

// Writes both tables to the file, replacing it whole. A save that fails leaves the old file as
// it was and the tables in memory as they are, and says why on stderr; the game goes on.
void frmRallex::SaveHighScores() {
  const std::string dir = Rallex.GetWindowsDir();
  hiScoreFile = dir + kHiScoreFileName;
  if (dir.empty() || hiScoreSaveOff) return;  // no file, or one that start-up could not read

  std::string error;
  bool ok = true;
  if (hiScoreKeepBad) {
    const std::string copy = std::string(kHiScoreFileName) + ".bad";
    ok = machine_.SaveFile(copy, hiScoreBadBytes, error);
    if (ok) {
      std::fprintf(stderr, "quillmarsh-rall: %s held no valid high-score table; its old bytes are kept in %s%s\n",
                   hiScoreFile.c_str(), dir.c_str(), copy.c_str());
      hiScoreKeepBad = false;
      hiScoreBadBytes.clear();
    } else {
      error = "cannot keep its old bytes in " + dir + copy + ": " + error;
    }
  }
  if (ok && machine_.SaveFile(kHiScoreFileName, FormatHiScoreRecord(hiScores, hiScores2P) + "\r\n", error)) return;
  std::fprintf(stderr, "quillmarsh-rall: cannot save the high scores to %s: %s\n", hiScoreFile.c_str(), error.c_str());
}

// Keeps the recording of the game that earned an entry beside the table (replays/1p-3.txt for
// entry 3 of the one-player table), replacing the one of the entry it replaced. Nothing when
// the table itself is not saved.
void frmRallex::SaveRecording(std::int16_t entry) {
  const std::string dir = Rallex.GetWindowsDir();
  if (dir.empty() || hiScoreSaveOff || entry < 1) return;
  const std::string recording = machine_.Recording();
  if (recording.empty()) return;
  const std::string name = std::string("replays/") + (numPlayers == 1 ? "1p-" : "2p-") + std::to_string(entry) + ".txt";
  std::string error;
  if (machine_.SaveFile(name, recording, error)) return;
  std::fprintf(stderr, "quillmarsh-rall: cannot keep the recording of the game in %s%s: %s\n", dir.c_str(),
               name.c_str(), error.c_str());
}

}  // namespace qr
