// Known answers of the module's code-page conversion and its error texts.
#include <gtest/gtest.h>

#include "Cp1251.h"
#include "Errors.h"
#include "OpenSslEngine.h"

namespace engmod10 {
namespace {

TEST(Cp1251Test, KnownAnswers) {
  EXPECT_EQ(Utf8ToCp1251("Привет, мир!"), "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0!");
  EXPECT_EQ(Utf8ToCp1251("Ёё№€—"), "\xA8\xB8\xB9\x88\x97");
  EXPECT_EQ(Cp1251ToUtf8("\xC0\xFF\xA8"), "АяЁ");
  EXPECT_EQ(Cp1251ToUtf8("\x98"), "\xEF\xBF\xBD");
}

TEST(Cp1251Test, EveryByteSurvivesTheRoundTripAndForeignCharactersBecomeQuestionMarks) {
  for (int b = 1; b < 256; ++b) {
    if (b == 0x98) continue;
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(one)), one) << b;
  }
  EXPECT_EQ(Utf8ToCp1251("a\xE4\xB8\xAD"
                         "b"),
            "a?b");                                     // a CJK character
  EXPECT_EQ(Utf8ToCp1251("\xF0\x9F\x98\x80"), "?");     // outside the BMP
  EXPECT_EQ(Utf8ToCp1251("\xC0\xAF\xFF\xD0"), "????");  // overlong, invalid, cut off
  EXPECT_EQ(Utf8ToCp1251("\xED\xA0\x80"), "???");       // a surrogate
}

TEST(ErrorTextTest, EveryCodeHasARussianSentenceThatFitsTheBuffer) {
  EXPECT_EQ(ErrorText(kOk), "");
  EXPECT_EQ(ErrorText(-1), "");
  EXPECT_EQ(ErrorText(kLastErrorCode + 1), "");
  for (int code = 1; code <= kLastErrorCode; ++code) {
    const std::string& text = ErrorText(code);
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_LT(text.size(), static_cast<size_t>(OpenSslEngine::kMaxErrorStringLength));
    // Each sentence starts with a Cyrillic capital in Windows-1251 and survives the round trip.
    EXPECT_GE(static_cast<unsigned char>(text[0]), 0xC0) << code;
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(text)), text);
  }
  EXPECT_EQ(ErrorText(kSignatureInvalid).substr(0, 15), "\xCF\xEE\xE4\xEF\xE8\xF1\xFC \xED\xE5\xE2\xE5\xF0\xED\xE0");
}

}  // namespace
}  // namespace engmod10
