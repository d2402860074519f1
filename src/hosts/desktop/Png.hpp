#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "machine/Surface.hpp"

namespace qr {

// Writes the surface as a PNG, each pixel scale x scale (nearest neighbour), packed as tightly
// as zlib can. The bytes depend only on the picture. The file is replaced at once, and only a
// plain file is (see WriteFileAtomically). On failure returns false and says why in error.
bool WritePng(const std::string& path, const Surface& surface, int scale, std::string& error);

// The same for a picture of pictureWidth x pictureHeight values 0xRRGGBB, row by row.
bool WritePng(const std::string& path, const std::uint32_t* rgb, int pictureWidth, int pictureHeight, int scale,
              std::string& error);

// How a PNG is packed: Small as tightly as zlib can (seconds for a large picture), Fast in a
// fraction of that time, at up to twice the bytes for the game's pictures.
enum class PngPacking { Small, Fast };

// The PNG's bytes.
bool EncodePng(const std::uint32_t* rgb, int pictureWidth, int pictureHeight, int scale, PngPacking packing,
               std::string& bytes, std::string& error);

// Writes the PNG into a file opened for writing, which the caller closes. On failure returns
// false and says why in error (without a file name).
bool WritePng(std::FILE* file, const std::uint32_t* rgb, int pictureWidth, int pictureHeight, int scale,
              PngPacking packing, std::string& error);

}  // namespace qr
