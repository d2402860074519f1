#include "platform/sdl/Screenshot.hpp"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/Files.hpp"
#include "platform/Png.hpp"
#include "platform/Surface.hpp"

namespace qr {

std::vector<std::uint32_t> Frame::ToRgb() const {
  std::vector<std::uint32_t> rgb(indices.size());
  for (std::size_t i = 0; i < indices.size(); ++i) rgb[i] = palette[indices[i]];
  return rgb;
}

std::string ScreenshotPath(const std::string& dir, const std::tm& when) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "quillmarsh-rall-%04d-%02d-%02d-%02d%02d%02d", when.tm_year + 1900,
                when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec);
  std::string path = dir + stamp + ".png";
  std::error_code ec;
  for (int n = 2; std::filesystem::exists(path, ec); ++n) path = dir + stamp + "-" + std::to_string(n) + ".png";
  return path;
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
  const std::string path = ScreenshotPath(dir, when);
  const std::vector<std::uint32_t> rgb = frame.ToRgb();
  if (!WritePng(path, rgb.data(), Surface::kWidth, Surface::kHeight, scale, error)) return {};
  return path;
}

}  // namespace qr
