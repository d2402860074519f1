#pragma once
#include <cstdint>
#include <string>

namespace qr {

// Number formats of the game's texts.

// At least two digits: 7 -> "07", 123 -> "123".
inline std::string Format00(std::int64_t n) {
  std::string s = std::to_string(n < 0 ? -n : n);
  if (s.size() < 2) s.insert(0, 2 - s.size(), '0');
  return n < 0 ? "-" + s : s;
}

// The signed form of a number: a blank where a minus sign would stand. 2 -> " 2".
inline std::string SignedText(std::int64_t n) { return n < 0 ? std::to_string(n) : " " + std::to_string(n); }

// A number as the window prints it: the signed form followed by a blank. 100 -> " 100 ".
inline std::string PrintedNumber(std::int64_t n) { return SignedText(n) + " "; }

}  // namespace qr
