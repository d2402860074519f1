#include "platform/sdl/SdlBackend.hpp"

#include <cstdio>

namespace qr {

int RunWindowed(const WindowOptions&, const std::function<void(Platform&)>&) {
  std::fprintf(stderr, "quillmarsh-rall: the window is not built yet; use --headless\n");
  return 1;
}

}  // namespace qr
