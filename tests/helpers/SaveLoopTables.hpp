#pragma once
// The tables that the save-loop child writes in turn, and that the crash test expects to find.
#include <string>

#include "game/scores/HiScoreRecord.hpp"

namespace qr {

inline constexpr int kSaveLoopVariants = 3;

inline void SaveLoopVariant(int k, HiScoreTable& one, HiScoreTable2P& two) {
  const char* names[kSaveLoopVariants] = {"AAA", "B,B", "\"C "};
  for (int i = 1; i <= 5; ++i) {
    one[i] = HiScore{names[k], static_cast<std::int16_t>(1000 * (k + 1) + 100 * (6 - i))};
    two[i] = HiScore2P{names[(k + 1) % kSaveLoopVariants], static_cast<std::int16_t>(30 * (k + 1) + i),
                       static_cast<std::int16_t>(k * 7 + i)};
  }
}

inline std::string SaveLoopFile(int k) {
  HiScoreTable one;
  HiScoreTable2P two;
  SaveLoopVariant(k, one, two);
  return FormatHiScoreRecord(one, two) + "\r\n";
}

}  // namespace qr
