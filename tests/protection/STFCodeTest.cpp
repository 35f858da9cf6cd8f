#include <gtest/gtest.h>

#include <random>
#include <set>

#include "protection/STFCode.h"
#include "protection/TextRoutines.h"

using vg::TSTF1;

TEST(STF1, TableIsSixtyFiveDistinctHeaderSafeCharacters) {
  ASSERT_EQ(TSTF1::kTable.size(), 65u);
  std::set<char> seen(TSTF1::kTable.begin(), TSTF1::kTable.end());
  EXPECT_EQ(seen.size(), 65u);
  for (char c : TSTF1::kTable) {
    EXPECT_GT(c, ' ');
    EXPECT_LT(c, 127);
    EXPECT_EQ(std::string(";,\"' \t").find(c), std::string::npos) << c;
  }
  EXPECT_EQ(TSTF1::kTable[64], TSTF1::kPadding);
}

TEST(STF1, EncodingPadsPartialGroups) {
  EXPECT_EQ(TSTF1::Encode("M"), "TQ..");
  EXPECT_EQ(TSTF1::Encode("Ma"), "TWE.");
  EXPECT_EQ(TSTF1::Encode("Man"), "TWFu");
  EXPECT_EQ(TSTF1::Encode(""), "");
  EXPECT_EQ(TSTF1::Encode(nullptr, 5), "");
  EXPECT_EQ(TSTF1::Encode("Man", -1), "TWFu");  // negative length: NUL-terminated
  EXPECT_EQ(TSTF1::Encode("\xFF\xFF\xFF"), "____");
}

TEST(STF1, RoundTripsEveryLengthUpTo64) {
  std::mt19937 rng(42);
  for (int len = 0; len <= 64; ++len) {
    std::string data(static_cast<size_t>(len), '\0');
    for (auto& c : data) c = static_cast<char>(rng());
    const std::string text = TSTF1::Encode(data);
    EXPECT_EQ(text.size(), static_cast<size_t>((len + 2) / 3 * 4));
    EXPECT_EQ(TSTF1::Decode(text), data) << "length " << len;
  }
}

TEST(STF1, DecodeSixDigitsPadsToEightAndGivesFourBytes) {
  const std::string out = TSTF1::Decode("TWFuTW");
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out.substr(0, 3), "Man");
  EXPECT_EQ(out[3], 'M');
}

TEST(STF1, SkippedCharactersKeepTheExpectedLength) {
  // 10 characters pad to 12: 9 bytes expected, 2 padding characters take 2 of them.
  const std::string out = TSTF1::Decode("TWFu\r\nTWFu");
  ASSERT_EQ(out.size(), 7u);
  EXPECT_EQ(out.substr(0, 6), "ManMan");
  EXPECT_EQ(out[6], '\0');
  // A NUL-terminated input with a negative length.
  EXPECT_EQ(TSTF1::Decode("TWFu", -1), "Man");
  EXPECT_EQ(TSTF1::Decode(nullptr, -1), "");
}

TEST(STF1, GarbageNeverOverrunsAndGivesBoundedOutput) {
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    std::string text(rng() % 40, '\0');
    for (auto& c : text) c = static_cast<char>(rng());
    const std::string out = TSTF1::Decode(text);
    EXPECT_LE(out.size(), (text.size() + 3) / 4 * 3);
  }
}

TEST(TextRoutines, ParseVersion) {
  EXPECT_EQ(vg::ParseVersion("1.5"), 65541u);
  EXPECT_EQ(vg::ParseVersion("2"), 131072u);
  EXPECT_EQ(vg::ParseVersion("1.x"), 65536u);
  EXPECT_EQ(vg::ParseVersion(""), 0u);
  EXPECT_EQ(vg::ParseVersion("..1...4."), 65540u);
  EXPECT_EQ(vg::ParseVersion("65537.2"), 65538u);  // cut to 16 bits
  EXPECT_EQ(vg::ParseVersion("99999999999.1"), 1u);  // does not fit: 0
}

TEST(TextRoutines, DateTextAndProgramVersion) {
  EXPECT_EQ(vg::DateText(2004, 3, 5), "05.03.2004");
  EXPECT_EQ(vg::DateText(987, 12, 31), "31.12.0987");
  EXPECT_EQ(vg::ProgramVersion(), "0.0.0.0");  // test programs carry no version record
}
