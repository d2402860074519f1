#include "hosts/desktop/DataDir.hpp"

#include <cstdlib>

namespace qr {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? std::string(v) : std::string();
}

}  // namespace

std::string DefaultDataDirectory() {
#if defined(_WIN32)
  std::string base = Env("APPDATA");
  if (base.empty()) return {};
  return base + "\\QuillmarshRall\\";
#elif defined(__APPLE__)
  std::string home = Env("HOME");
  if (home.empty()) return {};
  return home + "/Library/Application Support/QuillmarshRall/";
#else
  std::string base = Env("XDG_DATA_HOME");
  if (base.empty() || base[0] != '/') {
    const std::string home = Env("HOME");
    if (home.empty()) return {};
    base = home + "/.local/share";
  }
  if (base.back() != '/') base += '/';
  return base + "quillmarsh-rall/";
#endif
}

}  // namespace qr
