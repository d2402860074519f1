#include "machine/Surface.hpp"

#include <algorithm>
#include <cstring>

namespace qr {

Surface::Surface(const Font& font)
    : font_(font),
      pixels_(static_cast<std::size_t>(kWidth) * kHeight, 0),
      background_(static_cast<std::size_t>(kWidth) * kHeight, 0) {
  palette_[0] = 0;
  paletteSize_ = 1;
}

std::uint8_t Surface::IndexOf(std::uint32_t rgb) {
  rgb &= 0xFFFFFF;
  for (int i = 0; i < paletteSize_; ++i) {
    if (palette_[i] == rgb) return static_cast<std::uint8_t>(i);
  }
  if (paletteSize_ < 256) {
    palette_[paletteSize_] = rgb;
    return static_cast<std::uint8_t>(paletteSize_++);
  }
  // The palette is full (the game itself uses only a few colours): take the nearest one.
  int best = 0;
  long bestDist = -1;
  for (int i = 0; i < paletteSize_; ++i) {
    long d = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
      long a = static_cast<long>((palette_[i] >> shift) & 0xFF) - static_cast<long>((rgb >> shift) & 0xFF);
      d += a * a;
    }
    if (bestDist < 0 || d < bestDist) {
      bestDist = d;
      best = i;
    }
  }
  return static_cast<std::uint8_t>(best);
}

void Surface::ForeColor(std::uint32_t rgb) { fore_ = IndexOf(rgb); }

void Surface::SetBackground(const std::vector<std::uint32_t>& rgb) {
  for (std::size_t i = 0; i < background_.size() && i < rgb.size(); ++i) background_[i] = IndexOf(rgb[i]);
}

void Surface::Cls() {
  std::memcpy(pixels_.data(), background_.data(), pixels_.size());
  CurrentX = 0;
  CurrentY = 0;
}

// Black erases: what was drawn goes, and the background picture under it comes back. Every other
// colour paints over.
void Surface::Fill(std::size_t at, std::size_t count, std::uint8_t index) {
  if (index == kBlackIndex) {
    std::memcpy(pixels_.data() + at, background_.data() + at, count);
  } else {
    std::memset(pixels_.data() + at, index, count);
  }
}

void Surface::Paint(std::size_t at, std::uint8_t index) {
  pixels_[at] = index == kBlackIndex ? background_[at] : index;
}

void Surface::Stroke(int x0, int y0, int x1, int y1, int width, std::uint8_t index) {
  // Exact integer test: 4 * dist^2 <= width^2.
  const std::int64_t w2 = static_cast<std::int64_t>(width) * width;
  if (x0 == x1 || y0 == y1) {
    // Every line the game draws is upright or level (a point is both), so the stroke is a
    // capsule whose rows and columns are contiguous spans; fill them directly. A pixel at
    // distance d across the line and e beyond its end is inside when 4 (d^2 + e^2) <= w^2.
    const bool level = y0 == y1;
    const int across0 = level ? y0 : x0;                             // the line's position across
    const int along0 = level ? std::min(x0, x1) : std::min(y0, y1);  // its extent along
    const int along1 = level ? std::max(x0, x1) : std::max(y0, y1);
    const int reachAcross = width / 2 + 1;
    for (int d = -reachAcross; d <= reachAcross; ++d) {
      const std::int64_t room = w2 - 4 * static_cast<std::int64_t>(d) * d;
      if (room < 0) continue;
      int e = 0;
      while (4 * static_cast<std::int64_t>(e + 1) * (e + 1) <= room) ++e;
      const int across = across0 + d;
      const int from = along0 - e;
      const int to = along1 + e;
      if (level) {
        if (across < 0 || across >= kHeight) continue;
        const int left = std::max(0, from);
        const int right = std::min(kWidth - 1, to);
        if (left <= right) {
          Fill(static_cast<std::size_t>(across) * kWidth + left, static_cast<std::size_t>(right - left + 1), index);
        }
      } else {
        if (across < 0 || across >= kWidth) continue;
        const int top = std::max(0, from);
        const int bottom = std::min(kHeight - 1, to);
        for (int y = top; y <= bottom; ++y) Paint(static_cast<std::size_t>(y) * kWidth + across, index);
      }
    }
    return;
  }
  const int reach = width / 2 + 1;
  const int left = std::max(0, std::min(x0, x1) - reach);
  const int right = std::min(kWidth - 1, std::max(x0, x1) + reach);
  const int top = std::max(0, std::min(y0, y1) - reach);
  const int bottom = std::min(kHeight - 1, std::max(y0, y1) + reach);
  const std::int64_t dx = x1 - x0;
  const std::int64_t dy = y1 - y0;
  const std::int64_t len2 = dx * dx + dy * dy;
  for (int y = top; y <= bottom; ++y) {
    const std::size_t row = static_cast<std::size_t>(y) * kWidth;
    for (int x = left; x <= right; ++x) {
      const std::int64_t px = x - x0;
      const std::int64_t py = y - y0;
      const std::int64_t t = px * dx + py * dy;
      bool inside;
      if (len2 == 0 || t <= 0) {
        inside = 4 * (px * px + py * py) <= w2;
      } else if (t >= len2) {
        const std::int64_t qx = x - x1;
        const std::int64_t qy = y - y1;
        inside = 4 * (qx * qx + qy * qy) <= w2;
      } else {
        const std::int64_t cross = px * dy - py * dx;
        inside = 4 * cross * cross <= w2 * len2;
      }
      if (inside) Paint(row + x, index);
    }
  }
}

void Surface::Line(int x0, int y0, int x1, int y1) { Stroke(x0, y0, x1, y1, drawWidth_, fore_); }

void Surface::Line(int x0, int y0, int x1, int y1, std::uint32_t rgb) {
  Stroke(x0, y0, x1, y1, drawWidth_, IndexOf(rgb));
}

void Surface::Box(int x0, int y0, int x1, int y1, std::uint32_t rgb, bool filled) {
  const std::uint8_t index = IndexOf(rgb);
  if (!filled) {
    Stroke(x0, y0, x1, y0, drawWidth_, index);
    Stroke(x1, y0, x1, y1, drawWidth_, index);
    Stroke(x1, y1, x0, y1, drawWidth_, index);
    Stroke(x0, y1, x0, y0, drawWidth_, index);
    return;
  }
  const int left = std::max(0, std::min(x0, x1));
  const int right = std::min(kWidth - 1, std::max(x0, x1));
  const int top = std::max(0, std::min(y0, y1));
  const int bottom = std::min(kHeight - 1, std::max(y0, y1));
  if (left > right) return;
  for (int y = top; y <= bottom; ++y) {
    Fill(static_cast<std::size_t>(y) * kWidth + left, static_cast<std::size_t>(right - left + 1), index);
  }
}

void Surface::PSet(int x, int y) { Stroke(x, y, x, y, drawWidth_, fore_); }

void Surface::Print(std::string_view text, bool endLine) {
  if (!text.empty()) {
    const TextMask& mask = font_.Render(text, italic_);
    for (const MaskRun& run : mask.runs) {
      const int y = CurrentY + run.dy;
      if (y < 0 || y >= kHeight) continue;
      const int from = std::max(0, CurrentX + run.x0);
      const int to = std::min(kWidth, CurrentX + run.x0 + run.len);
      if (from < to) Fill(static_cast<std::size_t>(y) * kWidth + from, static_cast<std::size_t>(to - from), fore_);
    }
  }
  if (endLine) {
    CurrentX = 0;
    CurrentY += font_.Height();
  } else {
    CurrentX += font_.TextWidth(text);
  }
}

int Surface::TextWidth(std::string_view text) const { return font_.TextWidth(text); }

int Surface::TextHeight(std::string_view) const { return font_.Height(); }

std::uint32_t Surface::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return 0;
  return palette_[pixels_[static_cast<std::size_t>(y) * kWidth + x]];
}

void Surface::ToRgb(std::uint32_t* out) const {
  for (std::size_t i = 0; i < pixels_.size(); ++i) out[i] = palette_[pixels_[i]];
}

}  // namespace qr
