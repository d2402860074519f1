#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qr {

// A run of set pixels in a rendered text: row dy (from the text's top), columns x0 .. x0+len-1.
struct MaskRun {
  std::int16_t dy;
  std::int16_t x0;
  std::int16_t len;
};

// A text rendered without anti-aliasing, so that printing it again in black erases it exactly.
struct TextMask {
  int width = 0;
  int height = 0;
  std::vector<MaskRun> runs;
};

// The game's font: the bold condensed face, baked into the executable at the sizes and styles
// the game prints with (machine/FontAtlas.hpp). A size or style that was not baked prints with
// the nearest one that was.
class Font {
 public:
  Font(int points, int dpi);
  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  int TextWidth(std::string_view text) const;
  int Height() const;
  // How many rendered texts and measured widths are kept (each cache is emptied at 8192).
  std::size_t CachedTexts() const;
  // Rendered texts are kept, since the game prints the same few texts again and again.
  const TextMask& Render(std::string_view text, bool italic) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qr
