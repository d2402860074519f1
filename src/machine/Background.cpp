#include "machine/Surface.hpp"

namespace qr {

namespace {

constexpr std::uint32_t kLogo = 0x1A2038;       // dim blue-grey, well below the silver of play
constexpr std::uint32_t kLogoShade = 0x0C1020;  // a darker drop shade under the letters
constexpr std::uint32_t kBar = 0x1838B0;        // the blue of the two bars

void Stamp(std::vector<std::uint32_t>& rgb, const TextMask& mask, int x, int y, std::uint32_t colour) {
  for (const MaskRun& run : mask.runs) {
    const int py = y + run.dy;
    if (py < 0 || py >= Surface::kHeight) continue;
    for (int px = x + run.x0; px < x + run.x0 + run.len; ++px) {
      if (px >= 0 && px < Surface::kWidth) rgb[static_cast<std::size_t>(py) * Surface::kWidth + px] = colour;
    }
  }
}

}  // namespace

std::vector<std::uint32_t> ComposeBackground() {
  std::vector<std::uint32_t> rgb(static_cast<std::size_t>(Surface::kWidth) * Surface::kHeight, 0);

  // The logo: the game's name on two lines, in the middle of the field.
  Font big(26, 96);
  const TextMask& top = big.Render("Quillmarsh", true);
  const TextMask& bottom = big.Render("Rall", true);
  const int gap = -6;
  const int total = top.height + gap + bottom.height;
  const int y0 = 120 - total / 2;
  const int x0 = 159 - top.width / 2;
  const int x1 = 159 - bottom.width / 2;
  Stamp(rgb, top, x0 + 2, y0 + 2, kLogoShade);
  Stamp(rgb, bottom, x1 + 2, y0 + top.height + gap + 2, kLogoShade);
  Stamp(rgb, top, x0, y0, kLogo);
  Stamp(rgb, bottom, x1, y0 + top.height + gap, kLogo);

  // The two bars under the border lines.
  for (int y : {28, 208}) {
    for (int dy = 0; dy < 5; ++dy) {
      for (int x = 13; x <= 306; ++x) rgb[static_cast<std::size_t>(y + dy) * Surface::kWidth + x] = kBar;
    }
  }
  return rgb;
}

}  // namespace qr
