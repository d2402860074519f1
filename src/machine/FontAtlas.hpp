#pragma once
#include <cstddef>
#include <cstdint>

namespace qr {

// The game's font, baked at build time (tools/BakeFont.cpp) from the bold condensed face in
// assets/fonts: every face the game prints with, each character drawn once without
// anti-aliasing, as a 1-bit picture of its ink placed relative to the pen.

// Characters 32 .. 255 take slots 0 .. 223; slot 224 is the face's missing-character box, drawn
// for anything else.
constexpr int kBakedFirstChar = 32;
constexpr int kBakedLastChar = 255;
constexpr int kBakedMissingSlot = kBakedLastChar - kBakedFirstChar + 1;
constexpr int kBakedSlots = kBakedMissingSlot + 1;

struct BakedGlyph {
  std::int16_t advance;  // pen advance in 1/64 pixel
  std::int8_t boxLeft;   // the glyph's box, in whole pixels from the pen's pixel: it widens the line
  std::int8_t boxRight;
  std::int8_t boxBottom;  // the row under the box, from the line's top: a line reaching lower is higher
  std::int8_t inkX;       // the ink picture's top left, from the pen's pixel and the line's top row
  std::int8_t inkY;
  std::uint8_t inkWidth;
  std::uint8_t inkHeight;
  std::uint16_t inkByte;  // where the picture starts in the face's bits: rows top down, packed, high bit first
};

// The pen moves by `adjust` (1/64 pixel) more between the two slots.
struct BakedKerning {
  std::uint16_t left;
  std::uint16_t right;
  std::int32_t adjust;
};

struct BakedFace {
  int points;
  int dpi;
  bool italic;
  int height;                // the height of a text row, and of a rendered line unless a glyph's box reaches lower
  const BakedGlyph* glyphs;  // kBakedSlots entries
  const std::uint8_t* bits;
  std::size_t bitBytes;
  const BakedKerning* kerning;  // sorted by (left, right)
  std::size_t kerningCount;
};

extern const BakedFace kBakedFaces[];
extern const std::size_t kBakedFaceCount;

}  // namespace qr
