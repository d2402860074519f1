#include "game/app/frmRallex.hpp"

namespace qr {

namespace {

// The first entry of a table that score beats, or 0: the rule by which a game's score enters.
template <typename Table>
std::int16_t EntryBeaten(const Table& table, std::int16_t score) {
  for (std::int16_t i = 1; i <= 5; ++i) {
    if (score > table[static_cast<std::size_t>(i)].score) return i;
  }
  return 0;
}

// Holds the game's files for the time of one save (see Host::LockFiles).
class FilesHold {
 public:
  explicit FilesHold(Machine& machine) : machine_(machine) {
    std::string error;
    if (!machine_.LockFiles(error)) {
      machine_.Tell("cannot hold the high-score files against other games (" + error + "); saving all the same");
    }
  }
  ~FilesHold() { machine_.UnlockFiles(); }
  FilesHold(const FilesHold&) = delete;
  FilesHold& operator=(const FilesHold&) = delete;

 private:
  Machine& machine_;
};

}  // namespace

// Loads both tables from the file. False (tables untouched) when there is no data directory,
// no file, an unreadable file, or a first line that is not a whole valid record. A file that
// is there but cannot be read is said once and is not replaced during the run; the bytes of a
// file without a valid table are kept for a copy before the first save.
bool frmRallex::GetHighScores() {
  const std::string dir = Rallex.GetWindowsDir();
  hiScoreFile = dir + kHiScoreFileName;
  // Asked even when the game keeps no files: a recording played again brings the file as the
  // game found it.
  LoadedFile file = machine_.LoadFile(kHiScoreFileName, kHiScoreReadLimit);
  hiScoreFileFound = file.status == LoadedFile::Status::Ok;
  hiScoreFileBytes = file.bytes;
  if (file.status == LoadedFile::Status::Missing) return false;
  if (file.status == LoadedFile::Status::Unreadable) {
    hiScoreSaveOff = true;
    machine_.Tell("cannot read the high scores from " + hiScoreFile + " (" + file.reason +
                  "); playing on the default tables, and no high score is saved while the game runs");
    return false;
  }
  if (ParseHiScoreFile(file.bytes, hiScores, hiScores2P)) return true;
  hiScoreKeepBad = !file.bytes.empty();
  hiScoreBadBytes = std::move(file.bytes);
  return false;
}

// Writes both tables to the file, replacing it whole. A save that fails leaves the old file as
// it was and the tables in memory as they are, and says why; the game goes on. True when the
// file holds the tables afterwards.
bool frmRallex::SaveHighScores() {
  const std::string dir = Rallex.GetWindowsDir();
  hiScoreFile = dir + kHiScoreFileName;
  if (dir.empty() || hiScoreSaveOff) return false;  // no file, or one that start-up could not read

  std::string error;
  bool ok = true;
  if (hiScoreKeepBad) {
    const std::string copy = std::string(kHiScoreFileName) + ".bad";
    ok = machine_.SaveFile(copy, hiScoreBadBytes, error);
    if (ok) {
      machine_.Tell(hiScoreFile + " held no valid high-score table; its old bytes are kept in " + dir + copy);
      hiScoreKeepBad = false;
      hiScoreBadBytes.clear();
    } else {
      error = "cannot keep its old bytes in " + dir + copy + ": " + error;
    }
  }
  const std::string bytes = FormatHiScoreRecord(hiScores, hiScores2P) + "\r\n";
  if (ok && machine_.SaveFile(kHiScoreFileName, bytes, error)) {
    hiScoreFileFound = true;
    hiScoreFileBytes = bytes;
    return true;
  }
  machine_.Tell("cannot save the high scores to " + hiScoreFile + ": " + error);
  return false;
}

// Saves a new entry (entry of the table of numPlayers) with its recording. Another game on the
// same files may have saved the tables since this one read them: under a hold on the files the
// table is read again and, when it changed, the new entry takes its place in the tables as they
// are now, by the rule that placed it (the first entry it beats; nothing moves), or none when it
// beats none any more. The recording is kept only with a table that was saved.
void frmRallex::KeepNewEntry(std::int16_t entry) {
  if (hiScoreSaveOff || entry < 1) return;
  FilesHold hold(machine_);
  // Read again even when the game keeps no files, as at start-up: a recording played again
  // brings what the recorded game found.
  const LoadedFile now = machine_.LoadFile(kHiScoreFileName, kHiScoreReadLimit);
  if (now.status == LoadedFile::Status::Unreadable) {
    machine_.Tell("cannot read the high scores again from " + hiScoreFile + " (" + now.reason +
                  "); the new entry is not saved");
    return;
  }
  const bool found = now.status == LoadedFile::Status::Ok;
  if (found != hiScoreFileFound || (found && now.bytes != hiScoreFileBytes)) {
    hiScoreFileFound = found;
    hiScoreFileBytes = now.bytes;
    HiScoreTable one;
    HiScoreTable2P two;
    if (found && ParseHiScoreFile(now.bytes, one, two)) {
      if (numPlayers == 1) {
        const HiScore mine = hiScores[static_cast<std::size_t>(entry)];
        entry = EntryBeaten(one, mine.score);
        if (entry > 0) one[static_cast<std::size_t>(entry)] = mine;
      } else {
        const HiScore2P mine = hiScores2P[static_cast<std::size_t>(entry)];
        entry = EntryBeaten(two, mine.score);
        if (entry > 0) two[static_cast<std::size_t>(entry)] = mine;
      }
      hiScores = one;
      hiScores2P = two;
      hiScoreKeepBad = false;  // whoever saved the valid table took care of the broken one
      hiScoreBadBytes.clear();
      if (entry == 0) {
        machine_.Tell("another game saved higher scores meanwhile; this score no longer enters the table");
        return;
      }
    } else if (found && !now.bytes.empty()) {
      hiScoreKeepBad = true;  // broken since: its bytes are kept before it is replaced
      hiScoreBadBytes = now.bytes;
    }
  }
  if (SaveHighScores()) SaveRecording(entry);
}

// Keeps the recording of the game that earned an entry beside the table (replays/1p-3.txt for
// entry 3 of the one-player table), replacing the one of the entry it replaced; it marks where
// that game begins. Called only once the table is saved; should the recording fail, the old
// one goes too, since it would stand for an entry that is no longer there.
void frmRallex::SaveRecording(std::int16_t entry) {
  const std::string dir = Rallex.GetWindowsDir();
  if (dir.empty() || entry < 1) return;
  const std::string recording = machine_.Recording(gameStartMs);
  if (recording.empty()) return;
  const std::string name = std::string("replays/") + (numPlayers == 1 ? "1p-" : "2p-") + std::to_string(entry) + ".txt";
  std::string error;
  if (machine_.SaveFile(name, recording, error)) return;
  machine_.RemoveFile(name);
  machine_.Tell("cannot keep the recording of the game in " + dir + name + ": " + error);
}

}  // namespace qr
