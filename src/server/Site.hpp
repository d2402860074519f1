#pragma once
// The page's files, served from one folder and nothing outside it.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qr {

struct SiteFile {
  int status = 404;  // 200 with path and contentType; 400 for a malformed path; 404
  std::filesystem::path path;
  std::string contentType;
};

// The file a request's target names under root (a canonical folder). Refused: a path that is not
// absolute, encoded slashes or backslashes, NUL and other control bytes, "." and ".." and hidden
// names, and anything whose real path (after its symbolic links) lies outside root. "/" and a
// folder's "/" name its index.html.
SiteFile ResolveSiteFile(const std::filesystem::path& root, std::string_view target);

// The content type a file's name says ("application/wasm" for .wasm, ...).
std::string ContentTypeOf(const std::filesystem::path& path);

}  // namespace qr
