#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "TempDir.hpp"
#include "helpers/SaveLoopTables.hpp"
#include "platform/Files.hpp"

namespace qr {

namespace fs = std::filesystem;

namespace {

struct Child {
  pid_t pid = -1;
  int out = -1;  // the child's stdout
};

Child StartSaveLoop(const std::string& dir) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    execl(QR_SAVE_LOOP_EXE, QR_SAVE_LOOP_EXE, dir.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  return Child{pid, fds[0]};
}

}  // namespace

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
    const Child child = StartSaveLoop(dir);
    ASSERT_GT(child.pid, 0);
    // Wait until the first save is on the disk, then kill the child somewhere in a later one.
    char buffer[8];
    ASSERT_GT(read(child.out, buffer, sizeof buffer), 0) << "the child did not start saving";
    usleep(static_cast<useconds_t>(delayUs(rng)));
    ASSERT_EQ(kill(child.pid, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
    close(child.out);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child ended by itself: " << status;

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
