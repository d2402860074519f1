#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "Probe.hpp"
#include "TempDir.hpp"
#include "platform/Files.hpp"

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
  EXPECT_EQ(RallexProbe::hiScoreFile(s.game), dir.string() + "/QuillmarshRall.dat");
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

TEST(HiScoreFile, SavesTheExactLineAndCreatesTheDirectory) {
  TempDir tmp;
  const fs::path dir = tmp.path() / "a" / "b";
  StartedGame s(1, dir.string());
  s.game.SaveHighScores();
  EXPECT_EQ(ReadBytes(dir / "QuillmarshRall.dat"), kDefaultFile);
  EXPECT_EQ(fs::file_size(dir / "QuillmarshRall.dat"), 122u);
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
    s.game.SaveHighScores();
    const std::string saved = ReadBytes(file);
    ASSERT_EQ(saved.size(), 122u);
    EXPECT_EQ(saved.substr(0, 96), kDefaultFile.substr(0, 96));
    EXPECT_EQ(saved.substr(96, 9), Stored(std::string(96, '.') + "NEW000011").substr(96, 9));
  }
}

TEST(HiScoreFile, AnUnreadableFileGivesTheDefaults) {
  TempDir tmp;
  fs::create_directory(tmp.path() / "QuillmarshRall.dat");
  StartedGame s(1, tmp.str());
  EXPECT_TRUE(IsDefault(s.game));
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

TEST(HiScoreFile, ASaveThatCannotReplaceTheFileLeavesNothingBehind) {
  TempDir tmp;
  fs::create_directory(tmp.path() / "QuillmarshRall.dat");  // in the way of the rename
  WriteBytes(tmp.path() / "QuillmarshRall.dat" / "keep", "k");
  StartedGame s(1, tmp.str());
  testing::internal::CaptureStderr();
  s.game.SaveHighScores();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("QuillmarshRall.dat: "), std::string::npos) << err;
  EXPECT_EQ(EntriesIn(tmp.path()), 1u) << "the new file is removed when it cannot take the old one's place";
  EXPECT_EQ(ReadBytes(tmp.path() / "QuillmarshRall.dat" / "keep"), "k");
}

TEST(HiScoreFile, SavingAgainReplacesTheFileWhole) {
  TempDir tmp;
  const fs::path file = tmp.path() / "QuillmarshRall.dat";
  WriteBytes(file, std::string(5000, 'x'));  // a longer file than the record
  StartedGame s(1, tmp.str());
  s.game.SaveHighScores();
  EXPECT_EQ(ReadBytes(file), kDefaultFile);
  RallexProbe::hiScores2P(s.game)[3] = HiScore2P{"TWO", 9, 5};
  s.game.SaveHighScores();
  const std::string saved = ReadBytes(file);
  EXPECT_EQ(saved.size(), 122u);
  EXPECT_EQ(saved.substr(48 + 9, 15), Stored(std::string(57, '.') + "TWO000009000005").substr(57, 15));
  EXPECT_EQ(EntriesIn(tmp.path()), 1u) << "no temporary file stays beside the table";
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

  const std::string missing = (tmp.path() / "no-such-dir" / "f.dat").string();
  EXPECT_FALSE(WriteFileAtomically(missing, "x", error));
  EXPECT_EQ(error, "No such file or directory");
  EXPECT_EQ(EntriesIn(tmp.path()), 1u);
}

// The real program: start-up loads the file it is given, and a run that stores nothing leaves
// the file as it was.
TEST(HiScoreFile, HeadlessRunLoadsTheTableFromItsDataDirectory) {
  TempDir tmp;
  const fs::path file = tmp.path() / "QuillmarshRall.dat";
  const std::string bytes = Stored(kPlain) + "\r\n";
  WriteBytes(file, bytes);
  const fs::path state = tmp.path() / "state.json";
  const std::string cmd =
      std::string(QR_EXE) + " --headless --run-ms 200 --data-dir '" + tmp.str() + "' --state '" + state.string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  const auto j = nlohmann::json::parse(ReadBytes(state));
  EXPECT_EQ(j["hiScores"][0]["initials"], " AB");
  EXPECT_EQ(j["hiScores"][0]["score"], 12345);
  EXPECT_EQ(j["hiScores2P"][4]["score"], 19000);
  EXPECT_EQ(j["hiScores2P"][4]["otherScore"], 999);
  EXPECT_EQ(ReadBytes(file), bytes);
}

}  // namespace qr

namespace qr {

TEST(HiScoreFile, TheDataDirectoryAlwaysEndsInASeparator) {
  EXPECT_EQ(DataFiles("/some/dir").Location(), "/some/dir/");
  EXPECT_EQ(DataFiles("/some/dir/").Location(), "/some/dir/");
  EXPECT_EQ(DataFiles("").Location(), "") << "no directory: the game uses no file";
}

}  // namespace qr
