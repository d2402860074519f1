#include "server/Site.hpp"

#include <map>
#include <system_error>

namespace qr {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string ContentTypeOf(const std::filesystem::path& path) {
  static const std::map<std::string, std::string> types = {
      {".html", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".json", "application/json"},
      {".txt", "text/plain; charset=utf-8"},
      {".wasm", "application/wasm"},
      {".webmanifest", "application/manifest+json"},
      {".png", "image/png"},
      {".ico", "image/x-icon"},
      {".svg", "image/svg+xml"},
      {".wav", "audio/wav"},
      {".ttf", "font/ttf"},
      {".woff2", "font/woff2"},
  };
  const auto it = types.find(path.extension().string());
  return it == types.end() ? "application/octet-stream" : it->second;
}

SiteFile ResolveSiteFile(const std::filesystem::path& root, std::string_view target) {
  SiteFile bad;
  bad.status = 400;
  const std::string_view path = target.substr(0, target.find('?'));
  if (path.empty() || path[0] != '/') return bad;
  std::string decoded;
  for (std::size_t i = 0; i < path.size(); ++i) {
    char c = path[i];
    if (c == '%') {
      if (i + 2 >= path.size()) return bad;
      const int hi = HexDigit(path[i + 1]);
      const int lo = HexDigit(path[i + 2]);
      if (hi < 0 || lo < 0) return bad;
      c = static_cast<char>(hi * 16 + lo);
      // An encoded separator would hide a path's structure from the checks below.
      if (c == '/' || c == '\\') return bad;
      i += 2;
    }
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '\\') return bad;
    decoded += c;
  }
  std::filesystem::path relative;
  std::size_t start = 1;
  for (;;) {
    const std::size_t slash = decoded.find('/', start);
    const std::string segment = decoded.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (slash == std::string::npos) {
      relative /= segment.empty() ? std::string("index.html") : segment;
      if (segment.empty()) break;
      if (segment[0] == '.') return SiteFile{};
      break;
    }
    if (segment.empty() || segment[0] == '.') return segment.empty() ? bad : SiteFile{};
    relative /= segment;
    start = slash + 1;
  }
  std::error_code ec;
  const std::filesystem::path real = std::filesystem::canonical(root / relative, ec);
  if (ec) return SiteFile{};
  // The real path, after every link, must still be inside the folder.
  const std::string inside = real.string();
  const std::string base = root.string();
  if (inside.size() <= base.size() + 1 || inside.compare(0, base.size(), base) != 0 || inside[base.size()] != '/')
    return SiteFile{};
  if (!std::filesystem::is_regular_file(real, ec)) return SiteFile{};
  SiteFile file;
  file.status = 200;
  file.path = real;
  file.contentType = ContentTypeOf(relative);
  return file;
}

}  // namespace qr
