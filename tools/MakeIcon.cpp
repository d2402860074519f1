// Draws the game's icon: a small playfield with its two borders, both paddles and the ball,
// and writes it as RGBA PNG files at the sizes a desktop wants, and the same pictures in one
// Windows icon file (each size as PNG, as Windows takes them from Vista on).
// Usage: rall-icon OUTDIR SIZE...   (writes OUTDIR/quillmarsh-rall-SIZE.png and
//                                    OUTDIR/quillmarsh-rall.ico of the sizes up to 256)
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Rgba {
  double r, g, b, a;
};

// Shapes in a unit square, y downwards.
double RoundedBox(double x, double y, double x0, double y0, double x1, double y1, double radius) {
  const double cx = std::clamp(x, x0 + radius, x1 - radius);
  const double cy = std::clamp(y, y0 + radius, y1 - radius);
  const double dx = x - cx;
  const double dy = y - cy;
  return (x >= x0 && x <= x1 && y >= y0 && y <= y1 && dx * dx + dy * dy <= radius * radius) ? 1.0 : 0.0;
}

double Disc(double x, double y, double cx, double cy, double r) {
  return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r ? 1.0 : 0.0;
}

void Over(Rgba& dst, const Rgba& src, double coverage) {
  const double a = src.a * coverage;
  dst.r = src.r * a + dst.r * (1 - a);
  dst.g = src.g * a + dst.g * (1 - a);
  dst.b = src.b * a + dst.b * (1 - a);
  dst.a = a + dst.a * (1 - a);
}

Rgba Shade(double x, double y) {
  const Rgba field{0.02, 0.03, 0.08, 1.0};
  const Rgba bar{0.09, 0.22, 0.69, 1.0};
  const Rgba silver{0.75, 0.75, 0.75, 1.0};
  Rgba p{0, 0, 0, 0};
  Over(p, field, RoundedBox(x, y, 0.02, 0.02, 0.98, 0.98, 0.16));
  Over(p, bar, RoundedBox(x, y, 0.10, 0.14, 0.90, 0.20, 0.03));
  Over(p, bar, RoundedBox(x, y, 0.10, 0.80, 0.90, 0.86, 0.03));
  Over(p, silver, RoundedBox(x, y, 0.12, 0.155, 0.88, 0.185, 0.015));
  Over(p, silver, RoundedBox(x, y, 0.12, 0.815, 0.88, 0.845, 0.015));
  Over(p, silver, RoundedBox(x, y, 0.12, 0.30, 0.20, 0.56, 0.04));
  Over(p, silver, RoundedBox(x, y, 0.80, 0.44, 0.88, 0.70, 0.04));
  Over(p, silver, Disc(x, y, 0.58, 0.42, 0.075));
  return p;
}

bool WriteIcon(const std::string& path, int size) {
  std::vector<png_byte> pixels(static_cast<std::size_t>(size) * size * 4);
  constexpr int kSamples = 8;  // 8 x 8 samples per pixel smooth the edges
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      double r = 0, g = 0, b = 0, a = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const Rgba c = Shade((x + (sx + 0.5) / kSamples) / size, (y + (sy + 0.5) / kSamples) / size);
          r += c.r * c.a;
          g += c.g * c.a;
          b += c.b * c.a;
          a += c.a;
        }
      }
      png_byte* p = &pixels[(static_cast<std::size_t>(y) * size + x) * 4];
      const double n = kSamples * kSamples;
      p[3] = static_cast<png_byte>(std::lround(255 * a / n));
      p[0] = static_cast<png_byte>(a > 0 ? std::lround(255 * r / a) : 0);
      p[1] = static_cast<png_byte>(a > 0 ? std::lround(255 * g / a) : 0);
      p[2] = static_cast<png_byte>(a > 0 ? std::lround(255 * b / a) : 0);
    }
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, static_cast<png_uint_32>(size), static_cast<png_uint_32>(size), 8, PNG_COLOR_TYPE_RGBA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < size; ++y) png_write_row(png, &pixels[static_cast<std::size_t>(y) * size * 4]);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

void PutLe(std::string& out, unsigned value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// An .ico file of the PNG files of the given sizes: a header, a directory entry per picture,
// then the pictures.
bool WriteIco(const std::string& path, const std::vector<std::pair<int, std::string>>& pngs) {
  std::string out;
  PutLe(out, 0, 2);  // reserved
  PutLe(out, 1, 2);  // an icon
  PutLe(out, static_cast<unsigned>(pngs.size()), 2);
  std::size_t offset = 6 + 16 * pngs.size();
  std::string data;
  for (const auto& [size, file] : pngs) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.good() && !in.eof()) return false;
    if (bytes.empty()) return false;
    out += static_cast<char>(size >= 256 ? 0 : size);  // 0 stands for 256
    out += static_cast<char>(size >= 256 ? 0 : size);
    PutLe(out, 0, 2);   // no palette, reserved
    PutLe(out, 1, 2);   // planes
    PutLe(out, 32, 2);  // bits per pixel
    PutLe(out, static_cast<unsigned>(bytes.size()), 4);
    PutLe(out, static_cast<unsigned>(offset), 4);
    offset += bytes.size();
    data += bytes;
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << out << data;
  file.close();
  return !file.fail();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: rall-icon OUTDIR SIZE...\n");
    return 2;
  }
  std::vector<std::pair<int, std::string>> pngs;
  for (int i = 2; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size < 8 || size > 1024) {
      std::fprintf(stderr, "rall-icon: bad size %s\n", argv[i]);
      return 2;
    }
    const std::string path = std::string(argv[1]) + "/quillmarsh-rall-" + argv[i] + ".png";
    if (!WriteIcon(path, size)) {
      std::fprintf(stderr, "rall-icon: cannot write %s\n", path.c_str());
      return 1;
    }
    if (size <= 256) pngs.emplace_back(size, path);
  }
  const std::string ico = std::string(argv[1]) + "/quillmarsh-rall.ico";
  if (!WriteIco(ico, pngs)) {
    std::fprintf(stderr, "rall-icon: cannot write %s\n", ico.c_str());
    return 1;
  }
  return 0;
}
