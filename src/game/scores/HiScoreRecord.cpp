#include "game/scores/HiScoreRecord.hpp"

#include <algorithm>

namespace qr {

namespace {

constexpr std::size_t kBlockLength = 24;

bool ValidInitialCode(int code) { return code >= 32 && code <= 96; }

// The shift at position p, counted from 1: 2, 3, 4, 1, 2, 3, 4, 1, ...
int ShiftAt(std::size_t p) { return static_cast<int>(p % 4) + 1; }

// Six digits with leading zeros; the tables hold 0 .. 32767 only.
void AppendScore(std::string& out, std::int32_t score) {
  score = std::clamp<std::int32_t>(score, 0, kHiScoreMax);
  char digits[6];
  for (int i = 5; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + score % 10);
    score /= 10;
  }
  out.append(digits, 6);
}

// Always three characters in the stored range, so that the line keeps its 120 characters.
void AppendInitials(std::string& out, const std::string& initials) {
  for (std::size_t i = 0; i < 3; ++i) {
    const int code = i < initials.size() ? static_cast<unsigned char>(initials[i]) : '.';
    out.push_back(ValidInitialCode(code) ? static_cast<char>(code) : '.');
  }
}

// The number in a six-character field: its leading decimal digits, 0 when there are none.
// False when it does not fit the tables' 16 bits.
bool ReadScore(std::string_view field, std::int16_t& score) {
  std::int32_t value = 0;
  for (const char c : field) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');  // at most 999999
  }
  if (value > kHiScoreMax) return false;
  score = static_cast<std::int16_t>(value);
  return true;
}

bool ReadInitials(std::string_view field, std::string& initials) {
  for (const char c : field) {
    if (!ValidInitialCode(static_cast<unsigned char>(c))) return false;
  }
  initials.assign(field);
  return true;
}

}  // namespace

bool ValidInitials(std::string_view initials) {
  return initials.size() == 3 && std::all_of(initials.begin(), initials.end(),
                                             [](char c) { return ValidInitialCode(static_cast<unsigned char>(c)); });
}

void DefaultHiScores(HiScoreTable& one, HiScoreTable2P& two) {
  const std::int16_t scores[6] = {0, 100, 75, 50, 25, 10};
  for (int i = 1; i <= 5; ++i) {
    one[i] = HiScore{"...", scores[i]};
    two[i] = HiScore2P{"...", 0, 0};
  }
}

std::string ShiftRecord(std::string_view plain) {
  std::string stored(plain);
  for (std::size_t p = 1; p <= stored.size(); ++p) {
    stored[p - 1] = static_cast<char>(static_cast<unsigned char>(stored[p - 1]) + ShiftAt(p));
  }
  return stored;
}

bool UnshiftRecord(std::string_view stored, std::string& plain) {
  std::string out(stored);
  for (std::size_t p = 1; p <= out.size(); ++p) {
    const int code = static_cast<unsigned char>(out[p - 1]) - ShiftAt(p);
    if (code < 0) return false;
    out[p - 1] = static_cast<char>(code);
  }
  plain = std::move(out);
  return true;
}

std::string FormatHiScoreRecord(const HiScoreTable& one, const HiScoreTable2P& two) {
  std::string plain;
  plain.reserve(kHiScoreRecordLength);
  for (int i = 1; i <= 5; ++i) {
    AppendInitials(plain, one[i].initials);
    AppendScore(plain, one[i].score);
    AppendInitials(plain, two[i].initials);
    AppendScore(plain, two[i].score);
    AppendScore(plain, two[i].otherScore);
  }
  return ShiftRecord(plain);
}

std::string_view FirstLine(std::string_view bytes) {
  const std::size_t end = bytes.find_first_of("\r\n");
  return end == std::string_view::npos ? bytes : bytes.substr(0, end);
}

bool ParseHiScoreRecord(std::string_view line, HiScoreTable& one, HiScoreTable2P& two) {
  if (line.size() != kHiScoreRecordLength) return false;
  std::string plain;
  if (!UnshiftRecord(line, plain)) return false;

  // Everything is read into copies first: a table is either loaded whole or not at all.
  HiScoreTable newOne = one;
  HiScoreTable2P newTwo = two;
  const std::string_view text(plain);
  for (std::size_t i = 1; i <= 5; ++i) {
    const std::string_view block = text.substr((i - 1) * kBlockLength, kBlockLength);
    if (!ReadInitials(block.substr(0, 3), newOne[i].initials) || !ReadScore(block.substr(3, 6), newOne[i].score) ||
        !ReadInitials(block.substr(9, 3), newTwo[i].initials) || !ReadScore(block.substr(12, 6), newTwo[i].score) ||
        !ReadScore(block.substr(18, 6), newTwo[i].otherScore)) {
      return false;
    }
  }
  one = std::move(newOne);
  two = std::move(newTwo);
  return true;
}

bool ParseHiScoreFile(std::string_view bytes, HiScoreTable& one, HiScoreTable2P& two) {
  return ParseHiScoreRecord(FirstLine(bytes), one, two);
}

}  // namespace qr
