#include "platform/Font.hpp"

#include <SDL_ttf.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string_view>
#include <unordered_map>

namespace qr {

extern const std::uint8_t kEmbeddedFont[];
extern const std::size_t kEmbeddedFontSize;

namespace {

int ttfUsers = 0;

[[noreturn]] void Fatal(const char* what) {
  std::fprintf(stderr, "quillmarsh-rall: %s: %s\n", what, TTF_GetError());
  std::exit(1);
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
  TTF_Font* font = nullptr;
  int height = 0;
  mutable TextMap<TextMask> upright;
  mutable TextMap<TextMask> italic;
  mutable TextMap<int> widths;
};

Font::Font(int points, int dpi) : impl_(std::make_unique<Impl>()) {
  if (ttfUsers++ == 0 && TTF_Init() != 0) Fatal("cannot start the font renderer");
  SDL_RWops* rw = SDL_RWFromConstMem(kEmbeddedFont, static_cast<int>(kEmbeddedFontSize));
  impl_->font = TTF_OpenFontDPIRW(rw, 1, points, static_cast<unsigned>(dpi), static_cast<unsigned>(dpi));
  if (impl_->font == nullptr) Fatal("cannot open the built-in font");
  TTF_SetFontHinting(impl_->font, TTF_HINTING_NORMAL);
  TTF_SetFontKerning(impl_->font, 1);
  impl_->height = TTF_FontHeight(impl_->font);
}

Font::~Font() {
  TTF_CloseFont(impl_->font);
  if (--ttfUsers == 0) TTF_Quit();
}

int Font::Height() const { return impl_->height; }

std::size_t Font::CachedTexts() const {
  return impl_->upright.size() + impl_->italic.size() + impl_->widths.size();
}

int Font::TextWidth(std::string_view text) const {
  if (text.empty()) return 0;
  auto it = impl_->widths.find(text);
  if (it != impl_->widths.end()) return it->second;
  std::string key(text);
  int w = 0;
  int h = 0;
  TTF_SetFontStyle(impl_->font, TTF_STYLE_NORMAL);
  if (TTF_SizeUTF8(impl_->font, key.c_str(), &w, &h) != 0) w = 0;
  if (impl_->widths.size() > 8192) impl_->widths.clear();
  impl_->widths.emplace(std::move(key), w);
  return w;
}

const TextMask& Font::Render(std::string_view text, bool italic) const {
  auto& cache = italic ? impl_->italic : impl_->upright;
  auto it = cache.find(text);
  if (it != cache.end()) return it->second;
  std::string key(text);
  if (cache.size() > 8192) cache.clear();

  TextMask mask;
  if (!key.empty()) {
    TTF_SetFontStyle(impl_->font, italic ? TTF_STYLE_ITALIC : TTF_STYLE_NORMAL);
    SDL_Surface* s = TTF_RenderUTF8_Solid(impl_->font, key.c_str(), SDL_Color{255, 255, 255, 255});
    TTF_SetFontStyle(impl_->font, TTF_STYLE_NORMAL);
    if (s != nullptr) {
      mask.width = s->w;
      mask.height = s->h;
      SDL_LockSurface(s);
      const auto* pixels = static_cast<const std::uint8_t*>(s->pixels);
      for (int y = 0; y < s->h; ++y) {
        const std::uint8_t* row = pixels + y * s->pitch;
        int x = 0;
        while (x < s->w) {
          if (row[x] == 0) {
            ++x;
            continue;
          }
          int start = x;
          while (x < s->w && row[x] != 0) ++x;
          mask.runs.push_back(
              {static_cast<std::int16_t>(y), static_cast<std::int16_t>(start), static_cast<std::int16_t>(x - start)});
        }
      }
      SDL_UnlockSurface(s);
      SDL_FreeSurface(s);
    }
  }
  return cache.emplace(std::move(key), std::move(mask)).first->second;
}

}  // namespace qr
