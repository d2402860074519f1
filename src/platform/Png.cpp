#include "platform/Png.hpp"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qr {

namespace {

void OnPngError(png_structp png, png_const_charp message) {
  auto* error = static_cast<std::string*>(png_get_error_ptr(png));
  *error = message;
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

}  // namespace

bool WritePng(const std::string& path, const Surface& surface, int scale, std::string& error) {
  std::vector<std::uint32_t> rgb(static_cast<std::size_t>(Surface::kWidth) * Surface::kHeight);
  surface.ToRgb(rgb.data());
  return WritePng(path, rgb.data(), Surface::kWidth, Surface::kHeight, scale, error);
}

bool WritePng(const std::string& path, const std::uint32_t* rgb, int pictureWidth, int pictureHeight, int scale,
              std::string& error) {
  if (scale < 1) scale = 1;
  const int width = pictureWidth * scale;
  const int height = pictureHeight * scale;
  std::vector<png_byte> rows(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = rgb[static_cast<std::size_t>(y / scale) * pictureWidth + x / scale];
      png_byte* p = &rows[(static_cast<std::size_t>(y) * width + x) * 3];
      p[0] = static_cast<png_byte>(c >> 16);
      p[1] = static_cast<png_byte>(c >> 8);
      p[2] = static_cast<png_byte>(c);
    }
  }

  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::string pngError;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &pngError, OnPngError, OnPngWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    error = path + ": cannot start the PNG writer";
    return false;
  }
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    error = path + ": " + pngError;
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 9);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) png_write_row(png, &rows[static_cast<std::size_t>(y) * width * 3]);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fclose(file) != 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace qr
