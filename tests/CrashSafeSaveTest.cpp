#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "TempDir.hpp"
#include "helpers/Process.hpp"
#include "helpers/SaveLoopTables.hpp"
#include "hosts/desktop/Files.hpp"

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
  int failedStarts = 0;
  constexpr int kRounds = 150;
  for (int round = 0; round < kRounds; ++round) {
    // A start that fails for a reason that may pass (a loaded machine, see test::kStartTries) is
    // tried again, every failure printed; the round stays as strict.
    test::ChildProcess child({QR_SAVE_LOOP_EXE, dir});
    failedStarts += static_cast<int>(child.Failures().size());
    ASSERT_TRUE(child.Started()) << "round " << round
                                 << ": the child could not be started: " << child.Failures().back();
    // Wait until the first save is on the disk, then kill the child somewhere in a later one.
    ASSERT_TRUE(child.ReadSome()) << "round " << round << ": the child did not start saving";
    test::SleepMicroseconds(delayUs(rng));
    ASSERT_TRUE(child.Kill()) << "round " << round << ": the child ended by itself";

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
  std::printf(
      "%d kills, %zu different tables found, %d kills during a save left a new file behind, "
      "%d starts of the child failed and were tried again\n",
      kRounds, seen.size(), strayTemporaries, failedStarts);
}

// The starts of the child: one that cannot work fails at once and says why; one that may work
// a moment later (the program file held open for writing, as a build or a virus scanner may hold
// it) is tried again, each failure said.
TEST(CrashSafeSave, TheChildsStartsSayWhyTheyFailAndTryAgainWhenItMayPass) {
  TempDir tmp;
  {
    test::ChildProcess missing({(tmp.path() / "no-such-program.exe").string(), tmp.str()}, 5);
    EXPECT_FALSE(missing.Started());
    ASSERT_EQ(missing.Failures().size(), 1u) << "a missing program is not tried again";
#if defined(_WIN32)
    const std::string expected = "CreateProcessW failed: error 2, ";  // ERROR_FILE_NOT_FOUND, in the system's words
    EXPECT_EQ(missing.Failures()[0].rfind(expected, 0), 0u) << missing.Failures()[0];
    EXPECT_GT(missing.Failures()[0].size(), expected.size()) << missing.Failures()[0];
#else
    EXPECT_EQ(missing.Failures()[0], "execv failed: error 2, " + std::string(std::strerror(ENOENT)));
#endif
  }

  const fs::path program = tmp.path() / fs::path(QR_SAVE_LOOP_EXE).filename();
  fs::copy_file(QR_SAVE_LOOP_EXE, program);
  {
#if defined(_WIN32)
    HANDLE held = CreateFileW(program.wstring().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
#else
    const int held = ::open(program.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
#endif
    test::ChildProcess busy({program.string(), tmp.str()}, 3);
#if defined(_WIN32)
    CloseHandle(held);
#else
    ::close(held);
#endif
    EXPECT_FALSE(busy.Started());
    EXPECT_EQ(busy.Failures().size(), 3u) << "a busy program file is tried again";
  }
  test::ChildProcess freed({program.string(), tmp.str()});
  ASSERT_TRUE(freed.Started()) << freed.Failures().back();
  EXPECT_TRUE(freed.Failures().empty());
  ASSERT_TRUE(freed.ReadSome());
  EXPECT_TRUE(freed.Kill());
}

}  // namespace qr
