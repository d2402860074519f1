#include <gtest/gtest.h>

#include <random>
#include <string>

#include "game/scores/HiScoreRecord.hpp"

namespace qr {

namespace {

struct Tables {
  HiScoreTable one{};
  HiScoreTable2P two{};
};

Tables Defaults() {
  Tables t;
  DefaultHiScores(t.one, t.two);
  return t;
}

void ExpectSame(const Tables& a, const Tables& b) {
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(a.one[i].initials, b.one[i].initials) << "entry " << i;
    EXPECT_EQ(a.one[i].score, b.one[i].score) << "entry " << i;
    EXPECT_EQ(a.two[i].initials, b.two[i].initials) << "entry " << i;
    EXPECT_EQ(a.two[i].score, b.two[i].score) << "entry " << i;
    EXPECT_EQ(a.two[i].otherScore, b.two[i].otherScore) << "entry " << i;
  }
}

// Tables with marks that no valid load would produce, to see whether a load touched them.
Tables Marked() {
  Tables t;
  for (int i = 1; i <= 5; ++i) {
    t.one[i] = HiScore{"MRK", static_cast<std::int16_t>(1000 + i)};
    t.two[i] = HiScore2P{"mrk", static_cast<std::int16_t>(2000 + i), static_cast<std::int16_t>(3000 + i)};
  }
  return t;
}

// The shift worked out by hand for the two first blocks of the first-run tables.
const std::string kDefaultBlock1 = "01212351212/234123412341";  // "...000100...000000000000"
const std::string kDefaultBlock2 = "01212348712/234123412341";  // "...000075...000000000000"

}  // namespace

TEST(HiScoreRecord, ShiftRunsTwoThreeFourOneFromTheFirstPosition) {
  EXPECT_EQ(ShiftRecord("abcd"), "cege");
  EXPECT_EQ(ShiftRecord("...."), "012/");
  std::string plain;
  ASSERT_TRUE(UnshiftRecord("cegecege", plain));
  EXPECT_EQ(plain, "abcdabcd");
  EXPECT_FALSE(UnshiftRecord(std::string("\x01", 1), plain)) << "a code below its shift cannot be stored text";
}

TEST(HiScoreRecord, FirstRunTablesHaveTheirKnownStoredForm) {
  const Tables d = Defaults();
  const std::string stored = FormatHiScoreRecord(d.one, d.two);
  ASSERT_EQ(stored.size(), 120u);
  EXPECT_EQ(stored.substr(0, 3), "012") << "the three full stops are stored as the digits 0, 1 and 2";
  EXPECT_EQ(stored.substr(0, 24), kDefaultBlock1);
  EXPECT_EQ(stored.substr(24, 24), kDefaultBlock2);
  std::string plain;
  ASSERT_TRUE(UnshiftRecord(stored, plain));
  EXPECT_EQ(plain,
            "...000100...000000000000...000075...000000000000...000050...000000000000"
            "...000025...000000000000...000010...000000000000");
  for (const char c : stored) {
    EXPECT_GE(c, 33);
    EXPECT_LE(c, 100);
  }
}

TEST(HiScoreRecord, ScoresAreSixDigitsWithLeadingZeros) {
  Tables t = Defaults();
  t.one[1].score = 7;
  t.one[2].score = 32767;
  t.two[3].score = 0;
  t.two[3].otherScore = 12345;
  std::string plain;
  ASSERT_TRUE(UnshiftRecord(FormatHiScoreRecord(t.one, t.two), plain));
  EXPECT_EQ(plain.substr(3, 6), "000007");
  EXPECT_EQ(plain.substr(24 + 3, 6), "032767");
  EXPECT_EQ(plain.substr(48 + 12, 6), "000000");
  EXPECT_EQ(plain.substr(48 + 18, 6), "012345");
}

TEST(HiScoreRecord, ScoresOutsideTheTablesRangeAreWrittenAtItsEnds) {
  Tables t = Defaults();
  t.one[1].score = -5;  // never held by a table, but the line must keep its length
  const std::string stored = FormatHiScoreRecord(t.one, t.two);
  ASSERT_EQ(stored.size(), 120u);
  std::string plain;
  ASSERT_TRUE(UnshiftRecord(stored, plain));
  EXPECT_EQ(plain.substr(3, 6), "000000");
}

TEST(HiScoreRecord, AnyValidTablesComeBackUnchanged) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> code(32, 96);
  std::uniform_int_distribution<int> score(0, 32767);
  std::uniform_int_distribution<int> small(0, 12);
  auto initials = [&] {
    std::string s;
    for (int k = 0; k < 3; ++k) s.push_back(static_cast<char>(code(rng)));
    return s;
  };
  // Small scores and the range's ends as often as large ones.
  auto pick = [&] {
    switch (small(rng)) {
      case 0:
        return 0;
      case 1:
        return 32767;
      case 2:
        return small(rng);
      default:
        return score(rng);
    }
  };
  for (int round = 0; round < 2000; ++round) {
    Tables t;
    for (int i = 1; i <= 5; ++i) {
      t.one[i] = HiScore{initials(), static_cast<std::int16_t>(pick())};
      t.two[i] = HiScore2P{initials(), static_cast<std::int16_t>(pick()), static_cast<std::int16_t>(pick())};
    }
    const std::string stored = FormatHiScoreRecord(t.one, t.two);
    ASSERT_EQ(stored.size(), 120u);
    Tables back = Marked();
    ASSERT_TRUE(ParseHiScoreRecord(stored, back.one, back.two)) << stored;
    ExpectSame(back, t);
    if (HasFailure()) break;
  }
}

TEST(HiScoreRecord, InitialsThatStoreAsCommasQuotesOrBlanksComeBack) {
  Tables t = Defaults();
  // A blank first initial is stored as a double quote; codes 40 to 43 land on the comma.
  t.one[1].initials = " AB";
  t.one[2].initials = "(),";
  t.one[3].initials = "\"\"\"";
  t.one[4].initials = "   ";
  t.one[5].initials = "`@!";
  t.two[1].initials = "*+)";
  t.two[2].initials = "A,B";
  const std::string stored = FormatHiScoreRecord(t.one, t.two);
  EXPECT_EQ(stored[0], '"');
  EXPECT_NE(stored.find(','), std::string::npos);
  Tables back = Marked();
  ASSERT_TRUE(ParseHiScoreRecord(stored, back.one, back.two));
  ExpectSame(back, t);
}

TEST(HiScoreRecord, LinesOfAnyOtherLengthAreRefusedWhole) {
  const Tables d = Defaults();
  const std::string stored = FormatHiScoreRecord(d.one, d.two);
  for (const std::string& line : {stored.substr(0, 119), stored + "1", std::string(), stored.substr(0, 24)}) {
    Tables t = Marked();
    EXPECT_FALSE(ParseHiScoreRecord(line, t.one, t.two)) << "length " << line.size();
    ExpectSame(t, Marked());
  }
}

TEST(HiScoreRecord, NumbersAreTheirLeadingDigits) {
  Tables d = Defaults();
  std::string plain;
  ASSERT_TRUE(UnshiftRecord(FormatHiScoreRecord(d.one, d.two), plain));
  plain.replace(3, 6, "12ab..");        // entry 1: 12
  plain.replace(24 + 3, 6, "......");   // entry 2: no digits, 0
  plain.replace(48 + 12, 6, "7 9999");  // entry 3, two players: 7
  plain.replace(72 + 18, 6, "032767");  // the largest that fits
  Tables t = Marked();
  ASSERT_TRUE(ParseHiScoreRecord(ShiftRecord(plain), t.one, t.two));
  EXPECT_EQ(t.one[1].score, 12);
  EXPECT_EQ(t.one[2].score, 0);
  EXPECT_EQ(t.two[3].score, 7);
  EXPECT_EQ(t.two[4].otherScore, 32767);
  EXPECT_EQ(t.one[3].score, 50);
}

TEST(HiScoreRecord, AnyBadFieldLeavesBothTablesAsTheyWere) {
  const Tables d = Defaults();
  std::string good;
  ASSERT_TRUE(UnshiftRecord(FormatHiScoreRecord(d.one, d.two), good));
  struct Case {
    std::size_t at;
    std::string text;
    const char* why;
  };
  const Case cases[] = {
      {96 + 18, "032768", "the last number of the last block is one past 16 bits"},
      {3, "999999", "the first number does not fit 16 bits"},
      {48 + 12, "100000", "a two-player score does not fit"},
      {96 + 9, "ab{", "an initial above code 96"},
      {0, std::string("\x1f..", 3), "an initial below code 32"},
      {72, std::string(".\x7f.", 3), "code 127 in the middle of the table"},
  };
  for (const Case& c : cases) {
    std::string plain = good;
    plain.replace(c.at, c.text.size(), c.text);
    Tables t = Marked();
    EXPECT_FALSE(ParseHiScoreRecord(ShiftRecord(plain), t.one, t.two)) << c.why;
    ExpectSame(t, Marked());
  }
}

TEST(HiScoreRecord, FirstLineEndsAtCarriageReturnOrLineFeed) {
  EXPECT_EQ(FirstLine("abc\r\ndef"), "abc");
  EXPECT_EQ(FirstLine("abc\ndef"), "abc");
  EXPECT_EQ(FirstLine("abc\rdef"), "abc");
  EXPECT_EQ(FirstLine("abc"), "abc");
  EXPECT_EQ(FirstLine(""), "");
  EXPECT_EQ(FirstLine("\r\nabc"), "");
  EXPECT_EQ(FirstLine("a,\"b\"c"), "a,\"b\"c") << "commas and quotes are part of the line";
}

}  // namespace qr
