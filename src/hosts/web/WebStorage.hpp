#pragma once
// The game's files on the page: each file is one item of the browser's local storage, a byte a
// character, under "quillmarsh-rall/". Every load reads the item afresh (another page of the site
// may have saved it meanwhile).
#include <cstddef>
#include <string>
#include <string_view>

#include "machine/Host.hpp"

namespace qr {

// An item, as the host's LoadFile reads a file: missing, unreadable (the browser's reason, or one
// longer than limit) or its bytes.
LoadedFile LoadItem(const std::string& name, std::size_t limit);
// Replaces an item whole; false with the reason (storage full, refused, none) in error.
bool SaveItem(const std::string& name, std::string_view bytes, std::string& error);
void RemoveItem(const std::string& name);
// The items' names as the browser's tools show them ("local storage item quillmarsh-rall/"), or
// nothing without storage: the game then keeps no files.
std::string ItemsLocation();

}  // namespace qr
