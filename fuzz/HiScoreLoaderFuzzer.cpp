// Feeds arbitrary file contents to the high-score loader. Every input must either load a valid
// table or leave the tables as they were, without a crash or a sanitizer report. The same bytes,
// read as tables of any content, must also format into a 120-character line that loads back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "game/scores/HiScoreRecord.hpp"

namespace {

using qr::HiScoreTable;
using qr::HiScoreTable2P;

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
  }
}

bool ValidScore(std::int16_t s) { return s >= 0 && s <= qr::kHiScoreMax; }

bool ValidTables(const HiScoreTable& one, const HiScoreTable2P& two) {
  for (int i = 1; i <= 5; ++i) {
    if (!qr::ValidInitials(one[i].initials) || !qr::ValidInitials(two[i].initials)) return false;
    if (!ValidScore(one[i].score) || !ValidScore(two[i].score) || !ValidScore(two[i].otherScore)) return false;
  }
  return true;
}

bool SameTables(const HiScoreTable& a1, const HiScoreTable2P& a2, const HiScoreTable& b1, const HiScoreTable2P& b2) {
  for (int i = 1; i <= 5; ++i) {
    if (a1[i].initials != b1[i].initials || a1[i].score != b1[i].score) return false;
    if (a2[i].initials != b2[i].initials || a2[i].score != b2[i].score || a2[i].otherScore != b2[i].otherScore) {
      return false;
    }
  }
  return true;
}

// The bytes as file contents, loaded over the first-run tables.
void LoadAsFile(std::string_view bytes) {
  HiScoreTable defaults1;
  HiScoreTable2P defaults2;
  qr::DefaultHiScores(defaults1, defaults2);
  HiScoreTable one = defaults1;
  HiScoreTable2P two = defaults2;
  const bool loaded = qr::ParseHiScoreFile(bytes, one, two);
  if (!loaded) {
    Require(SameTables(one, two, defaults1, defaults2), "a refused file changed the tables");
    return;
  }
  Require(qr::FirstLine(bytes).size() == qr::kHiScoreRecordLength, "a line not of 120 characters loaded");
  Require(ValidTables(one, two), "a loaded table is not valid");
  // What was loaded saves and loads again unchanged.
  const std::string again = qr::FormatHiScoreRecord(one, two);
  HiScoreTable one2;
  HiScoreTable2P two2;
  Require(qr::ParseHiScoreRecord(again, one2, two2), "a loaded table does not load again once saved");
  Require(SameTables(one, two, one2, two2), "a loaded table changed on its way through a save");
  Require(qr::FormatHiScoreRecord(one2, two2) == again, "saving is not stable");
}

// The bytes as tables of any content: any initials, any 16-bit scores.
void FormatAnyTables(std::string_view bytes) {
  HiScoreTable one;
  HiScoreTable2P two;
  std::size_t at = 0;
  auto next = [&]() -> std::uint8_t { return at < bytes.size() ? static_cast<std::uint8_t>(bytes[at++]) : 0; };
  auto initials = [&] {
    std::string s;
    const int length = next() % 5;  // also too short or too long
    for (int k = 0; k < length; ++k) s.push_back(static_cast<char>(next()));
    return s;
  };
  auto score = [&] { return static_cast<std::int16_t>(static_cast<std::uint16_t>(next() << 8 | next())); };
  for (int i = 1; i <= 5; ++i) {
    one[i] = qr::HiScore{initials(), score()};
    two[i].initials = initials();
    two[i].score = score();
    two[i].otherScore = score();
  }
  const std::string line = qr::FormatHiScoreRecord(one, two);
  Require(line.size() == qr::kHiScoreRecordLength, "a saved line is not 120 characters");
  HiScoreTable back1;
  HiScoreTable2P back2;
  Require(qr::ParseHiScoreRecord(line, back1, back2), "a saved line does not load");
  Require(ValidTables(back1, back2), "a saved line loads an invalid table");
  if (ValidTables(one, two))
    Require(SameTables(one, two, back1, back2), "valid tables changed on their way through a save");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  LoadAsFile(bytes);
  FormatAnyTables(bytes);
  return 0;
}
