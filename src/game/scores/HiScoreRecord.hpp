#pragma once
// The two high-score tables and their one-line record, as text, without any file or window:
// the loader, the saver and the fuzzer all go through these functions.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qr {

struct HiScore {
  std::string initials;
  std::int16_t score = 0;
};

struct HiScore2P {
  std::string initials;
  std::int16_t score = 0;
  std::int16_t otherScore = 0;
};

// Entries 1 to 5 are used; entry 1 is the top of the table.
using HiScoreTable = std::array<HiScore, 6>;
using HiScoreTable2P = std::array<HiScore2P, 6>;

// The file's name, in the data directory.
inline constexpr const char* kHiScoreFileName = "QuillmarshRall.dat";

// Far more than a table: a larger file is not read (and so never replaced).
inline constexpr std::size_t kHiScoreReadLimit = 65536;

// The record is five blocks of 24 characters, 120 in all.
inline constexpr std::size_t kHiScoreRecordLength = 120;

// The highest score a table holds (its scores are 16-bit).
inline constexpr std::int32_t kHiScoreMax = 32767;

// Initials are three characters, each with a code from 32 (blank) to 96 (`).
bool ValidInitials(std::string_view initials);

// Fills both tables with the tables of a first run: "..." with 100, 75, 50, 25, 10 for one
// player, "..." with 0 / 0 for two.
void DefaultHiScores(HiScoreTable& one, HiScoreTable2P& two);

// The shift of the stored text: position p (from 1) is stored as its plain code plus
// (p mod 4) + 1. Unshift returns false when a stored code is too small to be shifted back.
std::string ShiftRecord(std::string_view plain);
bool UnshiftRecord(std::string_view stored, std::string& plain);

// The stored form of both tables: 120 shifted characters, without the line end.
std::string FormatHiScoreRecord(const HiScoreTable& one, const HiScoreTable2P& two);

// The first line of a file's bytes: everything before the first CR or LF (or the end).
std::string_view FirstLine(std::string_view bytes);

// Reads both tables from the first line of the file. The line must be 120 stored characters
// whose initials all have codes 32 to 96 and whose numbers (the leading digits of each
// six-character field, 0 when there are none) fit the tables' 16 bits. The tables change only
// when the whole line is valid; otherwise they are left as they were and the result is false.
bool ParseHiScoreRecord(std::string_view line, HiScoreTable& one, HiScoreTable2P& two);

// The same from the bytes at the start of the file (at least the first 121, when there are so
// many): only the first line counts, whatever follows it.
bool ParseHiScoreFile(std::string_view bytes, HiScoreTable& one, HiScoreTable2P& two);

}  // namespace qr
