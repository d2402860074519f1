#pragma once
#include <array>
#include <cstdint>
#include <ctime>
#include <string>
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

// A new file name in dir (which ends with a separator) for a screenshot taken at local time
// `when`: quillmarsh-rall-2026-12-07-201530.png, or ...-201530-2.png and so on when that file
// already exists.
std::string ScreenshotPath(const std::string& dir, const std::tm& when);

// Saves the frame as a PNG, each unit scale x scale pixels, into dir (made if missing) under a
// name from ScreenshotPath. Returns the path written, or empty with the reason in error.
std::string SaveScreenshot(const std::string& dir, const Frame& frame, int scale, const std::tm& when,
                           std::string& error);

}  // namespace qr
