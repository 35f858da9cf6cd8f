#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "config/Cfg_Ini.h"
#include "platform/AtomicFile.h"
#include "support/ScratchDir.h"

using vg::EIniConfigException;
using vg::TItemKind;
using vg::TItemKinds;
using Names = std::vector<std::string>;

namespace {

// Expects body to raise EIniConfigException with exactly the message (given as UTF-8).
template <class Body>
void ExpectMessage(Body&& body, const std::string& utf8) {
  try {
    body();
    ADD_FAILURE() << "no exception, expected: " << utf8;
  } catch (const EIniConfigException& e) {
    EXPECT_EQ(vg::platform::Cp1251ToUtf8(e.Message()), utf8);
  }
}

class IniStorage : public ::testing::Test {
 protected:
  void TearDown() override { vg::platform::SetReplaceFaultHook(nullptr); }
  std::unique_ptr<vg::TIniConfigStorage> Open(bool readOnly = false, bool typed = false, const char* path = "Client") {
    return vg::OpenIniStorage(file, path, readOnly, typed);
  }
  Names List(vg::TConfigStorage& s) {
    Names n;
    s.ListSections(n);
    return n;
  }
  Names Items(vg::TConfigStorage& s) {
    Names n{"stale"};
    s.ListItems(n);
    return n;
  }

  vgtest::ScratchDir dir;
  std::string file = dir.File("veilgate.cfg");
};

TEST_F(IniStorage, MissingSectionsRaiseWithTheFullChildPath) {
  auto root = Open();
  ExpectMessage([&] { root->OpenSection("TCP options", true, false); }, "Раздел \"Client\\TCP options\" не существует");
  ExpectMessage([&] { root->OpenSection("TCP options", false, false); }, "Раздел \"Client\\TCP options\" не существует");
  auto ro = Open(true);
  ExpectMessage([&] { ro->OpenSection("TCP options", false, true); }, "Раздел \"Client\\TCP options\" не существует");
  EXPECT_FALSE(vgtest::Exists(file));
}

TEST_F(IniStorage, CreatingASectionLeavesJustItsHeader) {
  vgtest::WriteFile(file, "; my settings\r\n[Other]\r\na=1\r\n");
  auto root = Open();
  // One rewrite, so that a writer killed on the way leaves no placeholder item behind.
  int rewrites = 0;
  vg::platform::SetReplaceFaultHook([&](const std::string&, const std::string&) { return ++rewrites > 0; });
  auto tcp = root->OpenSection("TCP options", false, true);
  EXPECT_EQ(rewrites, 1);
  EXPECT_EQ(vgtest::ReadFile(file), "; my settings\r\n[Other]\r\na=1\r\n\r\n[Client\\TCP options]\r\n");
  EXPECT_TRUE(root->SectionExists("tcp OPTIONS"));
  EXPECT_TRUE(Items(*tcp).empty());
  // Opening it again changes nothing; a child opened read-only refuses writes.
  auto again = root->OpenSection("TCP OPTIONS", true, true);
  EXPECT_EQ(vgtest::ReadFile(file), "; my settings\r\n[Other]\r\na=1\r\n\r\n[Client\\TCP options]\r\n");
  ExpectMessage([&] { again->WriteInteger("x", 1); },
                "Нельзя изменить элемент \"x\" в разделе \"Client\\TCP OPTIONS\", открытом только для чтения");
}

TEST_F(IniStorage, SectionListsHoldDirectChildrenOnly) {
  vgtest::WriteFile(file,
                    "[ClientOld\\X]\n[Client]\n[Client\\TCP options]\n[client\\Web servers\\s1]\n"
                    "[Client\\Web servers\\s2\\Crypto engine]\n[CLIENT\\web servers]\n[Client\\]\n[Clients\\Y]\n"
                    "[Client\\Log options]\n");
  auto root = Open();
  EXPECT_EQ(List(*root), (Names{"TCP options", "Web servers", "Log options"}));
  auto web = root->OpenSection("web SERVERS", true, false);
  EXPECT_EQ(List(*web), (Names{"s1", "s2"}));
  EXPECT_FALSE(root->SectionExists("X"));
  // Only one level per call: a path below the child is not a child itself.
  EXPECT_THROW(root->OpenSection("Web servers\\s1", true, false), EIniConfigException);
}

TEST_F(IniStorage, EmptyPathIsTheRootBackslash) {
  auto root = vg::OpenIniStorage(file, "", false, false);
  EXPECT_EQ(root->Path(), "\\");
  auto child = root->OpenSection("A", false, true);
  EXPECT_EQ(static_cast<vg::TIniConfigStorage&>(*child).Path(), "\\\\A");
  EXPECT_EQ(List(*root), Names{"A"});
}

TEST_F(IniStorage, DeletingSections) {
  vgtest::WriteFile(file,
                    "[Client\\Web servers]\nn=2\n[Client\\Web servers\\s1]\nHost=a\n"
                    "[Client\\Web servers\\s1\\Crypto engine]\np=1\n[Client\\Web servers\\s2]\nHost=b\n"
                    "[Client\\Log options]\nx=1\n");
  auto root = Open();
  auto web = root->OpenSection("Web servers", false, false);
  // Without recursion only a section without subsections goes, items and all.
  ExpectMessage([&] { root->DeleteSection("Web servers", false); }, "Нельзя удалить непустой раздел \"Client\\Web servers\"");
  web->DeleteSection("s2", false);
  EXPECT_EQ(List(*web), Names{"s1"});
  root->DeleteSection("WEB SERVERS", true);
  EXPECT_EQ(vgtest::ReadFile(file), "[Client\\Log options]\nx=1\n");
  ExpectMessage([&] { root->DeleteSection("Web servers", true); }, "Раздел \"Client\\Web servers\" не существует");

  auto ro = Open(true);
  ExpectMessage([&] { ro->DeleteSection("Log options", true); },
                "Нельзя удалить раздел \"Client\\Log options\" открытый только для чтения");
  EXPECT_EQ(vgtest::ReadFile(file), "[Client\\Log options]\nx=1\n");
}

TEST_F(IniStorage, DeletingItems) {
  vgtest::WriteFile(file, "[Client]\na=1\nb=2\n");
  auto root = Open();
  root->DeleteItem("A");
  root->DeleteItem("missing");
  EXPECT_EQ(Items(*root), Names{"b"});
  ExpectMessage([&] { Open(true)->DeleteItem("b"); },
                "Нельзя удалить элемент \"b\" в разделе \"Client\", открытом только для чтения");
  vg::platform::SetReplaceFaultHook([](const std::string&, const std::string&) { return false; });
  ExpectMessage([&] { root->DeleteItem("b"); }, "Не могу удалить элемент \"b\" в разделе \"Client\". Ошибка 5.");
  vg::platform::SetReplaceFaultHook(nullptr);
  EXPECT_EQ(Items(*root), Names{"b"});
}

TEST_F(IniStorage, UntypedKindsFollowTheText) {
  auto s = Open();
  const struct {
    const char* text;
    TItemKinds kinds;
  } cases[] = {
      {"1", {TItemKind::Int, TItemKind::Str, TItemKind::Bool, TItemKind::Bin}},
      {"0", {TItemKind::Int, TItemKind::Str, TItemKind::Bool, TItemKind::Bin}},
      {"12", {TItemKind::Int, TItemKind::Str, TItemKind::Bin}},
      {"abc", {TItemKind::Str, TItemKind::Bin}},
      {"a-b", {TItemKind::Str}},
      {"-1", {TItemKind::Int, TItemKind::Str}},
      {"$1", {TItemKind::Int, TItemKind::Str, TItemKind::Bool}},
      {"", {TItemKind::Str, TItemKind::Bin}},
      {"BIwA=", {TItemKind::Str}},
  };
  for (const auto& c : cases) {
    s->WriteString("v", c.text);
    EXPECT_EQ(s->ItemKinds("v").Bits(), c.kinds.Bits()) << c.text;
  }
  ExpectMessage([&] { s->ItemKinds("none"); }, "Элемент \"none\" отсутствует в разделе \"Client\"");
}

TEST_F(IniStorage, TypedItemsCarryTheirKind) {
  auto s = Open(false, true);
  s->WriteInteger("Log interval", 60);
  s->WriteString("Name", "a=b");
  s->WriteBool("Flag", true);
  const unsigned char bytes[] = {1, 2, 3};
  s->WriteBinary("Data", bytes, 3);
  EXPECT_EQ(vgtest::ReadFile(file),
            "[Client]\r\nLog interval=Int=60\r\nName=Str=a=b\r\nFlag=Bool=1\r\nData=Bin=BIwA\r\n");
  EXPECT_EQ(s->ReadInteger("log interval"), 60);
  EXPECT_EQ(s->ReadString("name"), "a=b");
  EXPECT_TRUE(s->ReadBool("flag"));
  EXPECT_EQ(s->BinarySize("data"), 3u);
  EXPECT_EQ(s->ItemKinds("Log interval").Bits(), TItemKinds({TItemKind::Int}).Bits());
  EXPECT_EQ(s->ItemKinds("Data").Bits(), TItemKinds({TItemKind::Bin}).Bits());

  // Reads compare the kind without regard to case, ItemKinds exactly.
  vgtest::WriteFile(file, "[Client]\nlow=int=7\nbare=7\n");
  EXPECT_EQ(s->ReadInteger("low"), 7);
  EXPECT_TRUE(s->ItemKinds("low").Empty());
  EXPECT_TRUE(s->ItemKinds("bare").Empty());
  ExpectMessage([&] { s->ReadInteger("bare"); },
                "Элемент \"bare\" в разделе \"Client\" имеет значение \"7\" и тип \"\" вместо ожидаемого \"Int\"");
}

TEST_F(IniStorage, TypedKindMismatchNamesValueKindAndExpectation) {
  vgtest::WriteFile(file, "[Client]\nPort=Int=5\n");
  auto s = Open(false, true);
  ExpectMessage([&] { s->ReadString("Port"); },
                "Элемент \"Port\" в разделе \"Client\" имеет значение \"5\" и тип \"Int\" вместо ожидаемого \"Str\"");
  ExpectMessage([&] { s->ReadBinary("Port", nullptr, 0); },
                "Элемент \"Port\" в разделе \"Client\" имеет значение \"5\" и тип \"Int\" вместо ожидаемого \"Bin\"");
  EXPECT_EQ(s->ReadStringDef("Port", "def"), "def");
  EXPECT_EQ(s->ReadIntegerDef("Port", 9), 5);
}

TEST_F(IniStorage, IntegersAcceptBlanksSignsAndHexadecimal) {
  vgtest::WriteFile(file, "[Client]\n");
  auto s = Open();
  const struct {
    const char* text;
    int32_t value;
  } good[] = {{"0", 0},          {"-12", -12},          {"+7", 7},
              {"$1F", 31},       {"$ff", 255},          {"-$10", -16},
              {"$FFFFFFFF", -1}, {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
              {"007", 7}};
  for (const auto& g : good) {
    s->WriteString("n", g.text);
    EXPECT_EQ(s->ReadInteger("n"), g.value) << g.text;
  }
  // Leading blanks in the file are no part of the value; inside quotes they are, and allowed.
  vgtest::WriteFile(file, "[Client]\nn=\"  -5\"\n");
  EXPECT_EQ(s->ReadInteger("n"), -5);
  for (const char* bad : {"", "abc", "12a", "1 2", "- 5", "$", "$100000000", "2147483648", "-2147483649", "0x10",
                          "5  \t"}) {
    s->WriteString("n", bad);
    ExpectMessage([&] { s->ReadInteger("n"); }, "Элемент \"n\" в разделе \"Client\" не является целым числом");
    EXPECT_EQ(s->ReadIntegerDef("n", 42), 42) << bad;
  }
}

TEST_F(IniStorage, BooleansAreTrueForOneAndT) {
  auto s = Open();
  for (const char* t : {"1", "true", "T", "10"}) {
    s->WriteString("b", t);
    EXPECT_TRUE(s->ReadBool("b")) << t;
  }
  for (const char* f : {"0", "yes", "", "false", "2"}) {
    s->WriteString("b", f);
    EXPECT_FALSE(s->ReadBool("b")) << f;
  }
  s->WriteBool("b", true);
  EXPECT_EQ(s->ReadString("b"), "1");
  s->WriteBool("b", false);
  EXPECT_EQ(s->ReadString("b"), "0");
  EXPECT_TRUE(s->ReadBoolDef("missing", true));
}

TEST_F(IniStorage, BinaryItems) {
  auto s = Open();
  const unsigned char three[] = {1, 2, 3};
  const unsigned char ff[] = {0xFF};
  s->WriteBinary("three", three, 3);
  s->WriteBinary("ff", ff, 1);
  s->WriteBinary("none", nullptr, 0);
  EXPECT_EQ(s->ReadString("three"), "BIwA");
  EXPECT_EQ(s->ReadString("ff"), "/D");
  EXPECT_EQ(s->ReadString("none"), "");
  EXPECT_EQ(s->BinarySize("none"), 0u);

  unsigned char big[8];
  std::memset(big, 0xAA, sizeof big);
  EXPECT_EQ(s->ReadBinary("three", big, sizeof big), 3u);
  EXPECT_EQ(std::vector<unsigned char>(big, big + 4), (std::vector<unsigned char>{1, 2, 3, 0xAA}));
  unsigned char small[2] = {0, 0};
  std::memset(big, 0xAA, sizeof big);
  EXPECT_EQ(s->ReadBinary("three", big, 2), 3u);
  EXPECT_EQ(std::vector<unsigned char>(big, big + 3), (std::vector<unsigned char>{1, 2, 0xAA}));
  EXPECT_EQ(s->ReadBinary("three", small, 0), 3u);

  for (const char* bad : {"BIwA=", "a-b", "BI wA"}) {
    s->WriteString("bad", bad);
    ExpectMessage([&] { s->BinarySize("bad"); }, "Некорректный двоичный формат элемента \"bad\" в разделе \"Client\"");
    ExpectMessage([&] { s->ReadBinary("bad", big, 8); },
                  "Некорректный двоичный формат элемента \"bad\" в разделе \"Client\"");
  }
}

TEST(BinaryText, EncodingRoundTripsAndPaddingIsOnlyForTheEncoder) {
  std::mt19937 rng(7);
  for (size_t n = 0; n < 40; ++n) {
    std::vector<unsigned char> data(n);
    for (auto& b : data) b = static_cast<unsigned char>(rng());
    const std::string text = vg::EncodeBinaryText(data.data(), n);
    EXPECT_EQ(text.size(), (4 * n + 2) / 3);
    EXPECT_TRUE(vg::IsBinaryText(text));
    ASSERT_EQ(vg::BinaryTextSize(text), n);
    std::vector<unsigned char> back(n + 1, 0x55);
    EXPECT_EQ(vg::DecodeBinaryText(text, back.data(), n), n);
    EXPECT_EQ(std::vector<unsigned char>(back.begin(), back.begin() + static_cast<long>(n)), data);
    EXPECT_EQ(back[n], 0x55);

    const std::string padded = vg::EncodeBinaryText(data.data(), n, true);
    EXPECT_EQ(padded.size() % 4, 0u);
    EXPECT_EQ(padded.substr(0, text.size()), text);
    EXPECT_EQ(vg::BinaryTextSize(padded), n);
    if (n % 3) {
      EXPECT_FALSE(vg::IsBinaryText(padded));
    }
  }
  // Least significant six bits first.
  const unsigned char one[] = {0x3F};
  EXPECT_EQ(vg::EncodeBinaryText(one, 1), "/A");
  const unsigned char two[] = {0x00, 0xFC};
  EXPECT_EQ(vg::EncodeBinaryText(two, 2), "AwP");  // 0xFC00: 0, 48, 15
}

TEST_F(IniStorage, MissingItemsAndReadOnlyWrites) {
  auto s = Open();
  ExpectMessage([&] { s->ReadString("Proxy host"); }, "Элемент \"Proxy host\" отсутствует в разделе \"Client\"");
  ExpectMessage([&] { s->ReadBool("x"); }, "Элемент \"x\" отсутствует в разделе \"Client\"");
  ExpectMessage([&] { s->BinarySize("x"); }, "Элемент \"x\" отсутствует в разделе \"Client\"");
  auto ro = Open(true);
  ExpectMessage([&] { ro->WriteString("a", "b"); },
                "Нельзя изменить элемент \"a\" в разделе \"Client\", открытом только для чтения");
  ExpectMessage([&] { ro->WriteBinary("a", "b", 1); },
                "Нельзя изменить элемент \"a\" в разделе \"Client\", открытом только для чтения");
  EXPECT_FALSE(vgtest::Exists(file));
}

TEST_F(IniStorage, FailedWritesReportTheSystemError) {
  auto s = vg::OpenIniStorage(dir.File("no/such/dir.cfg"), "Client", false, false);
  ExpectMessage([&] { s->WriteInteger("a", 1); }, "Не могу записать элемент \"a\" в разделе \"Client\". Ошибка 2.");
  ExpectMessage([&] { s->OpenSection("New", false, true); },
                "Не могу записать элемент \"@\" в разделе \"Client\\New\". Ошибка 2.");
  auto good = Open();
  ExpectMessage([&] { good->WriteString("bad=name", "v"); },
                "Не могу записать элемент \"bad=name\" в разделе \"Client\". Ошибка 22.");
}

TEST_F(IniStorage, LongValuesAndListsOutgrowTheFirstBuffer) {
  auto s = Open();
  const std::string longValue(20000, 'x');
  s->WriteString("long", longValue);
  EXPECT_EQ(s->ReadString("long"), longValue);
  // Exactly at the first buffer's edge.
  for (size_t n : {8190u, 8191u, 8192u}) {
    s->WriteString("edge", std::string(n, 'e'));
    EXPECT_EQ(s->ReadString("edge").size(), n);
  }
  std::string content = "[Client]\n";
  for (int i = 0; i < 1500; ++i) content += "item number " + std::to_string(i) + "=" + std::to_string(i) + "\n";
  for (int i = 0; i < 1500; ++i) content += "[Client\\section number " + std::to_string(i) + "]\n";
  vgtest::WriteFile(file, content);
  EXPECT_EQ(Items(*s).size(), 1500u);
  EXPECT_EQ(Items(*s).back(), "item number 1499");
  EXPECT_EQ(List(*s).size(), 1500u);
  EXPECT_EQ(s->ReadInteger("ITEM NUMBER 1499"), 1499);
}

TEST_F(IniStorage, CyrillicNamesAndValuesRoundTripAsWindows1251) {
  const std::string section = VGT("Сервер №1");
  const std::string name = VGT("Имя");
  const std::string value = VGT("Значение ЁЖ");
  {
    auto s = Open()->OpenSection(section, false, true);
    s->WriteString(name, value);
  }
  const std::string bytes = vgtest::ReadFile(file);
  EXPECT_NE(bytes.find("[Client\\" + section + "]"), std::string::npos);
  EXPECT_NE(bytes.find(name + "=" + value), std::string::npos);
  EXPECT_EQ(bytes.find("\xD0"), std::string::npos);  // no UTF-8 lead bytes of Cyrillic
  auto again = Open(true)->OpenSection(VGT("СЕРВЕР №1"), true, false);
  EXPECT_EQ(again->ReadString(VGT("иМЯ")), value);
}

TEST_F(IniStorage, TwoStoragesOnOneFileSeeEachOthersWrites) {
  auto a = Open()->OpenSection("TCP options", false, true);
  auto b = Open(true)->OpenSection("TCP options", true, false);
  a->WriteInteger("Self TCP port", 8080);
  EXPECT_EQ(b->ReadInteger("Self TCP port"), 8080);
  a->WriteInteger("Self TCP port", 3128);
  EXPECT_EQ(b->ReadInteger("Self TCP port"), 3128);
  a->DeleteItem("Self TCP port");
  EXPECT_FALSE(b->ItemExists("Self TCP port"));
}

TEST_F(IniStorage, CommentsAndOddLinesSurviveStorageEdits) {
  const std::string original =
      "; QS-Veilgate settings\r\n\r\n[Client\\TCP options]\r\n; port for the browser\r\nSelf TCP port=8080\r\n"
      "Proxy host=proxy;8080=x\r\n\r\n; logs\r\n[Client\\Log options]\r\nLog interval=60\r\n";
  vgtest::WriteFile(file, original);
  auto tcp = Open()->OpenSection("TCP options", false, false);
  EXPECT_EQ(tcp->ReadString("Proxy host"), "proxy;8080=x");
  tcp->WriteInteger("Self TCP port", 3128);
  tcp->WriteInteger("Self TCP port", 8080);
  tcp->WriteString("Extra", "1");
  tcp->DeleteItem("Extra");
  EXPECT_EQ(vgtest::ReadFile(file), original);
}

}  // namespace
