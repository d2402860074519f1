#include "hosts/desktop/windows/Console.hpp"

#include <cstdio>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace qr {

namespace {

// True when the stream has a file, a pipe or a console to write to.
bool Connected(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

void AttachParentConsole() {
  const bool out = Connected(STD_OUTPUT_HANDLE);
  const bool err = Connected(STD_ERROR_HANDLE);
  if (out && err) return;
  if (AttachConsole(ATTACH_PARENT_PROCESS) == 0) return;  // no console: a double click
  if (!out && std::freopen("CONOUT$", "w", stdout) != nullptr) std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  if (!err && std::freopen("CONOUT$", "w", stderr) != nullptr) std::setvbuf(stderr, nullptr, _IONBF, 0);
}

}  // namespace qr
