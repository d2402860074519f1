#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Probe.hpp"
#include "machine/Font.hpp"
#include "machine/Surface.hpp"

namespace qr {

namespace {

// The screen as it should look: each text printed on its own at the place where it belongs.
class Expected {
 public:
  Expected() : font_(10, 96), surface_(font_) {
    surface_.SetBackground(ComposeBackground());
    surface_.Cls();
    surface_.ForeColor(kSilver);
  }
  void At(int x, int y, const std::string& text) {
    surface_.CurrentX = x;
    surface_.CurrentY = y;
    surface_.Print(text, false);
  }
  int Height() const { return surface_.TextHeight("H"); }
  int Width(const std::string& text) const { return surface_.TextWidth(text); }
  std::vector<std::uint32_t> Rgb() const {
    std::vector<std::uint32_t> out(Surface::kWidth * Surface::kHeight);
    surface_.ToRgb(out.data());
    return out;
  }

 private:
  Font font_;
  Surface surface_;
};

std::vector<std::uint32_t> Rgb(const Surface& s) {
  std::vector<std::uint32_t> out(Surface::kWidth * Surface::kHeight);
  s.ToRgb(out.data());
  return out;
}

// Where the pictures differ, as a count (and the first place, to help a reader).
std::string Difference(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
  int n = 0;
  std::string first;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    if (n++ == 0) {
      first = " first at (" + std::to_string(i % Surface::kWidth) + ", " + std::to_string(i / Surface::kWidth) + ")";
    }
  }
  return n == 0 ? "" : std::to_string(n) + " pixels differ," + first;
}

}  // namespace

TEST(HiScoreScreen, FirstRunTablesAtTheirPlaces) {
  StartedGame s;
  Surface& form = RallexProbe::form(s.game);
  form.Cls();
  s.game.DspHighScores();

  Expected e;
  const int h = e.Height();
  e.At(155 - e.Width("High Scores") / 2, 48, "High Scores");
  e.At(24, 80, "One Player Game");
  e.At(172, 80, "Two Player Game");
  const char* scores[] = {" 100 ", " 75 ", " 50 ", " 25 ", " 10 "};
  for (int i = 1; i <= 5; ++i) {
    e.At(40, 80 + i * h, "...");
    e.At(88, 80 + i * h, scores[i - 1]);
    e.At(186, 80 + i * h, "...");
    e.At(232, 80 + i * h, " 0 / 0 ");
  }
  EXPECT_EQ(Difference(Rgb(form), e.Rgb()), "");

  s.game.DspHighScores();
  EXPECT_EQ(Difference(Rgb(form), e.Rgb()), "") << "drawing it again changes nothing";
}

TEST(HiScoreScreen, InitialsAsTheyAreAndNumbersBetweenBlanks) {
  StartedGame s;
  auto& one = RallexProbe::hiScores(s.game);
  auto& two = RallexProbe::hiScores2P(s.game);
  one[1] = HiScore{" ,A", 32767};
  one[4] = HiScore{"` `", 0};
  two[2] = HiScore2P{"&&&", 5, 3};
  two[5] = HiScore2P{"Z 9", 12000, 11996};
  Surface& form = RallexProbe::form(s.game);
  form.Cls();
  s.game.DspHighScores();

  Expected e;
  const int h = e.Height();
  e.At(155 - e.Width("High Scores") / 2, 48, "High Scores");
  e.At(24, 80, "One Player Game");
  e.At(172, 80, "Two Player Game");
  const char* initials1[] = {" ,A", "...", "...", "` `", "..."};
  const char* scores1[] = {" 32767 ", " 75 ", " 50 ", " 0 ", " 10 "};
  const char* initials2[] = {"...", "&&&", "...", "...", "Z 9"};
  const char* scores2[] = {" 0 / 0 ", " 5 / 3 ", " 0 / 0 ", " 0 / 0 ", " 12000 / 11996 "};
  for (int i = 1; i <= 5; ++i) {
    e.At(40, 80 + i * h, initials1[i - 1]);
    e.At(88, 80 + i * h, scores1[i - 1]);
    e.At(186, 80 + i * h, initials2[i - 1]);
    e.At(232, 80 + i * h, scores2[i - 1]);
  }
  EXPECT_EQ(Difference(Rgb(form), e.Rgb()), "");
}

}  // namespace qr
