#pragma once
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "machine/Font.hpp"

namespace qr {

// The window's persistent drawing surface: 319 x 239 units, one unit per pixel, origin top
// left, y downwards. Integer coordinates name pixel centres. Colours are 0xRRGGBB.
//
// Pixels are kept as indices into a small palette: only a handful of colours are ever drawn,
// and a whole-screen clear then copies a quarter of the bytes.
class Surface {
 public:
  static constexpr int kWidth = 319;
  static constexpr int kHeight = 239;

  explicit Surface(const Font& font);

  // Drawing state.
  void ForeColor(std::uint32_t rgb);
  std::uint32_t ForeColor() const { return palette_[fore_]; }
  void DrawWidth(int width) { drawWidth_ = width < 1 ? 1 : width; }
  int DrawWidth() const { return drawWidth_; }
  void FontItalic(bool on) { italic_ = on; }
  bool FontItalic() const { return italic_; }
  int CurrentX = 0;
  int CurrentY = 0;

  // Shows the background picture again and puts the text cursor at (0, 0). Drawing in black
  // erases: it shows the background picture under what it covers.
  void Cls();
  // The round-capped stroke of the current width: every pixel whose centre lies within
  // width/2 of the segment.
  void Line(int x0, int y0, int x1, int y1);
  void Line(int x0, int y0, int x1, int y1, std::uint32_t rgb);
  // A box on two corners; with width 1 the outline, or filled.
  void Box(int x0, int y0, int x1, int y1, std::uint32_t rgb, bool filled);
  // A disc of the current width's diameter.
  void PSet(int x, int y);
  // Prints at the text cursor in the current colour on a transparent background. A print that
  // ends the line leaves the cursor at x 0, one text height lower; one that does not leaves it
  // after the text on the same row.
  void Print(std::string_view text, bool endLine = true);
  int TextWidth(std::string_view text) const;
  int TextHeight(std::string_view text) const;
  const Font& TextFont() const { return font_; }

  // Reading the picture back.
  std::uint32_t Pixel(int x, int y) const;
  void ToRgb(std::uint32_t* out) const;  // kWidth * kHeight values, 0xRRGGBB
  const std::vector<std::uint8_t>& Indices() const { return pixels_; }
  const std::array<std::uint32_t, 256>& Palette() const { return palette_; }

  // The background picture shown by every clear.
  void SetBackground(const std::vector<std::uint32_t>& rgb);

 private:
  static constexpr std::uint8_t kBlackIndex = 0;  // black is always the palette's first colour

  std::uint8_t IndexOf(std::uint32_t rgb);
  void Fill(std::size_t at, std::size_t count, std::uint8_t index);
  void Paint(std::size_t at, std::uint8_t index);
  void Stroke(int x0, int y0, int x1, int y1, int width, std::uint8_t index);

  const Font& font_;
  std::vector<std::uint8_t> pixels_;
  std::vector<std::uint8_t> background_;
  std::array<std::uint32_t, 256> palette_{};
  int paletteSize_ = 0;
  std::uint8_t fore_ = 0;
  int drawWidth_ = 1;
  bool italic_ = false;
};

// The background picture: a dim logo of the game's name in the middle of the black field and
// two blue bars from x 13 to 306 at y 28-32 and y 208-212.
std::vector<std::uint32_t> ComposeBackground();

}  // namespace qr
