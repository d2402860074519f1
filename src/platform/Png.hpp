#pragma once
#include <cstdint>
#include <string>

#include "platform/Surface.hpp"

namespace qr {

// Writes the surface as a PNG, each pixel scale x scale (nearest neighbour). The bytes depend
// only on the picture. On failure returns false and says why in error.
bool WritePng(const std::string& path, const Surface& surface, int scale, std::string& error);

// The same for a picture of pictureWidth x pictureHeight values 0xRRGGBB, row by row.
bool WritePng(const std::string& path, const std::uint32_t* rgb, int pictureWidth, int pictureHeight, int scale,
              std::string& error);

}  // namespace qr
