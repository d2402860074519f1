// Checks the baked font against SDL2_ttf: every text of the game (each string literal in the
// sources, and the numbers, scores and initials it prints) and a few thousand random strings
// must come out of the game's Font exactly as TTF_RenderUTF8_Solid draws them and as wide as
// TTF_SizeUTF8 measures them, in every baked face. The first difference fails the build.
// Usage: rall-checkfont FONT.ttf SRCDIR STAMP   (writes STAMP when everything matches)
#include <SDL.h>
#include <SDL_ttf.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "game/app/Text.hpp"
#include "machine/Font.hpp"
#include "machine/FontAtlas.hpp"

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "rall-checkfont: %s\n", what.c_str());
  std::exit(1);
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

// True when the text is UTF-8 of characters 32 .. 255 only: what the game prints.
bool Printable(const std::string& s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 32 && c < 127) continue;
    if ((c == 0xC2 || c == 0xC3) && i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80) {
      ++i;
      continue;
    }
    return false;
  }
  return true;
}

// The string literals of a C++ source file, escapes decoded (comments and character literals skipped).
void Literals(const std::string& src, std::set<std::string>& out) {
  std::size_t i = 0;
  while (i < src.size()) {
    if (src.compare(i, 2, "//") == 0) {
      i = src.find('\n', i);
      if (i == std::string::npos) return;
    } else if (src.compare(i, 2, "/*") == 0) {
      i = src.find("*/", i + 2);
      if (i == std::string::npos) return;
      i += 2;
    } else if (src[i] == '\'' || src[i] == '"') {
      const char quote = src[i++];
      std::string text;
      while (i < src.size() && src[i] != quote && src[i] != '\n') {
        if (src[i] == '\\' && i + 1 < src.size()) {
          const char e = src[++i];
          if (e == 'x') {
            std::size_t used = 0;
            const unsigned long v = std::stoul(src.substr(i + 1, 2), &used, 16);
            text += static_cast<char>(v);
            i += used;
          } else {
            const std::map<char, char> simple = {{'n', '\n'}, {'r', '\r'}, {'t', '\t'}, {'0', '\0'}};
            text += simple.count(e) != 0 ? simple.at(e) : e;
          }
        } else {
          text += src[i];
        }
        ++i;
      }
      ++i;
      if (quote == '"' && !text.empty() && Printable(text)) out.insert(text);
    } else {
      ++i;
    }
  }
}

// Everything the game prints.
std::vector<std::string> GameTexts(const std::filesystem::path& srcDir) {
  std::set<std::string> texts;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(srcDir)) {
    const std::string ext = entry.path().extension().string();
    if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".hpp")) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string src((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Literals(src, texts);
  }
  if (texts.size() < 50) Fail("found only " + std::to_string(texts.size()) + " texts in " + srcDir.string());
  // The texts the game puts together: credits, scores, bonuses, serves, leads, initials.
  for (int n = 0; n <= 999; ++n) {
    texts.insert("Credit " + qr::Format00(n));
    texts.insert("Player 1  " + qr::Format00(n));
    texts.insert("Player 2  " + qr::Format00(n));
    texts.insert(qr::PrintedNumber(n));
  }
  for (int b = 10; b <= 1000; b += 5) texts.insert("BONUS " + qr::SignedText(b) + " POINTS");
  for (int p = 1; p <= 2; ++p) {
    const std::string serving = "Player " + std::to_string(p) + " Serving";
    texts.insert({serving, "<--  " + serving, serving + "  -->"});
    texts.insert("Player " + std::to_string(p) + " Enter Your Initials");
  }
  for (int lead = 1; lead <= 3; ++lead) {
    texts.insert("Ahead by " + qr::SignedText(lead));
    texts.insert("Down by " + qr::SignedText(lead));
  }
  std::mt19937 random(12);
  for (int c = 32; c <= 96; ++c) texts.insert(std::string(1, static_cast<char>(c)));
  for (int i = 0; i < 500; ++i) {
    std::string initials;
    for (int k = 0; k < 3; ++k) initials += static_cast<char>(32 + random() % 65);
    texts.insert(initials);
    texts.insert(qr::PrintedNumber(random() % 32768) + "/" + qr::PrintedNumber(random() % 32768));
    texts.insert(qr::PrintedNumber(random() % 32768));
  }
  return {texts.begin(), texts.end()};
}

// Random texts: printable Latin-1, and some with any character of 32 .. 255 and one the face lacks.
std::vector<std::string> RandomTexts(int count) {
  std::mt19937 random(1);
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) {
    const bool any = i % 4 == 3;
    std::string s;
    const int length = 1 + static_cast<int>(random() % 40);
    for (int k = 0; k < length; ++k) {
      auto c = static_cast<std::uint32_t>(32 + random() % 224);
      if (!any) {
        while (c >= 127 && c < 160) c = static_cast<std::uint32_t>(32 + random() % 224);
      } else if (random() % 50 == 0) {
        c = 0xE000;
      }
      s += Utf8(c);
    }
    out.push_back(s);
  }
  return out;
}

std::string Shown(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 32 && u < 127 && c != '"' && c != '\\') {
      out += c;
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", u);
      out += buf;
    }
  }
  return out + "\"";
}

qr::TextMask Reference(TTF_Font* ttf, const std::string& text) {
  qr::TextMask mask;
  SDL_Surface* s = TTF_RenderUTF8_Solid(ttf, text.c_str(), SDL_Color{255, 255, 255, 255});
  if (s == nullptr) return mask;
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
      const int start = x;
      while (x < s->w && row[x] != 0) ++x;
      mask.runs.push_back(
          {static_cast<std::int16_t>(y), static_cast<std::int16_t>(start), static_cast<std::int16_t>(x - start)});
    }
  }
  SDL_UnlockSurface(s);
  SDL_FreeSurface(s);
  return mask;
}

std::string Describe(const qr::TextMask& m) {
  std::string s = std::to_string(m.width) + "x" + std::to_string(m.height) + ",";
  for (const qr::MaskRun& r : m.runs) {
    s += " " + std::to_string(r.dy) + ":" + std::to_string(r.x0) + "+" + std::to_string(r.len);
  }
  return s;
}

bool Same(const qr::TextMask& a, const qr::TextMask& b) {
  if (a.width != b.width || a.height != b.height || a.runs.size() != b.runs.size()) return false;
  for (std::size_t i = 0; i < a.runs.size(); ++i) {
    if (a.runs[i].dy != b.runs[i].dy || a.runs[i].x0 != b.runs[i].x0 || a.runs[i].len != b.runs[i].len) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: rall-checkfont FONT.ttf SRCDIR STAMP\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  if (TTF_Init() != 0) Fail(std::string("cannot start SDL2_ttf: ") + TTF_GetError());
  const std::vector<std::string> game = GameTexts(argv[2]);
  const std::vector<std::string> random = RandomTexts(4000);

  std::map<int, std::unique_ptr<qr::Font>> fonts;
  long checked = 0;
  for (std::size_t f = 0; f < qr::kBakedFaceCount; ++f) {
    const qr::BakedFace& face = qr::kBakedFaces[f];
    const std::string name = std::to_string(face.points) + " points" + (face.italic ? " italic" : "");
    TTF_Font* ttf =
        TTF_OpenFontDPI(argv[1], face.points, static_cast<unsigned>(face.dpi), static_cast<unsigned>(face.dpi));
    if (ttf == nullptr) Fail(std::string("cannot open ") + argv[1] + ": " + TTF_GetError());
    TTF_SetFontHinting(ttf, TTF_HINTING_NORMAL);
    TTF_SetFontKerning(ttf, 1);
    TTF_SetFontStyle(ttf, face.italic ? TTF_STYLE_ITALIC : TTF_STYLE_NORMAL);
    auto& font = fonts[face.points * 1000 + face.dpi];
    if (!font) font = std::make_unique<qr::Font>(face.points, face.dpi);
    if (font->Height() != TTF_FontHeight(ttf)) {
      Fail(name + ": a line is " + std::to_string(font->Height()) + " high, SDL2_ttf says " +
           std::to_string(TTF_FontHeight(ttf)));
    }
    for (const auto* texts : {&game, &random}) {
      for (const std::string& text : *texts) {
        const qr::TextMask expected = Reference(ttf, text);
        const qr::TextMask& got = font->Render(text, face.italic);
        if (!Same(expected, got)) {
          Fail(name + ": " + Shown(text) + " is drawn\n  " + Describe(got) + "\nbut SDL2_ttf draws\n  " +
               Describe(expected));
        }
        if (!face.italic) {
          int w = 0;
          int h = 0;
          if (TTF_SizeUTF8(ttf, text.c_str(), &w, &h) != 0) w = 0;
          if (font->TextWidth(text) != w) {
            Fail(name + ": " + Shown(text) + " is " + std::to_string(font->TextWidth(text)) +
                 " wide, SDL2_ttf measures " + std::to_string(w));
          }
        }
        ++checked;
      }
    }
    TTF_CloseFont(ttf);
  }
  fonts.clear();
  TTF_Quit();

  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  std::ofstream stamp(argv[3]);
  stamp << checked << " texts match\n";
  if (!stamp) Fail(std::string("cannot write ") + argv[3]);
  std::printf(
      "rall-checkfont: %zu game texts and %zu random texts in %zu faces: %ld drawn as SDL2_ttf draws them, "
      "0 differences (%lld ms)\n",
      game.size(), random.size(), qr::kBakedFaceCount, checked, static_cast<long long>(ms));
  return 0;
}
