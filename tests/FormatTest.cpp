// The number formats of the game's texts, as the window prints numbers.
#include <gtest/gtest.h>

#include "game/app/Text.hpp"

namespace qr {

TEST(Formats, TwoDigitsAtLeast) {
  EXPECT_EQ(Format00(0), "00");
  EXPECT_EQ(Format00(7), "07");
  EXPECT_EQ(Format00(10), "10");
  EXPECT_EQ(Format00(123), "123");
  EXPECT_EQ(Format00(32767), "32767");
  EXPECT_EQ(Format00(-7), "-07");
}

TEST(Formats, PrintedNumbersCarryTheirBlanks) {
  // A blank where the sign would stand, and a blank after the number.
  EXPECT_EQ(SignedText(2), " 2");
  EXPECT_EQ(SignedText(0), " 0");
  EXPECT_EQ(SignedText(-3), "-3");
  EXPECT_EQ(PrintedNumber(100), " 100 ");
  EXPECT_EQ(PrintedNumber(-5), "-5 ");
}

}  // namespace qr
