#include "machine/Font.hpp"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "machine/FontAtlas.hpp"

namespace qr {

namespace {

// The baked face closest to a size and style: the same style at the nearest size (at the same
// resolution when there is one), else the other style. The game prints only what is baked (the
// build checks every text of it); anything else still prints, never ends the game.
const BakedFace& NearestFace(int points, int dpi, bool italic) {
  const BakedFace* best = &kBakedFaces[0];
  auto distance = [&](const BakedFace& face) {
    return (face.italic != italic ? 1 << 20 : 0) + (face.dpi != dpi ? 1 << 16 : 0) + std::abs(face.points - points);
  };
  for (std::size_t i = 1; i < kBakedFaceCount; ++i) {
    if (distance(kBakedFaces[i]) < distance(*best)) best = &kBakedFaces[i];
  }
  return *best;
}

int FloorDiv64(std::int64_t v) { return static_cast<int>(v >= 0 ? v / 64 : -((-v + 63) / 64)); }

// The atlas slot of each character of a UTF-8 text; anything outside 32 .. 255, or a broken
// sequence, is the missing-character box.
void SlotsOf(std::string_view text, std::vector<int>& slots) {
  slots.clear();
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;
    std::uint32_t code = lead;
    std::uint32_t least = 0;
    if (lead >= 0xF0 && lead < 0xF8) {
      length = 4;
      code = lead & 0x07u;
      least = 0x10000;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      length = 3;
      code = lead & 0x0Fu;
      least = 0x800;
    } else if (lead >= 0xC0 && lead < 0xE0) {
      length = 2;
      code = lead & 0x1Fu;
      least = 0x80;
    } else if (lead >= 0x80) {
      code = 0xFFFD;  // a stray continuation byte or an invalid lead
    }
    bool valid = i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0u) != 0x80u) valid = false;
      code = (code << 6) | (next & 0x3Fu);
    }
    if (!valid || code < least) {
      code = 0xFFFD;
      length = 1;
    }
    slots.push_back(code >= kBakedFirstChar && code <= kBakedLastChar ? static_cast<int>(code) - kBakedFirstChar
                                                                      : kBakedMissingSlot);
    i += length;
  }
}

std::int32_t KerningOf(const BakedFace& face, int left, int right) {
  const BakedKerning* end = face.kerning + face.kerningCount;
  const BakedKerning* it = std::lower_bound(face.kerning, end, std::pair{left, right},
                                            [](const BakedKerning& k, const std::pair<int, int>& key) {
                                              return std::pair<int, int>{k.left, k.right} < key;
                                            });
  return it != end && it->left == left && it->right == right ? it->adjust : 0;
}

// Where each glyph's pen stands (whole pixels) and the extent of the line: from the leftmost
// glyph box (or the start) to the rightmost box (or the final pen), and down to the face's
// height or the lowest box.
struct Layout {
  std::vector<int> pens;
  int left = 0;
  int right = 0;
  int bottom = 0;
};

void LayOut(const BakedFace& face, const std::vector<int>& slots, Layout& layout) {
  layout.pens.clear();
  layout.left = 0;
  layout.right = 0;
  layout.bottom = face.height;
  std::int64_t pen = 0;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    const BakedGlyph& g = face.glyphs[slots[i]];
    const int px = FloorDiv64(pen);
    layout.pens.push_back(px);
    layout.left = std::min(layout.left, px + g.boxLeft);
    layout.right = std::max(layout.right, px + g.boxRight);
    layout.bottom = std::max(layout.bottom, static_cast<int>(g.boxBottom));
    pen += g.advance;
    if (i + 1 < slots.size() && face.kerningCount > 0) pen += KerningOf(face, slots[i], slots[i + 1]);
  }
  layout.right = std::max(layout.right, FloorDiv64(pen));
}

}  // namespace

// Looked up by string_view, so that printing a known text allocates nothing.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
template <typename T>
using TextMap = std::unordered_map<std::string, T, TextHash, std::equal_to<>>;

struct Font::Impl {
  int points = 0;
  const BakedFace* upright = nullptr;
  const BakedFace* italic = nullptr;
  int height = 0;
  mutable TextMap<TextMask> uprightMasks;
  mutable TextMap<TextMask> italicMasks;
  mutable TextMap<int> widths;
  mutable std::vector<int> slots;
  mutable Layout layout;
  mutable std::vector<std::uint8_t> ink;

  const BakedFace& Face(bool italicFace) const { return *(italicFace ? italic : upright); }
};

Font::Font(int points, int dpi) : impl_(std::make_unique<Impl>()) {
  impl_->points = points;
  impl_->upright = &NearestFace(points, dpi, false);
  impl_->italic = &NearestFace(points, dpi, true);
  // The row height is the size's own, from whichever style is baked at it.
  const BakedFace& own = impl_->italic->points == points ? *impl_->italic : *impl_->upright;
  impl_->height = own.height;
}

Font::~Font() = default;

int Font::Height() const { return impl_->height; }

std::size_t Font::CachedTexts() const {
  return impl_->uprightMasks.size() + impl_->italicMasks.size() + impl_->widths.size();
}

// Widths are measured in the upright face.
int Font::TextWidth(std::string_view text) const {
  if (text.empty()) return 0;
  auto it = impl_->widths.find(text);
  if (it != impl_->widths.end()) return it->second;
  SlotsOf(text, impl_->slots);
  LayOut(impl_->Face(false), impl_->slots, impl_->layout);
  const int w = impl_->layout.right - impl_->layout.left;
  if (impl_->widths.size() > 8192) impl_->widths.clear();
  impl_->widths.emplace(std::string(text), w);
  return w;
}

const TextMask& Font::Render(std::string_view text, bool italic) const {
  auto& cache = italic ? impl_->italicMasks : impl_->uprightMasks;
  auto it = cache.find(text);
  if (it != cache.end()) return it->second;
  if (cache.size() > 8192) cache.clear();

  // A line is as wide and as high as its glyph boxes reach; ink beyond that is cut off. A line of no width (nothing but
  // hidden characters) draws nothing.
  TextMask mask;
  const BakedFace& face = impl_->Face(italic);
  SlotsOf(text, impl_->slots);
  LayOut(face, impl_->slots, impl_->layout);
  const int width = impl_->layout.right - impl_->layout.left;
  if (!text.empty() && width > 0) {
    mask.width = width;
    mask.height = impl_->layout.bottom;
    auto& ink = impl_->ink;
    ink.assign(static_cast<std::size_t>(mask.width) * mask.height, 0);
    for (std::size_t i = 0; i < impl_->slots.size(); ++i) {
      const BakedGlyph& g = face.glyphs[impl_->slots[i]];
      const int x0 = impl_->layout.pens[i] - impl_->layout.left + g.inkX;
      std::uint32_t bit = static_cast<std::uint32_t>(g.inkByte) * 8;
      for (int row = 0; row < g.inkHeight; ++row) {
        const int y = g.inkY + row;
        for (int col = 0; col < g.inkWidth; ++col, ++bit) {
          const int x = x0 + col;
          if (y < 0 || y >= mask.height || x < 0 || x >= mask.width) continue;
          if ((face.bits[bit / 8] >> (7 - bit % 8)) & 1u) ink[static_cast<std::size_t>(y) * mask.width + x] = 1;
        }
      }
    }
    for (int y = 0; y < mask.height; ++y) {
      const std::uint8_t* row = ink.data() + static_cast<std::size_t>(y) * mask.width;
      int x = 0;
      while (x < mask.width) {
        if (row[x] == 0) {
          ++x;
          continue;
        }
        const int start = x;
        while (x < mask.width && row[x] != 0) ++x;
        mask.runs.push_back(
            {static_cast<std::int16_t>(y), static_cast<std::int16_t>(start), static_cast<std::int16_t>(x - start)});
      }
    }
  }
  return cache.emplace(std::string(text), std::move(mask)).first->second;
}

}  // namespace qr
