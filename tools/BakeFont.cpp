// Bakes the game's font: draws every character 32 .. 255 (and the missing-character box) of the
// TrueType face with SDL2_ttf, solid, in each face asked for, and writes a C++ source file with
// the ink pictures, the glyph boxes, the pen advances and any kerning (machine/FontAtlas.hpp).
// The pen advances and kerning come from HarfBuzz set up as SDL2_ttf sets it up: hinted
// advances in 1/64 pixel, no script given, kerning on.
// Usage: rall-bakefont FONT.ttf OUT.cpp FACE...   (FACE: points, with an "i" for italic: 10 10i 26i)
#include <SDL.h>
#include <SDL_ttf.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb-ft.h>
#include <hb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "machine/FontAtlas.hpp"

namespace {

constexpr int kDpi = 96;
constexpr char kPadding[] = "    ";  // blanks around a glyph drawn alone, so that no ink is cut off

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "rall-bakefont: %s\n", what.c_str());
  std::exit(1);
}

std::uint32_t CodeOf(int slot) {
  return slot == qr::kBakedMissingSlot ? 0xE000u : static_cast<std::uint32_t>(qr::kBakedFirstChar + slot);
}

std::string Utf8(std::uint32_t code) {
  std::string s;
  if (code < 0x80) {
    s += static_cast<char>(code);
  } else if (code < 0x800) {
    s += static_cast<char>(0xC0 | (code >> 6));
    s += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    s += static_cast<char>(0xE0 | (code >> 12));
    s += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (code & 0x3F));
  }
  return s;
}

struct Shaped {
  unsigned glyph;
  int advance;
};

struct Face {
  int points = 0;
  bool italic = false;
  int height = 0;
  std::vector<qr::BakedGlyph> glyphs;
  std::vector<std::uint8_t> bits;
  std::vector<qr::BakedKerning> kerning;
};

class Baker {
 public:
  Baker(const char* path, int points, bool italic) : path_(path), points_(points), italic_(italic) {
    ttf_ = TTF_OpenFontDPI(path, points, kDpi, kDpi);
    if (ttf_ == nullptr) Fail(std::string("cannot open ") + path + ": " + TTF_GetError());
    TTF_SetFontHinting(ttf_, TTF_HINTING_NORMAL);
    TTF_SetFontKerning(ttf_, 1);
    TTF_SetFontStyle(ttf_, italic ? TTF_STYLE_ITALIC : TTF_STYLE_NORMAL);
    if (FT_Init_FreeType(&library_) != 0 || FT_New_Face(library_, path, 0, &face_) != 0 ||
        FT_Set_Char_Size(face_, 0, points * 64, kDpi, kDpi) != 0) {
      Fail(std::string("FreeType cannot open ") + path);
    }
    hb_ = hb_ft_font_create_referenced(face_);
    hb_ft_font_set_load_flags(hb_, FT_LOAD_DEFAULT | FT_LOAD_TARGET_NORMAL);
    buffer_ = hb_buffer_create();
  }
  ~Baker() {
    hb_buffer_destroy(buffer_);
    hb_font_destroy(hb_);
    FT_Done_FreeType(library_);
    TTF_CloseFont(ttf_);
  }
  Baker(const Baker&) = delete;
  Baker& operator=(const Baker&) = delete;

  Face Bake() {
    Face out;
    out.points = points_;
    out.italic = italic_;
    out.height = TTF_FontHeight(ttf_);
    std::vector<Shaped> alone(qr::kBakedSlots);
    for (int slot = 0; slot < qr::kBakedSlots; ++slot) {
      const std::vector<Shaped> s = Shape(Utf8(CodeOf(slot)));
      if (s.size() != 1) Fail(Where(slot) + " is shaped into " + std::to_string(s.size()) + " glyphs");
      alone[slot] = s[0];
    }
    const int padPen = alone[' ' - qr::kBakedFirstChar].advance * (sizeof kPadding - 1);
    for (int slot = 0; slot < qr::kBakedSlots; ++slot) out.glyphs.push_back(Glyph(slot, alone[slot], padPen, out));
    Kerning(alone, out);
    return out;
  }

 private:
  std::string Where(int slot) const {
    char buf[80];
    std::snprintf(buf, sizeof buf, "U+%04X at %d points%s", static_cast<unsigned>(CodeOf(slot)), points_,
                  italic_ ? " italic" : "");
    return buf;
  }

  // The glyphs SDL2_ttf places for a text: its HarfBuzz shaping, left to right, no script.
  std::vector<Shaped> Shape(const std::string& text) {
    hb_buffer_reset(buffer_);
    hb_buffer_set_direction(buffer_, HB_DIRECTION_LTR);
    hb_buffer_set_script(buffer_, HB_SCRIPT_UNKNOWN);
    hb_buffer_add_utf8(buffer_, text.c_str(), -1, 0, -1);
    hb_feature_t kern;
    hb_feature_from_string("kern", -1, &kern);
    hb_shape(hb_, buffer_, &kern, 1);
    unsigned n = 0;
    const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer_, &n);
    const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buffer_, &n);
    std::vector<Shaped> out;
    for (unsigned i = 0; i < n; ++i) {
      if (pos[i].x_offset != 0 || pos[i].y_offset != 0 || pos[i].y_advance != 0) {
        Fail("\"" + text + "\" moves a glyph off the pen line, which the atlas cannot hold");
      }
      out.push_back({info[i].codepoint, pos[i].x_advance});
    }
    return out;
  }

  // The glyph box SDL2_ttf widens a line with: the metrics of a character drawn with that glyph.
  void Box(int slot, const Shaped& shaped, int& left, int& right, int& top, int& bottom) {
    std::uint32_t code = CodeOf(slot);
    hb_codepoint_t nominal = 0;
    if (!hb_font_get_nominal_glyph(hb_, code, &nominal) || nominal != shaped.glyph) {
      // The character is drawn with another's glyph (the soft hyphen with the blank's).
      bool found = false;
      for (int other = 0; other < qr::kBakedMissingSlot && !found; ++other) {
        if (hb_font_get_nominal_glyph(hb_, CodeOf(other), &nominal) && nominal == shaped.glyph) {
          code = CodeOf(other);
          found = true;
        }
      }
      if (!found && shaped.glyph != 0) Fail(Where(slot) + " is drawn with a glyph no character maps to");
    }
    int miny = 0;
    int maxy = 0;
    int advance = 0;
    if (TTF_GlyphMetrics32(ttf_, code, &left, &right, &miny, &maxy, &advance) != 0) {
      Fail(Where(slot) + ": " + TTF_GetError());
    }
    top = TTF_FontAscent(ttf_) - maxy;
    bottom = TTF_FontAscent(ttf_) - miny;
  }

  qr::BakedGlyph Glyph(int slot, const Shaped& shaped, int padPen, Face& out) {
    qr::BakedGlyph g{};
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
    Box(slot, shaped, left, right, top, bottom);
    if (top < 0) Fail(Where(slot) + " reaches above the line, which the atlas cannot hold");
    const int pen = padPen / 64;
    if (pen + left < 0) Fail(Where(slot) + " reaches further left than the padding");
    g.advance = Narrow<std::int16_t>(shaped.advance, slot);
    g.boxLeft = Narrow<std::int8_t>(left, slot);
    g.boxRight = Narrow<std::int8_t>(right, slot);
    g.boxBottom = Narrow<std::int8_t>(bottom, slot);

    // The ink, cut from the glyph drawn between blanks.
    const std::string text = std::string(kPadding) + Utf8(CodeOf(slot)) + kPadding;
    SDL_Surface* s = TTF_RenderUTF8_Solid(ttf_, text.c_str(), SDL_Color{255, 255, 255, 255});
    if (s == nullptr) Fail(Where(slot) + ": " + TTF_GetError());
    SDL_LockSurface(s);
    const auto* pixels = static_cast<const std::uint8_t*>(s->pixels);
    auto inked = [&](int x, int y) { return pixels[y * s->pitch + x] != 0; };
    int x0 = s->w;
    int y0 = s->h;
    int x1 = -1;
    int y1 = -1;
    for (int y = 0; y < s->h; ++y) {
      for (int x = 0; x < s->w; ++x) {
        if (!inked(x, y)) continue;
        x0 = std::min(x0, x);
        x1 = std::max(x1, x);
        y0 = std::min(y0, y);
        y1 = std::max(y1, y);
      }
    }
    if (x1 < 0) {  // no ink
      x0 = pen;
      x1 = pen - 1;
      y0 = 0;
      y1 = -1;
    } else if (x0 == 0 || x1 == s->w - 1) {
      Fail(Where(slot) + " reaches past the padding");
    }
    g.inkX = Narrow<std::int8_t>(x0 - pen, slot);
    g.inkY = Narrow<std::int8_t>(y0, slot);
    g.inkWidth = Narrow<std::uint8_t>(x1 - x0 + 1, slot);
    g.inkHeight = Narrow<std::uint8_t>(y1 - y0 + 1, slot);
    g.inkByte = Narrow<std::uint16_t>(static_cast<int>(out.bits.size()), slot);
    int bit = 0;
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x, ++bit) {
        if (bit % 8 == 0) out.bits.push_back(0);
        if (inked(x, y)) out.bits.back() |= static_cast<std::uint8_t>(0x80 >> (bit % 8));
      }
    }
    SDL_UnlockSurface(s);
    SDL_FreeSurface(s);
    return g;
  }

  // Every pair of characters, shaped together: glyph substitutions cannot be held, kerning can.
  void Kerning(const std::vector<Shaped>& alone, Face& out) {
    for (int a = 0; a < qr::kBakedSlots; ++a) {
      for (int b = 0; b < qr::kBakedSlots; ++b) {
        const std::vector<Shaped> s = Shape(Utf8(CodeOf(a)) + Utf8(CodeOf(b)));
        if (s.size() != 2 || s[0].glyph != alone[a].glyph || s[1].glyph != alone[b].glyph ||
            s[1].advance != alone[b].advance) {
          Fail(Where(a) + " followed by " + Where(b) + " is shaped into other glyphs");
        }
        if (s[0].advance != alone[a].advance) {
          out.kerning.push_back(
              {static_cast<std::uint16_t>(a), static_cast<std::uint16_t>(b), s[0].advance - alone[a].advance});
        }
      }
    }
  }

  template <typename T>
  T Narrow(int v, int slot) const {
    if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max()) {
      Fail(Where(slot) + ": " + std::to_string(v) + " does not fit the atlas");
    }
    return static_cast<T>(v);
  }

  std::string path_;
  int points_;
  bool italic_;
  TTF_Font* ttf_ = nullptr;
  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
  hb_font_t* hb_ = nullptr;
  hb_buffer_t* buffer_ = nullptr;
};

std::string Name(const Face& f) { return std::to_string(f.points) + (f.italic ? "Italic" : "Upright"); }

void Write(std::ostream& o, const std::vector<Face>& faces, const char* font) {
  o << "// Baked from " << font << " by rall-bakefont; do not edit.\n"
    << "// clang-format off\n"
    << "#include <iterator>\n\n#include \"machine/FontAtlas.hpp\"\n\nnamespace qr {\n\nnamespace {\n\n";
  for (const Face& f : faces) {
    o << "// " << f.glyphs.size() << " glyphs (" << f.glyphs.size() * sizeof(qr::BakedGlyph) << " bytes), "
      << f.bits.size() << " bytes of ink, " << f.kerning.size() << " kerning pairs\n";
    o << "const BakedGlyph kGlyphs" << Name(f) << "[] = {\n";
    for (const qr::BakedGlyph& g : f.glyphs) {
      o << "    {" << g.advance << ", " << int{g.boxLeft} << ", " << int{g.boxRight} << ", " << int{g.boxBottom} << ", "
        << int{g.inkX} << ", " << int{g.inkY} << ", " << int{g.inkWidth} << ", " << int{g.inkHeight} << ", "
        << g.inkByte << "},\n";
    }
    o << "};\nconst std::uint8_t kBits" << Name(f) << "[] = {";
    for (std::size_t i = 0; i < f.bits.size(); ++i) o << (i % 24 == 0 ? "\n    " : " ") << int{f.bits[i]} << ",";
    o << "\n};\n";
    if (!f.kerning.empty()) {
      o << "const BakedKerning kKerning" << Name(f) << "[] = {\n";
      for (const qr::BakedKerning& k : f.kerning)
        o << "    {" << k.left << ", " << k.right << ", " << k.adjust << "},\n";
      o << "};\n";
    }
    o << "\n";
  }
  o << "}  // namespace\n\nconst BakedFace kBakedFaces[] = {\n";
  for (const Face& f : faces) {
    o << "    {" << f.points << ", " << kDpi << ", " << (f.italic ? "true" : "false") << ", " << f.height << ", kGlyphs"
      << Name(f) << ", kBits" << Name(f) << ", sizeof kBits" << Name(f) << ", "
      << (f.kerning.empty() ? "nullptr, 0" : "kKerning" + Name(f) + ", std::size(kKerning" + Name(f) + ")") << "},\n";
  }
  o << "};\nconst std::size_t kBakedFaceCount = " << faces.size() << ";\n\n}  // namespace qr\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: rall-bakefont FONT.ttf OUT.cpp FACE...  (FACE: 10, 10i, 26i, ...)\n");
    return 2;
  }
  if (TTF_Init() != 0) Fail(std::string("cannot start SDL2_ttf: ") + TTF_GetError());
  int major = 0;
  int minor = 0;
  int patch = 0;
  TTF_GetHarfBuzzVersion(&major, &minor, &patch);
  if (major == 0 && minor == 0 && patch == 0)
    Fail("SDL2_ttf is built without HarfBuzz; the glyphs would be placed apart");
  std::vector<Face> faces;
  for (int i = 3; i < argc; ++i) {
    char* end = nullptr;
    const long points = std::strtol(argv[i], &end, 10);
    const bool italic = std::string(end) == "i";
    if (end == argv[i] || points < 1 || points > 200 || (!italic && *end != '\0')) {
      Fail(std::string("not a face: ") + argv[i]);
    }
    Baker baker(argv[1], static_cast<int>(points), italic);
    faces.push_back(baker.Bake());
  }
  TTF_Quit();

  std::ostringstream text;
  const std::string font = argv[1];
  Write(text, faces, font.substr(font.find_last_of('/') + 1).c_str());
  const std::string out = argv[2];
  std::ofstream file(out + ".tmp", std::ios::binary);
  file << text.str();
  file.close();
  if (!file || std::rename((out + ".tmp").c_str(), out.c_str()) != 0) Fail("cannot write " + out);
  for (const Face& f : faces) {
    std::printf("rall-bakefont: %d points%s: %zu bytes of glyphs, %zu bytes of ink, %zu kerning pairs\n", f.points,
                f.italic ? " italic" : "", f.glyphs.size() * sizeof(qr::BakedGlyph), f.bits.size(), f.kerning.size());
  }
  return 0;
}
