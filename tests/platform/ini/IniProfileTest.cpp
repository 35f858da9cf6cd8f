#include <cerrno>
#include <cstring>
#include <thread>

#include "IniProfileSupport.h"
#include "platform/SysUtils.h"

namespace {

TEST_F(IniProfile, ReadingFollowsTheProfileRules) {
  WriteFile(file, std::string("top=ignored\r\n"
                              "; a comment=not a key\r\n"
                              "  [ Client\\TCP options ]  \r\n"
                              "  Self TCP port  =   8080  \r\n"
                              "\tProxy host=\"  quoted  \"\r\n"
                              "single='x'\r\n"
                              "half=\"open\r\n"
                              "url=http://h/p?a=b;c=d ; not a comment\r\n"
                              "just words\r\n"
                              "=no name\r\n"
                              "dup=first\r\n"
                              "DUP=second\r\n") +
                      "[" + VGT("Другой") + "]\r\n" + VGT("Имя") + "=" + VGT("значение") + "\r\n" +
                      "[client\\tcp OPTIONS]\r\n"
                      "later=from the repeated section\r\n");
  const std::string s = "Client\\TCP options";
  EXPECT_EQ(Get(file, "CLIENT\\tcp options", "self tcp PORT"), "8080");
  EXPECT_EQ(Get(file, s, "Proxy host"), "  quoted  ");
  EXPECT_EQ(Get(file, s, "single"), "x");
  EXPECT_EQ(Get(file, s, "half"), "\"open");
  EXPECT_EQ(Get(file, s, "url"), "http://h/p?a=b;c=d ; not a comment");
  EXPECT_EQ(Get(file, s, "dup"), "first");
  EXPECT_EQ(Get(file, s, "later"), "from the repeated section");
  EXPECT_EQ(Get(file, s, "just words"), "<none>");
  EXPECT_EQ(Get(file, s, "; a comment"), "<none>");
  EXPECT_EQ(Get(file, "", "top"), "<none>");
  // Cyrillic names compare without regard to letter case too.
  EXPECT_EQ(Get(file, VGT("ДРУГОЙ"), VGT("имя")), VGT("значение"));

  EXPECT_EQ(Sections(file), (Names{"Client\\TCP options", VGT("Другой")}));
  EXPECT_EQ(Keys(file, s), (Names{"Self TCP port", "Proxy host", "single", "half", "url", "dup", "later"}));
  EXPECT_TRUE(Keys(file, "missing").empty());
}

TEST_F(IniProfile, MissingFileReadsAsEmpty) {
  EXPECT_EQ(Get(file, "a", "b", "default"), "default");
  EXPECT_TRUE(Sections(file).empty());
  EXPECT_TRUE(Keys(file, "a").empty());
  EXPECT_EQ(profile::LastError(), ENOENT);
}

TEST_F(IniProfile, NamesHoldingANulAreLeftOutOfTheLists) {
  // Listed, "O\0web server host" would read as a name "web server host" that has no value.
  WriteFile(file, std::string("[s]\nO\0web server host=x\nkept=1\n[a\0b]\nk=2\n", 41));
  EXPECT_EQ(Keys(file, "s"), (Names{"kept"}));
  EXPECT_EQ(Sections(file), (Names{"s"}));
  EXPECT_EQ(Get(file, "s", "web server host"), "<none>");
}

TEST_F(IniProfile, SmallBuffersAreCutTheWayCallersExpect) {
  WriteFile(file, "[abc]\nkey=0123456789\n[de]\n");
  char buf[32];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(profile::ReadValue(file, "abc", "key", "", buf, 5), 4u);  // size - 1
  EXPECT_STREQ(buf, "0123");
  EXPECT_EQ(profile::ReadValue(file, "abc", "key", "", buf, 11), 10u);
  EXPECT_EQ(profile::ReadValue(file, "abc", "key", "", buf, 0), 0u);

  // The full list "abc\0de\0" is 7 bytes plus the final NUL.
  EXPECT_EQ(profile::ReadSectionNames(file, buf, 8), 7u);
  EXPECT_EQ(std::string(buf, 8), std::string("abc\0de\0\0", 8));
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(profile::ReadSectionNames(file, buf, 6), 4u);  // size - 2, ends in two NULs
  EXPECT_EQ(std::string(buf, 6), std::string("abc\0\0\0", 6));
  EXPECT_EQ(profile::ReadSectionNames(file, buf, 1), 0u);
  EXPECT_EQ(buf[0], '\0');
}

TEST_F(IniProfile, EditsKeepCommentsBlankLinesAndLayout) {
  const std::string original =
      "; settings of the tunnel\r\n"
      "\r\n"
      "[A]\r\n"
      "; the first key\r\n"
      "  One = 1\r\n"
      "two=2\r\n"
      "\r\n"
      "; section B follows\r\n"
      "[B]\r\n"
      "x=1\r\n";
  WriteFile(file, original);
  ASSERT_TRUE(profile::WriteValue(file, "a", "ONE", "first"));  // replaced in place, spelling kept
  ASSERT_TRUE(profile::WriteValue(file, "A", "three", "3"));    // after the section's last key
  ASSERT_TRUE(profile::WriteValue(file, "C", "c", "new"));      // a new section at the end
  EXPECT_EQ(ReadFile(file),
            "; settings of the tunnel\r\n"
            "\r\n"
            "[A]\r\n"
            "; the first key\r\n"
            "One=first\r\n"
            "two=2\r\n"
            "three=3\r\n"
            "\r\n"
            "; section B follows\r\n"
            "[B]\r\n"
            "x=1\r\n"
            "\r\n"
            "[C]\r\n"
            "c=new\r\n");

  ASSERT_TRUE(profile::DeleteKey(file, "A", "two"));
  ASSERT_TRUE(profile::DeleteSection(file, "a"));
  EXPECT_EQ(ReadFile(file),
            "; settings of the tunnel\r\n"
            "\r\n"
            "; section B follows\r\n"
            "[B]\r\n"
            "x=1\r\n"
            "\r\n"
            "[C]\r\n"
            "c=new\r\n");
}

TEST_F(IniProfile, WritesFitTheFilesLineBreaksAndMissingFinalBreak) {
  WriteFile(file, "[A]\nx=1");
  ASSERT_TRUE(profile::WriteValue(file, "A", "y", "2"));
  EXPECT_EQ(ReadFile(file), "[A]\nx=1\ny=2\n");
  // A last line ending in a bare carriage return keeps its content.
  WriteFile(file, "[A]\r\nx=1\r");
  ASSERT_TRUE(profile::WriteValue(file, "A", "y", "2"));
  EXPECT_EQ(ReadFile(file), "[A]\r\nx=1\r\ny=2\r\n");
  WriteFile(file, "[B]\r");
  ASSERT_TRUE(profile::WriteValue(file, "B", "k", "v"));
  EXPECT_EQ(ReadFile(file), "[B]\r\nk=v\r\n");
  const std::string fresh = dir.File("fresh.ini");
  ASSERT_TRUE(profile::WriteValue(fresh, "S", "k", "v"));
  EXPECT_EQ(ReadFile(fresh), "[S]\r\nk=v\r\n");
}

TEST_F(IniProfile, ValuesReadBackExactlyAsWritten) {
  const std::vector<std::string> values = {"",        " ",          "  lead", "trail  ", "\"quoted\"",     "'q'",
                                           "a=b;c=d", "; not cmnt", "\"",     "x\"",     VGT("Значение ё")};
  for (size_t i = 0; i < values.size(); ++i) {
    const std::string key = "k" + std::to_string(i);
    ASSERT_TRUE(profile::WriteValue(file, "S", key, values[i])) << values[i];
    EXPECT_EQ(Get(file, "S", key), values[i]) << values[i];
  }
  // Cyrillic text is stored as Windows-1251 bytes, one byte a letter.
  EXPECT_NE(ReadFile(file).find("\xC7\xED\xE0\xF7\xE5\xED\xE8\xE5 \xB8"), std::string::npos);
}

TEST_F(IniProfile, UnstorableNamesAndValuesAreRefusedWithoutTouchingTheFile) {
  WriteFile(file, "[S]\nk=v\n");
  const struct {
    std::string section, key, value;
  } bad[] = {{"S", "k", "two\nlines"},
             {"S", "k", "cr\rx"},
             {"S", "a=b", "v"},
             {"S", ";k", "v"},
             {"S", "[k", "v"},
             {"S", "", "v"},
             {"S", "  ", "v"},
             {"", "k", "v"},
             {"S]x", "k", "v"},
             {"S\n", "k", "v"},
             {"S", std::string("a\0b", 3), "v"},
             {"S", "k", std::string("a\0b", 3)}};
  for (const auto& b : bad) {
    EXPECT_FALSE(profile::WriteValue(file, b.section, b.key, b.value)) << b.section << "/" << b.key;
    EXPECT_EQ(profile::LastError(), EINVAL);
  }
  EXPECT_EQ(ReadFile(file), "[S]\nk=v\n");
}

TEST_F(IniProfile, DeletingFromAMissingFileCreatesNothing) {
  EXPECT_TRUE(profile::DeleteKey(file, "S", "k"));
  EXPECT_TRUE(profile::DeleteSection(file, "S"));
  EXPECT_FALSE(vgtest::Exists(file));
}

TEST_F(IniProfile, DeletionTakesEveryOccurrence) {
  WriteFile(file, "[S]\nk=1\nK=2\nother=3\n[T]\nk=4\n[s]\nk=5\n");
  ASSERT_TRUE(profile::DeleteKey(file, "S", "k"));
  EXPECT_EQ(ReadFile(file), "[S]\nother=3\n[T]\nk=4\n[s]\n");
  ASSERT_TRUE(profile::DeleteSection(file, "S"));
  EXPECT_EQ(ReadFile(file), "[T]\nk=4\n");
}

TEST_F(IniProfile, FailedReplacementLeavesTheOldFileAndNoTemporary) {
  WriteFile(file, "[S]\nk=old\n");
  vg::platform::SetReplaceFaultHook([](const std::string&, const std::string&) { return false; });
  EXPECT_FALSE(profile::WriteValue(file, "S", "k", "new"));
  EXPECT_EQ(profile::LastError(), EIO);
  EXPECT_FALSE(profile::DeleteSection(file, "S"));
  EXPECT_EQ(ReadFile(file), "[S]\nk=old\n");
  EXPECT_EQ(vgtest::EntryCount(dir.Path()), 1u);
}

TEST_F(IniProfile, ConcurrentWritersInThreadsLoseNothing) {
  constexpr int kPerWriter = 40;
  auto writer = [&](const std::string& prefix) {
    for (int i = 0; i < kPerWriter; ++i) profile::WriteValue(file, "S", prefix + std::to_string(i), std::to_string(i));
  };
  std::thread t1([&] { writer("a"); });
  std::thread t2([&] { writer("b"); });
  writer("c");
  t1.join();
  t2.join();
  EXPECT_EQ(Keys(file, "S").size(), 3u * kPerWriter);
  EXPECT_EQ(vgtest::EntryCount(dir.Path()), 1u);
}

}  // namespace
