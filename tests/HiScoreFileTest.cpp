#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "Probe.hpp"
#include "TempDir.hpp"
#include "helpers/Process.hpp"
#include "hosts/desktop/Files.hpp"

namespace qr {

namespace fs = std::filesystem;

namespace {

// The file of the first-run tables, worked out by hand: every block starts with the full stops
// stored as "012" and ends with "..." and twelve zeros stored as "12/234123412341".
const std::string kDefaultFile =
    "012123512"
    "12/234123412341"  // 100
    "012123487"
    "12/234123412341"  // 75
    "012123462"
    "12/234123412341"  // 50
    "012123437"
    "12/234123412341"  // 25
    "012123422"
    "12/234123412341"  // 10
    "\r\n";

// The stored form as any program that follows the format would write it.
std::string Stored(const std::string& plain) {
  std::string s = plain;
  for (std::size_t p = 1; p <= s.size(); ++p) s[p - 1] = static_cast<char>(s[p - 1] + static_cast<char>(p % 4 + 1));
  return s;
}

// Five blocks with initials that store as commas (")(+" becomes ",,,") and a leading double
// quote (the first blank).
const std::string kPlain =
    " AB012345)(+000007000003"
    "ZZZ001000A(B000006000002"
    "```000999\"\"\"000005000001"
    "   000010+*)000004000000"
    "@!?000000=>?019000000999";

bool IsDefault(frmRallex& g) {
  HiScoreTable one;
  HiScoreTable2P two;
  DefaultHiScores(one, two);
  for (int i = 1; i <= 5; ++i) {
    const auto& a = RallexProbe::hiScores(g)[i];
    const auto& b = RallexProbe::hiScores2P(g)[i];
    if (a.initials != one[i].initials || a.score != one[i].score || b.initials != two[i].initials ||
        b.score != two[i].score || b.otherScore != two[i].otherScore) {
      return false;
    }
  }
  return true;
}

void ExpectPlainTables(frmRallex& g) {
  auto& one = RallexProbe::hiScores(g);
  auto& two = RallexProbe::hiScores2P(g);
  EXPECT_EQ(one[1].initials, " AB");
  EXPECT_EQ(one[1].score, 12345);
  EXPECT_EQ(two[1].initials, ")(+");
  EXPECT_EQ(two[1].score, 7);
  EXPECT_EQ(two[1].otherScore, 3);
  EXPECT_EQ(one[2].initials, "ZZZ");
  EXPECT_EQ(one[2].score, 1000);
  EXPECT_EQ(two[2].initials, "A(B");
  EXPECT_EQ(one[3].initials, "```");
  EXPECT_EQ(two[3].initials, "\"\"\"");
  EXPECT_EQ(one[4].initials, "   ");
  EXPECT_EQ(two[4].initials, "+*)");
  EXPECT_EQ(one[5].initials, "@!?");
  EXPECT_EQ(one[5].score, 0);
  EXPECT_EQ(two[5].initials, "=>?");
  EXPECT_EQ(two[5].score, 19000);
  EXPECT_EQ(two[5].otherScore, 999);
}

std::size_t EntriesIn(const fs::path& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
  return n;
}

}  // namespace

TEST(HiScoreFile, FirstRunHasTheDefaultTablesAndWritesNothing) {
  TempDir tmp;
  const fs::path dir = tmp.path() / "data";
  StartedGame s(1, dir.string());
  EXPECT_TRUE(IsDefault(s.game));
  EXPECT_FALSE(fs::exists(dir)) << "nothing is created before the first new entry";
  EXPECT_EQ(RallexProbe::hiScoreFile(s.game), (dir / "QuillmarshRall.dat").string());
}

TEST(HiScoreFile, WithoutADataDirectoryNoFileIsTouched) {
  TempDir tmp;
  const fs::path here = fs::current_path();
  fs::current_path(tmp.path());
  WriteBytes("QuillmarshRall.dat", Stored(kPlain) + "\r\n");
  {
    StartedGame s;
    EXPECT_TRUE(IsDefault(s.game)) << "a file in the working directory is not read";
    s.game.SaveHighScores();
  }
  EXPECT_EQ(ReadBytes("QuillmarshRall.dat"), Stored(kPlain) + "\r\n");
  EXPECT_EQ(EntriesIn(tmp.path()), 1u);
  fs::current_path(here);
}

TEST(HiScoreFile, SavesTheExactLineAndCreatesTheDirectoryForThePlayerAlone) {
  TempDir tmp;
  const fs::path dir = tmp.path() / "a" / "b";
  StartedGame s(1, dir.string() + "/");  // a slash ends a directory on Windows too
#if defined(_WIN32)
  s.game.SaveHighScores();
#else
  const mode_t umaskBefore = ::umask(0);  // the most open umask: nothing of it shows
  s.game.SaveHighScores();
  ::umask(umaskBefore);
#endif
  EXPECT_EQ(ReadBytes(dir / "QuillmarshRall.dat"), kDefaultFile);
  EXPECT_EQ(fs::file_size(dir / "QuillmarshRall.dat"), 122u);
#if !defined(_WIN32)  // Windows has no such modes: the directory's access list decides
  EXPECT_EQ(fs::status(tmp.path() / "a").permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(dir).permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(dir / "QuillmarshRall.dat").permissions(), fs::perms::owner_read | fs::perms::owner_write);
#endif
}

TEST(HiScoreFile, LoadsAFileOfTheSameFormatAndWritesItBackByteForByte) {
  TempDir tmp;
  const std::string bytes = Stored(kPlain) + "\r\n";
  ASSERT_EQ(bytes.substr(9, 3), ",,,");
  ASSERT_EQ(bytes[0], '"');
  WriteBytes(tmp.path() / "QuillmarshRall.dat", bytes);
  StartedGame s(1, tmp.str());
  ExpectPlainTables(s.game);
  fs::remove(tmp.path() / "QuillmarshRall.dat");
  s.game.SaveHighScores();
  EXPECT_EQ(ReadBytes(tmp.path() / "QuillmarshRall.dat"), bytes);
}

TEST(HiScoreFile, OnlyTheFirstLineCountsWhateverEndsIt) {
  for (const std::string& end : {std::string("\r\n"), std::string("\n"), std::string("\r"), std::string(),
                                 std::string("\r\nsecond line, \"quoted\"\r\n")}) {
    TempDir tmp;
    WriteBytes(tmp.path() / "QuillmarshRall.dat", Stored(kPlain) + end);
    StartedGame s(1, tmp.str());
    SCOPED_TRACE(testing::PrintToString(end));
    ExpectPlainTables(s.game);
  }
}

TEST(HiScoreFile, BrokenFilesGiveTheDefaultsAndTheNextSaveSucceeds) {
  const std::string line = Stored(kPlain);
  std::string overflow = kPlain;
  overflow.replace(96 + 18, 6, "040000");  // the very last number does not fit 16 bits
  const std::string cases[] = {line.substr(0, 119) + "\r\n", line + "1\r\n", "", "\r\n" + line + "\r\n",
                               Stored(overflow) + "\r\n"};
  for (const std::string& bytes : cases) {
    TempDir tmp;
    const fs::path file = tmp.path() / "QuillmarshRall.dat";
    WriteBytes(file, bytes);
    StartedGame s(1, tmp.str());
    SCOPED_TRACE(testing::PrintToString(bytes));
    EXPECT_TRUE(IsDefault(s.game));
    EXPECT_EQ(ReadBytes(file), bytes) << "loading leaves the file alone";
    RallexProbe::hiScores(s.game)[5] = HiScore{"NEW", 11};
    testing::internal::CaptureStderr();
    s.game.SaveHighScores();
    s.game.SaveHighScores();
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string saved = ReadBytes(file);
    ASSERT_EQ(saved.size(), 122u);
    EXPECT_EQ(saved.substr(0, 96), kDefaultFile.substr(0, 96));
    EXPECT_EQ(saved.substr(96, 9), Stored(std::string(96, '.') + "NEW000011").substr(96, 9));
    // The old bytes are kept beside it, once, and said so; an empty file has none to keep.
    EXPECT_EQ(fs::exists(file.string() + ".bad"), !bytes.empty());
    EXPECT_EQ(ReadBytes(file.string() + ".bad"), bytes);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), bytes.empty() ? 0 : 1) << err;
  }
}

// Something there that cannot be read (a FIFO would block a plain open for good) gives the
// defaults, said once, and is left as it is for the whole run: nothing is saved over it.
TEST(HiScoreFile, AFileThatCannotBeReadIsNeverReplaced) {
  const std::string big(70000, 'x');  // beyond what the game reads
  for (const std::string kind : {"directory", "fifo", "too large", "unreadable"}) {
    SCOPED_TRACE(kind);
    TempDir tmp;
    const fs::path file = tmp.path() / "QuillmarshRall.dat";
    if (kind == "directory") {
      fs::create_directory(file);
      WriteBytes(file / "keep", "k");
    } else if (kind == "too large") {
      WriteBytes(file, big);
    } else {
#if defined(_WIN32)
      continue;  // no FIFO in the file system, and no file that its owner cannot read
#else
      if (kind == "fifo") {
        ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
      } else {
        if (::geteuid() == 0) continue;  // root reads any file
        WriteBytes(file, Stored(kPlain) + "\r\n");
        fs::permissions(file, fs::perms::owner_write);
      }
#endif
    }
    testing::internal::CaptureStderr();
    StartedGame s(1, tmp.str());
    EXPECT_TRUE(IsDefault(s.game));
    RallexProbe::hiScores(s.game)[1] = HiScore{"TOP", 500};
    s.game.SaveHighScores();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(err.rfind("quillmarsh-rall: cannot read the high scores from " + file.string() + " (", 0), 0u) << err;
    EXPECT_NE(err.find("no high score is saved"), std::string::npos) << err;
    EXPECT_EQ(EntriesIn(tmp.path()), 1u) << "nothing new beside it";
    EXPECT_TRUE(kind != "directory" || ReadBytes(file / "keep") == "k");
    EXPECT_TRUE(kind != "fifo" || fs::is_fifo(file));
    EXPECT_TRUE(kind != "too large" || ReadBytes(file) == big);
    EXPECT_TRUE(kind != "unreadable" || fs::status(file).permissions() == fs::perms::owner_write);
  }
}

// The file is read-only: the save refuses to replace it, says why, and the tables stay.
TEST(HiScoreFile, AReadOnlyFileIsNotReplaced) {
  TempDir tmp;
  const fs::path file = tmp.path() / "QuillmarshRall.dat";
  WriteBytes(file, Stored(kPlain) + "\r\n");
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  StartedGame s(1, tmp.str());
  RallexProbe::hiScores(s.game)[1] = HiScore{"TOP", 500};
  testing::internal::CaptureStderr();
  s.game.SaveHighScores();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "quillmarsh-rall: cannot save the high scores to " + file.string() + ": the file is read-only\n");
  EXPECT_EQ(ReadBytes(file), Stored(kPlain) + "\r\n");
  EXPECT_EQ(RallexProbe::hiScores(s.game)[1].initials, "TOP");
  EXPECT_EQ(EntriesIn(tmp.path()), 1u);
}

TEST(HiScoreFile, AFailedSaveSaysWhyOnceAndKeepsTheTables) {
  TempDir tmp;
  // A data directory below a regular file cannot be created, even by root.
  WriteBytes(tmp.path() / "plain-file", "x");
  const std::string dir = (tmp.path() / "plain-file" / "data").string() + "/";
  StartedGame s(1, dir);
  RallexProbe::hiScores(s.game)[1] = HiScore{"TOP", 500};
  testing::internal::CaptureStderr();
  s.game.SaveHighScores();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(dir + "QuillmarshRall.dat"), std::string::npos) << err;
  EXPECT_NE(err.find("Not a directory"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_EQ(RallexProbe::hiScores(s.game)[1].initials, "TOP");
  EXPECT_EQ(RallexProbe::hiScores(s.game)[1].score, 500);
  EXPECT_EQ(ReadBytes(tmp.path() / "plain-file"), "x");
}

TEST(HiScoreFile, SavingAgainReplacesTheFileWhole) {
  TempDir tmp;
  const fs::path file = tmp.path() / "QuillmarshRall.dat";
  WriteBytes(file, std::string(5000, 'x'));  // a longer file than the record
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(file, mode);
  StartedGame s(1, tmp.str());
  s.game.SaveHighScores();
  EXPECT_EQ(ReadBytes(file), kDefaultFile);
#if !defined(_WIN32)
  EXPECT_EQ(fs::status(file).permissions(), mode) << "the new file keeps the old one's permissions";
#endif
  EXPECT_EQ(ReadBytes(file.string() + ".bad"), std::string(5000, 'x'));
  RallexProbe::hiScores2P(s.game)[3] = HiScore2P{"TWO", 9, 5};
  s.game.SaveHighScores();
  const std::string saved = ReadBytes(file);
  EXPECT_EQ(saved.size(), 122u);
  EXPECT_EQ(saved.substr(48 + 9, 15), Stored(std::string(57, '.') + "TWO000009000005").substr(57, 15));
  EXPECT_EQ(EntriesIn(tmp.path()), 2u) << "no temporary file stays beside the table and its old bytes";
}

TEST(AtomicWrite, ReplacesTheFileOrLeavesItAlone) {
  TempDir tmp;
  const std::string path = (tmp.path() / "f.dat").string();
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(path, "first", error)) << error;
  EXPECT_EQ(ReadBytes(path), "first");
  ASSERT_TRUE(WriteFileAtomically(path, std::string("a\0b", 3), error)) << error;
  EXPECT_EQ(ReadBytes(path), std::string("a\0b", 3));
  ASSERT_TRUE(WriteFileAtomically(path, "", error)) << error;
  EXPECT_EQ(ReadBytes(path), "");

  // New-file names left by a killed game whose process id this one has now: the save takes a
  // free name and leaves theirs alone.
  const std::string taken = path + ".tmp-" + std::to_string(test::CurrentProcessId()) + "-";
  for (int n = 0; n < 200; ++n) {
    if (n % 20 != 0) WriteBytes(taken + std::to_string(n), "old");
  }
  ASSERT_TRUE(WriteFileAtomically(path, "past them", error)) << error;
  EXPECT_EQ(ReadBytes(path), "past them");
  EXPECT_EQ(EntriesIn(tmp.path()), 1u + 190u);
  for (int n = 0; n < 200; ++n) {
    if (n % 20 != 0) fs::remove(taken + std::to_string(n));
  }

  const std::string missing = (tmp.path() / "no-such-dir" / "f.dat").string();
  EXPECT_FALSE(WriteFileAtomically(missing, "x", error));
#if defined(_WIN32)
  EXPECT_FALSE(error.empty());  // the system's words: "The system cannot find the path specified"
#else
  EXPECT_EQ(error, "No such file or directory");
#endif
  EXPECT_EQ(EntriesIn(tmp.path()), 1u);

#if !defined(_WIN32)

  // A file system that cannot flush a file still keeps it; a flush that fails otherwise fails the
  // save.
  for (const int code : {EINVAL, ENOTSUP, EOPNOTSUPP, EIO}) {
    static int syncError;
    syncError = code;
    SetFileSyncForTests([](int) {
      errno = syncError;
      return -1;
    });
    const bool saved = WriteFileAtomically(path, "synced? " + std::to_string(code), error);
    SetFileSyncForTests(nullptr);
    EXPECT_EQ(saved, code != EIO) << code;
    EXPECT_EQ(ReadBytes(path),
              code == EIO ? "synced? " + std::to_string(EOPNOTSUPP) : "synced? " + std::to_string(code));
    EXPECT_EQ(EntriesIn(tmp.path()), 1u);
  }
  EXPECT_EQ(error, "Input/output error");
#endif
}

#if !defined(_WIN32)
// A link is saved through: its target is replaced, beside it. The owner stays where the player
// may keep it (root may).
TEST(AtomicWrite, ReplacesTheTargetOfALinkAndKeepsItsOwner) {
  TempDir tmp;
  fs::create_directory(tmp.path() / "data");
  fs::create_directory(tmp.path() / "real");
  const fs::path target = tmp.path() / "real" / "scores";
  WriteBytes(target, "old");
  fs::create_symlink("../real/scores", tmp.path() / "data" / "link2");
  fs::create_symlink("link2", tmp.path() / "data" / "f.dat");  // a link to a link
  const bool root = ::geteuid() == 0;
  ASSERT_TRUE(!root || ::chown(target.c_str(), 4321, 4321) == 0);
  std::string error;
  ASSERT_TRUE(WriteFileAtomically((tmp.path() / "data" / "f.dat").string(), "new", error)) << error;
  EXPECT_TRUE(fs::is_symlink(tmp.path() / "data" / "f.dat"));
  EXPECT_EQ(ReadBytes(target), "new");
  EXPECT_EQ(EntriesIn(tmp.path() / "data"), 2u);
  EXPECT_EQ(EntriesIn(tmp.path() / "real"), 1u);
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, root ? 4321u : ::geteuid());
  EXPECT_EQ(st.st_gid, root ? 4321u : ::getegid());
}
#endif

// The real program: start-up loads the file it is given, and a run that stores nothing leaves
// the file as it was. The new files of a game that died while saving go; those of a game still
// saving, and other names, stay.
TEST(HiScoreFile, HeadlessRunLoadsTheTableFromItsDataDirectory) {
  TempDir tmp;
  const fs::path file = tmp.path() / "QuillmarshRall.dat";
  const std::string bytes = Stored(kPlain) + "\r\n";
  WriteBytes(file, bytes);
  const unsigned long gone = test::EndedProcessId(QR_SAVE_LOOP_EXE);
  ASSERT_NE(gone, 0u);
  const std::string dead = "QuillmarshRall.dat.tmp-" + std::to_string(gone) + "-3";
  const std::string kept[] = {"QuillmarshRall.dat.tmp-" + std::to_string(test::CurrentProcessId()) + "-0",
                              "QuillmarshRall.dat.tmp-" + std::to_string(gone) + "-3x",
                              "QuillmarshRall.dat.tmp-" + std::to_string(gone),
                              "other.dat.tmp-" + std::to_string(gone) + "-3"};
  for (const std::string& name : kept) WriteBytes(tmp.path() / name, "t");
  WriteBytes(tmp.path() / dead, "t");
  WriteBytes(tmp.path() / "QuillmarshRall.dat.bad.tmp-999999999-1", "t");
  const fs::path state = tmp.path() / "state.json";
  ASSERT_EQ(
      test::RunProcess({QR_EXE, "--headless", "--run-ms", "200", "--data-dir", tmp.str(), "--state", state.string()}),
      0);
  const auto j = nlohmann::json::parse(ReadBytes(state));
  EXPECT_EQ(j["hiScores"][0]["initials"], " AB");
  EXPECT_EQ(j["hiScores"][0]["score"], 12345);
  EXPECT_EQ(j["hiScores2P"][4]["score"], 19000);
  EXPECT_EQ(j["hiScores2P"][4]["otherScore"], 999);
  EXPECT_EQ(ReadBytes(file), bytes);
  EXPECT_FALSE(fs::exists(tmp.path() / dead));
  EXPECT_FALSE(fs::exists(tmp.path() / "QuillmarshRall.dat.bad.tmp-999999999-1"));
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(tmp.path() / name)) << name;
}

}  // namespace qr

namespace qr {

TEST(HiScoreFile, TheDataDirectoryAlwaysEndsInASeparator) {
#if defined(_WIN32)
  EXPECT_EQ(DataFiles("C:\\some\\dir").Location(), "C:\\some\\dir\\");
  EXPECT_EQ(DataFiles("C:/some/dir/").Location(), "C:/some/dir/");
#else
  EXPECT_EQ(DataFiles("/some/dir").Location(), "/some/dir/");
  EXPECT_EQ(DataFiles("/some/dir/").Location(), "/some/dir/");
#endif
  EXPECT_EQ(DataFiles("").Location(), "") << "no directory: the game uses no file";
}

}  // namespace qr

#include "hosts/shared/RankedGame.hpp"
#include "hosts/shared/Recorder.hpp"

namespace qr {

namespace {

// A game started headless with its recorder, as the desktop runs it, up to its first pause.
struct RecordedGame : WrappedGame<Recorder> {
  RecordedGame(std::uint64_t seed, const std::string& dataDir)
      : WrappedGame(StartedGame::Options(seed, dataDir), nullptr) {
    Start();
    host.SetRunMs(std::numeric_limits<std::int64_t>::max());
  }
  // The game has just won entry of the table of players with these initials and scores.
  void Wins(std::int16_t players, std::int16_t entry, const std::string& initials, std::int16_t score,
            std::int16_t other = 0) {
    game.numPlayers = players;
    if (players == 1) {
      RallexProbe::hiScores(game)[entry] = HiScore{initials, score};
    } else {
      RallexProbe::hiScores2P(game)[entry] = HiScore2P{initials, score, other};
    }
    game.KeepNewEntry(entry);
  }
};

}  // namespace

// Two games on one data directory, each started on the same table: the one that saves second
// puts its entry into the table as the first left it, by the rule that places an entry (the
// first entry it beats, nothing moves), and each entry keeps its own recording. The screen
// shows the merged tables afterwards, and the second game's recording replays it exactly.
TEST(HiScoreFile, TwoGamesOnOneDirectoryKeepEachOthersEntries) {
  TempDir tmp;
  const fs::path dir = tmp.path();
  RecordedGame a(1, tmp.str());
  RecordedGame b(2, tmp.str());
  b.Wins(2, 1, "BBB", 5, 1);
  a.Wins(2, 1, "AAA", 4, 0);
  HiScoreTable one;
  HiScoreTable2P two;
  ASSERT_TRUE(ParseHiScoreFile(ReadBytes(dir / "QuillmarshRall.dat"), one, two));
  EXPECT_EQ(two[1].initials, "BBB");
  EXPECT_EQ(two[2].initials, "AAA");
  EXPECT_EQ(two[2].score, 4);
  EXPECT_EQ(RallexProbe::hiScores2P(a.game)[1].initials, "BBB") << "the game holds the tables as saved";
  const std::string first = ReadBytes(dir / "replays" / "2p-1.txt");
  const std::string second = ReadBytes(dir / "replays" / "2p-2.txt");
  EXPECT_NE(first.find("# seed 2\n"), std::string::npos) << "entry 1 keeps game B's recording";
  EXPECT_NE(second.find("# seed 1\n"), std::string::npos) << "entry 2 keeps game A's recording";
  EXPECT_NE(second.find(" file QuillmarshRall.dat hex "), std::string::npos)
      << "A's recording holds the table as B left it:\n"
      << second;

  // A's recording, played again without any file of this machine, finds B's entry again.
  std::string error;
  auto recording = ParseScript(second, "2p-2.txt", error);
  ASSERT_TRUE(recording) << error;
  const RecordingHeader* header = &recording->header;
  HeadlessOptions again = StartedGame::Options(1, (tmp.path() / "again").string());
  again.files = header->files;
  again.loads = header->loads;
  StartedGame replay(again);
  frmRallex& game = replay.game;
  game.numPlayers = 2;
  RallexProbe::hiScores2P(game)[1] = HiScore2P{"AAA", 4, 0};
  game.KeepNewEntry(1);
  EXPECT_EQ(RallexProbe::hiScores2P(game)[1].initials, "BBB");
  EXPECT_EQ(RallexProbe::hiScores2P(game)[2].initials, "AAA");

  // A third game still on the first table, whose score now beats no entry, saves nothing.
  RecordedGame c(3, tmp.str());
  {
    RecordedGame d(4, tmp.str());
    for (std::int16_t i = 1; i <= 5; ++i) d.Wins(2, i, "DDD", 9, 0);
  }
  c.Wins(2, 1, "CCC", 4, 0);
  ASSERT_TRUE(ParseHiScoreFile(ReadBytes(dir / "QuillmarshRall.dat"), one, two));
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(two[i].initials, "DDD") << i;
  EXPECT_EQ(c.host.Told().back(), "another game saved higher scores meanwhile; this score no longer enters the table");
}

// A ranked game plays on the default tables whatever the player's own table holds, so that its
// score reaches the entry; the entry then goes into the player's table by the rule of every save,
// never over a higher score.
TEST(HiScoreFile, ARankedGameStartsFromTheDefaultsAndMergesIntoThePlayersTable) {
  TempDir tmp;
  const fs::path file = tmp.path() / "QuillmarshRall.dat";
  HiScoreTable one;
  HiScoreTable2P two;
  HiScoreTable defaultOne;
  HiScoreTable2P defaultTwo;
  DefaultHiScores(one, two);
  DefaultHiScores(defaultOne, defaultTwo);
  for (std::int16_t i = 1; i <= 4; ++i) two[static_cast<std::size_t>(i)] = HiScore2P{"OWN", 9, 0};
  const std::string mine = FormatHiScoreRecord(one, two) + "\r\n";
  WriteBytes(file, mine);

  WrappedGame<RankedGame> g(StartedGame::Options(1, tmp.str()), 7);
  g.Start();
  g.host.SetRunMs(std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(RallexProbe::hiScores2P(g.game)[1].score, defaultTwo[1].score) << "the game began on the player's table";
  g.game.numPlayers = 2;
  RallexProbe::hiScores2P(g.game)[1] = HiScore2P{"RNK", 5, 1};
  g.game.KeepNewEntry(1);
  ASSERT_TRUE(ParseHiScoreFile(ReadBytes(file), one, two));
  for (std::size_t i = 1; i <= 4; ++i) EXPECT_EQ(two[i].initials, "OWN") << i;
  EXPECT_EQ(two[5].initials, "RNK") << "the entry takes the first place it beats in the player's table";
  EXPECT_EQ(two[5].score, 5);
}

// A kept recording follows its table: when the table cannot be saved, the recording of the
// entry that would have been replaced stays as it was.
TEST(HiScoreFile, ARecordingIsKeptOnlyWithItsTable) {
  TempDir tmp;
  const fs::path file = tmp.path() / "QuillmarshRall.dat";
  HiScoreTable one;
  HiScoreTable2P two;
  DefaultHiScores(one, two);
  two[2] = HiScore2P{"CCC", 6, 2};
  WriteBytes(file, FormatHiScoreRecord(one, two) + "\r\n");
  fs::create_directories(tmp.path() / "replays");
  WriteBytes(tmp.path() / "replays" / "2p-2.txt", "CCC's game");
  fs::permissions(file, fs::perms::owner_read);
  RecordedGame g(1, tmp.str());
  g.Wins(2, 2, "NEW", 7, 3);
  EXPECT_EQ(ReadBytes(tmp.path() / "replays" / "2p-2.txt"), "CCC's game");
  EXPECT_EQ(ReadBytes(file), FormatHiScoreRecord(one, two) + "\r\n");
  EXPECT_NE(g.host.Told().back().find("read-only"), std::string::npos) << g.host.Told().back();
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace qr
