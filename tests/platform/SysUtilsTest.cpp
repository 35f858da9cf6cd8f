#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "platform/SysUtils.h"

using vg::Format;

TEST(CodePage, KnownTextConvertsBothWays) {
  const std::string cp = vg::platform::Utf8ToCp1251("Доступ запрещен");
  EXPECT_EQ(cp, "\xC4\xEE\xF1\xF2\xF3\xEF\x20\xE7\xE0\xEF\xF0\xE5\xF9\xE5\xED");
  EXPECT_EQ(vg::platform::Cp1251ToUtf8(cp), "Доступ запрещен");
}

TEST(CodePage, EveryByteRoundTripsExceptTheUnassignedOne) {
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    const std::string back = vg::platform::Utf8ToCp1251(vg::platform::Cp1251ToUtf8(one));
    if (b == 0x98)
      EXPECT_EQ(back, "?");
    else
      EXPECT_EQ(back, one) << "byte " << b;
  }
  EXPECT_EQ(vg::platform::Utf8ToCp1251("Ё№€"), "\xA8\xB9\x88");
}

TEST(CodePage, UnmappableAndMalformedBecomeQuestionMarks) {
  EXPECT_EQ(vg::platform::Utf8ToCp1251("a\xE4\xB8\xAD" "b"), "a?b");  // a CJK character
  EXPECT_EQ(vg::platform::Utf8ToCp1251("\xFF\xC3"), "??");
  EXPECT_EQ(vg::platform::Utf8ToCp1251("\xD0"), "?");  // truncated sequence
}

TEST(SystemText, MacroGivesWindows1251Once) {
  const std::string& a = VGT("Доступ запрещен");
  EXPECT_EQ(a.size(), 15u);
  EXPECT_EQ(static_cast<unsigned char>(a[0]), 0xC4);
}

TEST(Format, PlainAndIndexedArguments) {
  EXPECT_EQ(Format("%s (%s: %s)", {"a", "b", "c"}), "a (b: c)");
  EXPECT_EQ(Format("%s error %d, %s", {"Sign", -5, "x"}), "Sign error -5, x");
  EXPECT_EQ(Format("%d.%d.%d.%d", {127, 0, 0, 1}), "127.0.0.1");
  EXPECT_EQ(Format("Exception %s on read string value \"%2:s\": %1:s", {"E", "msg", "Name"}),
            "Exception E on read string value \"Name\": msg");
  // After an indexed specifier, unindexed ones continue from the next argument.
  EXPECT_EQ(Format("%1:s %s %0:s", {"a", "b", "c"}), "b c a");
  EXPECT_EQ(Format("100%% %s", {"done"}), "100% done");
}

TEST(Format, WidthPrecisionAndHex) {
  EXPECT_EQ(Format("%.2d.%.2d.%.4d", {5, 3, 2004}), "05.03.2004");
  EXPECT_EQ(Format("[%5s][%-5s]", {"ab", "cd"}), "[   ab][cd   ]");
  EXPECT_EQ(Format("%x %X %.8x", {255, 255, 0x1234}), "ff FF 00001234");
  EXPECT_EQ(Format("%x", {-1}), "ffffffff");
  EXPECT_EQ(Format("%.3s", {"abcdef"}), "abc");
  EXPECT_EQ(Format("%u", {-1}), "4294967295");
}

TEST(Format, BadFormatsRaiseConvertError) {
  EXPECT_THROW(Format("%s %s", {"only one"}), vg::EConvertError);
  EXPECT_THROW(Format("%d", {"text"}), vg::EConvertError);
  EXPECT_THROW(Format("%s", {5}), vg::EConvertError);
  EXPECT_THROW(Format("trailing %", {}), vg::EConvertError);
  EXPECT_THROW(Format("%q", {1}), vg::EConvertError);
}
