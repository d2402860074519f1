// The game's files as items of the browser's local storage (see QR.loadSize and QR.save in
// web/rall.js).
#include "hosts/web/WebStorage.hpp"

#include <emscripten.h>

// clang-format off
EM_JS(int, qr_load_size, (const char* name), { return QR.loadSize(UTF8ToString(name)); });
EM_JS(void, qr_load_copy, (const char* name, char* out, int size), { QR.loadCopy(UTF8ToString(name), HEAPU8.subarray(out, out + size)); });
EM_JS(int, qr_save, (const char* name, const char* bytes, int size), { return QR.save(UTF8ToString(name), HEAPU8.subarray(bytes, bytes + size)); });
EM_JS(void, qr_storage_error, (char* out, int size), { stringToUTF8(QR.storageError, out, size); });
EM_JS(void, qr_remove, (const char* name), { QR.remove(UTF8ToString(name)); });
EM_JS(int, qr_files_location_size, (), { return lengthBytesUTF8(QR.filesLocation()); });
EM_JS(void, qr_files_location_copy, (char* out, int size), { stringToUTF8(QR.filesLocation(), out, size + 1); });
// clang-format on

namespace qr {

namespace {

// The numbers passed to and from web/rall.js, where they carry the same names.
// What QR.loadSize() returns besides an item's length:
constexpr int kLoadMissing = -1;     // LOAD_MISSING: no such item (or no storage)
constexpr int kLoadUnreadable = -2;  // LOAD_UNREADABLE: the browser would not read it (QR.storageError says why)
// What QR.save() returns:
constexpr int kSaveOk = 0;         // SAVE_OK
constexpr int kSaveFull = 1;       // SAVE_FULL: the site's storage is full
constexpr int kSaveRefused = 2;    // SAVE_REFUSED: the browser refused it (QR.storageError says why)
constexpr int kSaveNoStorage = 3;  // SAVE_NO_STORAGE: the page has no storage

std::string StorageError() {
  char text[256];
  qr_storage_error(text, sizeof text);
  return text;
}

}  // namespace

// An item of the browser's storage holds a byte a character (see rall.js).
LoadedFile LoadItem(const std::string& name, std::size_t limit) {
  LoadedFile out;
  const int size = qr_load_size(name.c_str());
  if (size == kLoadMissing) return out;
  if (size == kLoadUnreadable || size < 0) {
    out.status = LoadedFile::Status::Unreadable;
    out.reason = "the browser would not read it (" + StorageError() + ")";
    return out;
  }
  if (static_cast<std::size_t>(size) > limit) {
    out.status = LoadedFile::Status::Unreadable;
    out.reason =
        "it holds " + std::to_string(size) + " characters, more than the " + std::to_string(limit) + " the game reads";
    return out;
  }
  out.status = LoadedFile::Status::Ok;
  out.bytes.resize(static_cast<std::size_t>(size));
  qr_load_copy(name.c_str(), out.bytes.data(), size);
  return out;
}

bool SaveItem(const std::string& name, std::string_view bytes, std::string& error) {
  const int result = qr_save(name.c_str(), bytes.data(), static_cast<int>(bytes.size()));
  switch (result) {
    case kSaveOk:
      return true;
    case kSaveFull:
      error = "the browser's storage for this site is full";
      return false;
    case kSaveNoStorage:
      error = "the browser gives this page no storage";
      return false;
    case kSaveRefused:
    default:
      error = "the browser refused to store it (" + StorageError() + ")";
      return false;
  }
}

void RemoveItem(const std::string& name) { qr_remove(name.c_str()); }

std::string ItemsLocation() {
  const int size = qr_files_location_size();
  std::string location(static_cast<std::size_t>(size), '\0');
  if (size > 0) qr_files_location_copy(location.data(), size);
  return location;
}

}  // namespace qr
