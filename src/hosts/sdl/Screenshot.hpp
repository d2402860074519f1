#pragma once
#include <array>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qr {

// A copy of the drawing surface as the game last handed it over: palette indices, row by row,
// and the palette.
struct Frame {
  std::vector<std::uint8_t> indices;
  std::array<std::uint32_t, 256> palette{};

  bool operator==(const Frame&) const = default;
  std::vector<std::uint32_t> ToRgb() const;
};

// Saves the frame as a PNG, each unit scale x scale pixels, into dir (made if missing; it ends
// with a separator) under a new name for local time `when`: quillmarsh-rall-2026-12-07-201530.png,
// or ...-201530-2.png and so on when that name is taken. The file is made new, never opened
// through an existing name or a link someone left there, and removed again if it cannot be
// written whole. Returns the path written, or empty with the reason in error.
std::string SaveScreenshot(const std::string& dir, const Frame& frame, int scale, const std::tm& when,
                           std::string& error);

// Saves screenshots one after another on a thread of its own, so that the window keeps
// answering while a large one is packed.
class ScreenshotWriter {
 public:
  // Called on the writer's thread once a screenshot's file is complete (path), or has failed
  // (path empty, error says why).
  using Report = std::function<void(const std::string& path, const std::string& error)>;

  explicit ScreenshotWriter(Report report) : report_(std::move(report)) {}
  ~ScreenshotWriter() { Finish(); }
  ScreenshotWriter(const ScreenshotWriter&) = delete;
  ScreenshotWriter& operator=(const ScreenshotWriter&) = delete;

  // Takes the frame to save as SaveScreenshot does, and returns at once.
  void Save(std::string dir, Frame frame, int scale, const std::tm& when);
  // Returns when every screenshot asked for is saved or has failed.
  void Finish();

 private:
  struct Job {
    std::string dir;
    Frame frame;
    int scale = 1;
    std::tm when{};
  };
  void Run();
  void Write(const Job& job);

  Report report_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool finishing_ = false;
  std::thread thread_;  // started by the first screenshot
};

}  // namespace qr
