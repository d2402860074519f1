#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "TempDir.hpp"
#include "helpers/Process.hpp"
#include "helpers/SaveLoopTables.hpp"
#include "platform/Files.hpp"

namespace qr {

namespace fs = std::filesystem;

// A save killed at any moment leaves one of the tables that were saved, never a broken file.
TEST(CrashSafeSave, KilledSavesLeaveAWholeTable) {
  TempDir tmp;
  const std::string dir = tmp.str();
  const fs::path file = tmp.path() / "QuillmarshRall.dat";
  std::set<std::string> valid;
  for (int k = 0; k < kSaveLoopVariants; ++k) valid.insert(SaveLoopFile(k));

  std::mt19937 rng(7);
  std::uniform_int_distribution<int> delayUs(0, 15000);
  std::set<std::string> seen;
  int strayTemporaries = 0;
  constexpr int kRounds = 150;
  for (int round = 0; round < kRounds; ++round) {
    test::ChildProcess child({QR_SAVE_LOOP_EXE, dir});
    ASSERT_TRUE(child.Started());
    // Wait until the first save is on the disk, then kill the child somewhere in a later one.
    ASSERT_TRUE(child.ReadSome()) << "the child did not start saving";
    test::SleepMicroseconds(delayUs(rng));
    ASSERT_TRUE(child.Kill()) << "the child ended by itself";

    ASSERT_TRUE(fs::exists(file)) << "round " << round;
    const std::string bytes = ReadBytes(file);
    ASSERT_EQ(valid.count(bytes), 1u) << "round " << round << ": " << bytes.size() << " bytes: " << bytes;
    seen.insert(bytes);

    // A save cut off before its rename leaves its new file behind; it never takes the table's
    // name, and the next start-up removes it, its process being gone.
    for (const auto& entry : fs::directory_iterator(tmp.path())) {
      if (entry.path() == file) continue;
      EXPECT_EQ(entry.path().filename().string().rfind("QuillmarshRall.dat.tmp-", 0), 0u) << entry.path();
      ++strayTemporaries;
    }
    RemoveStaleTempFiles(file.string());
    for (const auto& entry : fs::directory_iterator(tmp.path())) EXPECT_EQ(entry.path(), file);
  }
  EXPECT_GE(seen.size(), 2u) << "the child saved more than one table between kills";
  std::printf("%d kills, %zu different tables found, %d kills during a save left a new file behind\n", kRounds,
              seen.size(), strayTemporaries);
}

}  // namespace qr
