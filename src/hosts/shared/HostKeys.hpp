#pragma once
// The Windows virtual-key codes of the keys that the window and the page name besides the
// game's own (machine/VirtualKeys.hpp): the game never polls them, but they reach its key-down
// events, and a browser's key codes are the same numbers.
#include <cstdint>

#include "machine/VirtualKeys.hpp"

namespace qr::vk {

constexpr std::int16_t kTab = 9;
constexpr std::int16_t kClear = 12;
constexpr std::int16_t kPause = 19;
constexpr std::int16_t kCapsLock = 20;
constexpr std::int16_t kPageUp = 33;
constexpr std::int16_t kPageDown = 34;
constexpr std::int16_t kEnd = 35;
constexpr std::int16_t kHome = 36;
constexpr std::int16_t kPrintScreen = 44;
constexpr std::int16_t kInsert = 45;
constexpr std::int16_t kDelete = 46;
constexpr std::int16_t k0 = 48;
constexpr std::int16_t k9 = 57;
constexpr std::int16_t kLeftWindows = 91;
constexpr std::int16_t kRightWindows = 92;
constexpr std::int16_t kMenu = 93;  // the application key
constexpr std::int16_t kNumpad0 = 96;
constexpr std::int16_t kNumpad1 = 97;  // to 9: 97-105
constexpr std::int16_t kNumpadMultiply = 106;
constexpr std::int16_t kNumpadAdd = 107;
constexpr std::int16_t kNumpadSeparator = 108;
constexpr std::int16_t kNumpadSubtract = 109;
constexpr std::int16_t kNumpadDecimal = 110;
constexpr std::int16_t kNumpadDivide = 111;
constexpr std::int16_t kF1 = 112;  // to F12: 112-123
constexpr std::int16_t kF11 = 122;
constexpr std::int16_t kF12 = 123;
constexpr std::int16_t kF13 = 124;  // to F24: 124-135
constexpr std::int16_t kNumLock = 144;
constexpr std::int16_t kScrollLock = 145;

// The punctuation keys, which Windows calls the OEM keys, by what they type on a US keyboard;
// kSemicolon (186) is the first of them.
constexpr std::int16_t kEquals = 187;
constexpr std::int16_t kComma = 188;
constexpr std::int16_t kMinus = 189;
constexpr std::int16_t kPeriod = 190;
constexpr std::int16_t kSlash = 191;
constexpr std::int16_t kBackquote = 192;
constexpr std::int16_t kLeftBracket = 219;
constexpr std::int16_t kBackslash = 220;
constexpr std::int16_t kRightBracket = 221;
constexpr std::int16_t kQuote = 222;           // the last of them
constexpr std::int16_t kNonUsBackslash = 226;  // the key between left Shift and Z on ISO keyboards

}  // namespace qr::vk
