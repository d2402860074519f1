// Text on the drawing surface: the built-in font, the text cursor, erasing by printing in black.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "machine/Surface.hpp"

namespace qr {

namespace {

constexpr std::uint32_t kSilverRgb = 0xC0C0C0;

struct BlackField {
  BlackField() : font(10, 96), surface(font) { surface.ForeColor(kSilverRgb); }
  Font font;
  Surface surface;
};

int CountOf(const Surface& s, std::uint32_t rgb) {
  int n = 0;
  for (int y = 0; y < Surface::kHeight; ++y) {
    for (int x = 0; x < Surface::kWidth; ++x) n += s.Pixel(x, y) == rgb ? 1 : 0;
  }
  return n;
}

bool AllBlack(const Surface& s) { return CountOf(s, 0) == Surface::kWidth * Surface::kHeight; }

}  // namespace

TEST(Font, TextRowsAreSixteenUnitsHigh) {
  BlackField f;
  EXPECT_EQ(f.surface.TextHeight("H"), 16);
  EXPECT_EQ(f.surface.TextHeight(""), 16);
  // Rows 3, 5 and 6 of the message grid.
  EXPECT_EQ(3 * f.surface.TextHeight("H"), 48);
  EXPECT_EQ(5 * f.surface.TextHeight("H"), 80);
  EXPECT_EQ(6 * f.surface.TextHeight("H"), 96);
}

TEST(Font, WidthsAreWholeAndGrowWithTheText) {
  BlackField f;
  const Surface& s = f.surface;
  EXPECT_EQ(s.TextWidth(""), 0);
  EXPECT_GT(s.TextWidth(" "), 0);  // blanks count, so padded lines centre by their full width
  EXPECT_LT(s.TextWidth("Rall"), s.TextWidth("Rall "));
  EXPECT_LT(s.TextWidth("i"), s.TextWidth("W"));
  // A 10-point bold face: the instructions' longest line fits the 319-unit field.
  const int prompt = s.TextWidth("Press Q to deposit virtual coin for credit");
  EXPECT_GT(prompt, 200);
  EXPECT_LT(prompt, 319);
}

TEST(Font, DrawsTheSpecialGlyphsOfTheRoll) {
  BlackField f;
  Surface& s = f.surface;
  // A private-use character that no font has: whatever the face draws for a missing glyph.
  s.Print("\xEE\x80\x80");
  std::vector<std::uint32_t> missing(Surface::kWidth * Surface::kHeight);
  s.ToRgb(missing.data());
  for (const char* glyph : {"\xC2\xB4", "\xC2\xAF", "\xC2\xA8", "\xC2\xB7", "\xC2\xB8"}) {
    s.Box(0, 0, Surface::kWidth - 1, Surface::kHeight - 1, 0, true);
    s.CurrentX = 0;
    s.CurrentY = 0;
    s.Print(glyph);
    EXPECT_GT(CountOf(s, kSilverRgb), 0) << glyph;
    EXPECT_GT(s.TextWidth(glyph), 0) << glyph;
    std::vector<std::uint32_t> rgb(missing.size());
    s.ToRgb(rgb.data());
    EXPECT_NE(rgb, missing) << glyph << " is drawn as a missing glyph";
  }
  // Characters past 255 and broken UTF-8 are not in the font: they draw the missing-glyph box.
  for (const char* other : {"\xC4\x80", "\xFF", "\xC3"}) {
    s.Box(0, 0, Surface::kWidth - 1, Surface::kHeight - 1, 0, true);
    s.CurrentX = 0;
    s.CurrentY = 0;
    s.Print(other);
    std::vector<std::uint32_t> rgb(missing.size());
    s.ToRgb(rgb.data());
    EXPECT_EQ(rgb, missing) << static_cast<unsigned>(static_cast<unsigned char>(other[0]));
  }
  // The soft hyphen is hidden inside a line; a line of nothing else draws nothing.
  EXPECT_EQ(s.TextWidth("Rall\xC2\xADRall"), s.TextWidth("RallRall"));
  EXPECT_EQ(s.TextWidth("\xC2\xAD"), 0);
  EXPECT_TRUE(f.font.Render("\xC2\xAD\xC2\xAD", false).runs.empty());
}

TEST(Font, ASizeOrStyleNotBakedPrintsWithTheNearestOne) {
  // The logo's size is baked in italics only; its upright prints in the nearest upright.
  const Font logo(26, 96);
  const Font ten(10, 96);
  EXPECT_EQ(logo.Height(), 41);
  EXPECT_EQ(logo.Render("Rall", false).runs.size(), ten.Render("Rall", false).runs.size());
  EXPECT_GT(logo.Render("Rall", true).runs.size(), ten.Render("Rall", true).runs.size());
  // Sizes and resolutions never baked: the nearest, never the end of the game.
  EXPECT_EQ(Font(12, 96).Height(), 16);
  EXPECT_EQ(Font(10, 72).Height(), 16);
  EXPECT_EQ(Font(40, 96).Render("Rall", true).runs.size(), logo.Render("Rall", true).runs.size());
}

TEST(Text, SolidInTheDrawingColourOnly) {
  BlackField f;
  Surface& s = f.surface;
  s.CurrentX = 20;
  s.CurrentY = 20;
  s.Print("Quillmarsh Rall 1.0");
  const int silver = CountOf(s, kSilverRgb);
  EXPECT_GT(silver, 50);
  // No blended edge pixels: the text is silver on untouched black.
  EXPECT_EQ(silver + CountOf(s, 0), Surface::kWidth * Surface::kHeight);
}

TEST(Text, PrintingAgainInBlackErasesIt) {
  const std::vector<std::string> texts = {"GAME POINT", "Credit 03", "             /\xC2\xB4\xC2\xAF/) ",
                                          "       '\\'   \\           _.\xC2\xB7\xC2\xB4"};
  for (bool italic : {false, true}) {
    for (const std::string& text : texts) {
      BlackField f;
      Surface& s = f.surface;
      s.FontItalic(italic);
      s.CurrentX = 7;
      s.CurrentY = 101;
      s.Print(text);
      EXPECT_FALSE(AllBlack(s)) << text;
      s.ForeColor(0);
      s.CurrentX = 7;
      s.CurrentY = 101;
      s.Print(text);
      EXPECT_TRUE(AllBlack(s)) << text << (italic ? " (italic)" : "");
    }
  }
}

TEST(Text, TransparentBackground) {
  BlackField f;
  Surface& s = f.surface;
  s.DrawWidth(1);
  s.Box(0, 0, Surface::kWidth - 1, Surface::kHeight - 1, 0x0000FF, true);
  s.CurrentX = 10;
  s.CurrentY = 10;
  s.Print("Get Ready");
  // Only the letters are silver; between them the blue stays.
  EXPECT_EQ(CountOf(s, 0), 0);
  EXPECT_GT(CountOf(s, kSilverRgb), 0);
  EXPECT_EQ(s.Pixel(10, 10), 0x0000FFu);
}

TEST(Text, CursorFollowsThePrints) {
  BlackField f;
  Surface& s = f.surface;
  s.CurrentX = 60;
  s.CurrentY = 96;
  s.Print("Player 1", false);
  EXPECT_EQ(s.CurrentX, 60 + s.TextWidth("Player 1"));
  EXPECT_EQ(s.CurrentY, 96);
  s.CurrentX = 186;
  s.Print("Player 2");
  EXPECT_EQ(s.CurrentX, 0);
  EXPECT_EQ(s.CurrentY, 112);

  // Two prints on one row sit side by side, the second where the first left off.
  s.CurrentX = 10;
  s.Print("A - ", false);
  EXPECT_EQ(s.CurrentX, 10 + s.TextWidth("A - "));
  s.Print("Up");
  EXPECT_EQ(s.CurrentY, 128);

  // An empty print only moves one row down, and draws nothing.
  const int drawn = CountOf(s, kSilverRgb);
  s.CurrentX = 33;
  s.Print("");
  EXPECT_EQ(s.CurrentX, 0);
  EXPECT_EQ(s.CurrentY, 144);
  EXPECT_EQ(CountOf(s, kSilverRgb), drawn);
  // An empty print that keeps the line moves nothing.
  s.CurrentX = 33;
  s.Print("", false);
  EXPECT_EQ(s.CurrentX, 33);
  EXPECT_EQ(s.CurrentY, 144);
}

TEST(Text, EndingTheLineAtRowsOfSixteen) {
  BlackField f;
  Surface& s = f.surface;
  s.CurrentY = 16 * 6;
  for (int row = 6; row <= 8; ++row) {
    EXPECT_EQ(s.CurrentY, 16 * row);
    s.CurrentX = 155 - s.TextWidth("Player 1 Serves") / 2;
    s.Print("Player 1 Serves");
  }
  EXPECT_EQ(s.CurrentY, 16 * 9);
}

TEST(Text, ClippedAtTheEdgesWithoutWrapping) {
  BlackField f;
  Surface& s = f.surface;
  // Past the right edge: nothing may come out at the left of the next rows.
  s.CurrentX = 300;
  s.CurrentY = 100;
  s.Print("You can go fuck yourself");
  // Left of the field, above it and below it.
  s.CurrentX = -40;
  s.CurrentY = -8;
  s.Print("Quillmarsh Rall");
  s.CurrentX = 10;
  s.CurrentY = 230;
  s.Print("Credit 99");
  s.CurrentX = 10;
  s.CurrentY = 5000;
  s.Print("Far below");
  s.CurrentX = -5000;
  s.CurrentY = 50;
  s.Print("Far left");
  for (int y = 100; y < 116; ++y) {
    for (int x = 0; x < 290; ++x) ASSERT_EQ(s.Pixel(x, y), 0u) << x << "," << y;
  }
  int right = 0;
  for (int y = 100; y < 116; ++y) right += s.Pixel(302, y) == kSilverRgb || s.Pixel(303, y) == kSilverRgb;
  EXPECT_GT(right, 0);
  EXPECT_GT(CountOf(s, kSilverRgb), 0);
}

TEST(Text, AnyBytesPrintWithoutHarm) {
  // Typed initials may hold bytes that are no UTF-8; they print as something, never fault.
  BlackField f;
  Surface& s = f.surface;
  std::string bytes;
  for (int c = 1; c < 256; ++c) bytes += static_cast<char>(c);
  s.CurrentX = 0;
  s.CurrentY = 100;
  s.Print(bytes, false);
  EXPECT_EQ(s.CurrentX, s.TextWidth(bytes));
  s.Print("\xFF\xFE\xC2");
  EXPECT_EQ(s.CurrentY, 116);
}

}  // namespace qr
