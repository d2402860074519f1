#pragma once
#include <string>

#include "platform/Surface.hpp"

namespace qr {

// Writes the surface as a PNG, each pixel scale x scale (nearest neighbour). The bytes depend
// only on the picture. On failure returns false and says why in error.
bool WritePng(const std::string& path, const Surface& surface, int scale, std::string& error);

}  // namespace qr
