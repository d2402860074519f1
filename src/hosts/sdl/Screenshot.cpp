#include "hosts/sdl/Screenshot.hpp"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#if defined(_WIN32)
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

#include "hosts/desktop/Files.hpp"
#include "hosts/desktop/Png.hpp"
#include "machine/Surface.hpp"

namespace qr {

namespace {

// Makes the file new: fails with EEXIST when anything, a link included, has the name.
std::FILE* CreateNew(const std::string& path, int& err) {
#if defined(_WIN32)
  int fd = -1;
  err = _sopen_s(&fd, path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYWR, _S_IREAD | _S_IWRITE);
  if (err != 0) return nullptr;
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) {
    err = errno;
    _close(fd);
  }
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    err = errno;
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    err = errno;
    ::close(fd);
  }
#endif
  return file;
}

}  // namespace

std::vector<std::uint32_t> Frame::ToRgb() const {
  std::vector<std::uint32_t> rgb(indices.size());
  for (std::size_t i = 0; i < indices.size(); ++i) rgb[i] = palette[indices[i]];
  return rgb;
}

std::string SaveScreenshot(const std::string& dir, const Frame& frame, int scale, const std::tm& when,
                           std::string& error) {
  if (dir.empty()) {
    error = "there is no data directory to save it in (set HOME or use --data-dir)";
    return {};
  }
  if (frame.indices.size() != static_cast<std::size_t>(Surface::kWidth) * Surface::kHeight) {
    error = "there is no picture yet";
    return {};
  }
  if (!CreateDirectories(dir, error)) {  // the data directory: for the player alone
    error = dir + ": " + error;
    return {};
  }
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "quillmarsh-rall-%04d-%02d-%02d-%02d%02d%02d", when.tm_year + 1900,
                when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec);
  std::string path;
  std::FILE* file = nullptr;
  for (int n = 1; file == nullptr; ++n) {
    if (n > 999) {
      error = dir + std::string(stamp) + ".png: 999 screenshots of that second are there already";
      return {};
    }
    path = dir + stamp + (n == 1 ? std::string() : "-" + std::to_string(n)) + ".png";
    int err = 0;
    file = CreateNew(path, err);
    if (file == nullptr && err != EEXIST) {
      error = path + ": " + std::strerror(err);
      return {};
    }
  }
  const std::vector<std::uint32_t> rgb = frame.ToRgb();
  bool written = WritePng(file, rgb.data(), Surface::kWidth, Surface::kHeight, scale, PngPacking::Fast, error);
  if (std::fclose(file) != 0 && written) {
    error = std::strerror(errno);
    written = false;
  }
  if (!written) {
    std::remove(path.c_str());
    error = path + ": " + error;
    return {};
  }
  return path;
}

void ScreenshotWriter::Save(std::string dir, Frame frame, int scale, const std::tm& when) {
  std::lock_guard lock(mutex_);
  jobs_.push_back(Job{std::move(dir), std::move(frame), scale, when});
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      // No thread to be had: saved here and now, the window waits for it.
      const Job job = std::move(jobs_.front());
      jobs_.pop_front();
      Write(job);
      return;
    }
  }
  wake_.notify_one();
}

void ScreenshotWriter::Finish() {
  {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) return;
    finishing_ = true;
  }
  wake_.notify_one();
  thread_.join();
  std::lock_guard lock(mutex_);
  finishing_ = false;
}

void ScreenshotWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return !jobs_.empty() || finishing_; });
    if (jobs_.empty()) return;
    const Job job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    Write(job);
    lock.lock();
  }
}

void ScreenshotWriter::Write(const Job& job) {
  std::string error;
  const std::string path = SaveScreenshot(job.dir, job.frame, job.scale, job.when, error);
  report_(path, error);
}

}  // namespace qr
