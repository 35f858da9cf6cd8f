#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>

#include "config/Cfg_Ini.h"
#include "config/Cfg_Rgry.h"
#include "support/ScratchDir.h"

using vg::EConfigException;
using vg::TItemKind;
using vg::TItemKinds;
using Names = std::vector<std::string>;
namespace reg = vg::platform::registry;

namespace {

template <class Body>
void ExpectConfigError(Body&& body, const std::string& message) {
  try {
    body();
    ADD_FAILURE() << "no exception, expected: " << message;
  } catch (const EConfigException& e) {
    EXPECT_EQ(e.Message(), message);
  }
}

class RegistryStorage : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("VG_REGISTRY_DIR", dir.File("registry").c_str(), 1); }
  void TearDown() override { ::unsetenv("VG_REGISTRY_DIR"); }

  std::unique_ptr<vg::TRegistryConfigStorage> Open(const std::string& path, bool readOnly, bool create) {
    return vg::OpenRegistryStorage(path, readOnly, create, reg::Root::kCurrentUser);
  }

  vgtest::ScratchDir dir;
  const std::string kClient = "Software\\NorvelSystems\\QS-Veilgate\\Client";
};

TEST_F(RegistryStorage, AKeyThatCannotBeOpenedActsAsAnEmptyKey) {
  for (bool readOnly : {true, false}) {
    auto s = Open(kClient, readOnly, false);
    EXPECT_FALSE(s->KeyOpened());
    Names list{"stale"};
    s->ListSections(list);
    EXPECT_TRUE(list.empty());
    s->ListItems(list);
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(s->ItemExists("x"));
    EXPECT_TRUE(s->ItemKinds("x").Empty());
    ExpectConfigError([&] { s->ReadInteger("x"); },
                      "Exception ERegistryError on read integer value \"x\": No key is open to read \"x\" from");
    ExpectConfigError([&] { s->WriteString("x", "v"); },
                      "Exception ERegistryError on write string value \"x\": No key is open to write \"x\" to");
    EXPECT_EQ(s->ReadIntegerDef("x", 7), 7);
    // Its subsections cannot be opened either.
    EXPECT_FALSE(static_cast<vg::TRegistryConfigStorage&>(*s->OpenSection("Sub", false, true)).KeyOpened());
  }
  EXPECT_FALSE(vgtest::Exists(dir.File("registry")));
}

TEST_F(RegistryStorage, ItemsMapToRegistryTypes) {
  auto s = Open(kClient, false, true);
  ASSERT_TRUE(s->KeyOpened());
  s->WriteString("Proxy host", VGT("прокси"));
  s->WriteInteger("Self TCP port", -8080);
  s->WriteBool("Proxy enable", true);
  const unsigned char hosts[] = {127, 0, 0, 1, 10, 0, 0, 1};
  s->WriteBinary("Allowed hosts", hosts, sizeof hosts);

  reg::Key key;
  ASSERT_EQ(reg::OpenKey(reg::Key::RootKey(reg::Root::kCurrentUser), kClient, reg::Access::kWrite, key), reg::kSuccess);
  ASSERT_EQ(reg::SetValue(key, "Expand", reg::kTypeExpandString, "%TEMP%"), reg::kSuccess);
  ASSERT_EQ(reg::SetValue(key, "Multi", 7, std::string("a\0\0", 3)), reg::kSuccess);
  uint32_t type = 0;
  std::string data;
  ASSERT_EQ(reg::QueryValue(key, "Proxy enable", type, data), reg::kSuccess);
  EXPECT_EQ(type, reg::kTypeDword);
  EXPECT_EQ(data, std::string("\x01\0\0\0", 4));

  auto ro = Open(kClient, true, false);
  EXPECT_EQ(ro->ReadString("PROXY HOST"), VGT("прокси"));
  EXPECT_EQ(ro->ReadString("Expand"), "%TEMP%");
  EXPECT_EQ(ro->ReadInteger("Self TCP port"), -8080);
  EXPECT_TRUE(ro->ReadBool("Proxy enable"));
  EXPECT_TRUE(ro->ReadBool("Self TCP port"));  // any non-zero integer
  EXPECT_EQ(ro->BinarySize("Allowed hosts"), 8u);
  unsigned char buf[4];
  EXPECT_EQ(ro->ReadBinary("Allowed hosts", buf, sizeof buf), 8u);
  EXPECT_EQ(std::memcmp(buf, hosts, 4), 0);
  EXPECT_EQ(ro->BinarySize("Multi"), 3u);  // other types read as binary data

  EXPECT_EQ(ro->ItemKinds("Proxy host").Bits(), TItemKinds({TItemKind::Str}).Bits());
  EXPECT_EQ(ro->ItemKinds("Expand").Bits(), TItemKinds({TItemKind::Str}).Bits());
  EXPECT_EQ(ro->ItemKinds("Self TCP port").Bits(), TItemKinds({TItemKind::Int, TItemKind::Bool}).Bits());
  EXPECT_EQ(ro->ItemKinds("Allowed hosts").Bits(), TItemKinds({TItemKind::Bin}).Bits());
  EXPECT_TRUE(ro->ItemKinds("Multi").Empty());
  EXPECT_TRUE(ro->ItemKinds("missing").Empty());

  Names items;
  ro->ListItems(items);
  EXPECT_EQ(items, (Names{"Proxy host", "Self TCP port", "Proxy enable", "Allowed hosts", "Expand", "Multi"}));
}

TEST_F(RegistryStorage, FailuresCarryTheOperationAndTheRegistrysReason) {
  Open(kClient, false, true)->WriteInteger("Num", 1);
  auto ro = Open(kClient, true, false);
  ExpectConfigError([&] { ro->ReadString("Num"); },
                    "Exception ERegistryError on read string value \"Num\": Value \"Num\" is not a string");
  ExpectConfigError([&] { ro->ReadBool("none"); },
                    "Exception ERegistryError on read boolean value \"none\": Value \"none\" does not exist");
  ExpectConfigError([&] { ro->BinarySize("Num"); },
                    "Exception ERegistryError on get data size \"Num\": Value \"Num\" is not binary data");
  unsigned char b[4];
  ExpectConfigError([&] { ro->ReadBinary("Num", b, 4); },
                    "Exception ERegistryError on read binary data \"Num\": Value \"Num\" is not binary data");
  ExpectConfigError([&] { ro->WriteInteger("Num", 2); },
                    "Exception ERegistryError on write integer value \"Num\": Cannot write value \"Num\": "
                    "Access is denied");
  ExpectConfigError([&] { ro->WriteBool("B", true); },
                    "Exception ERegistryError on write boolean value \"B\": Cannot write value \"B\": "
                    "Access is denied");
  ExpectConfigError([&] { ro->WriteBinary("B", b, 4); },
                    "Exception ERegistryError on write binary data \"B\": Cannot write value \"B\": "
                    "Access is denied");
  EXPECT_EQ(ro->ReadStringDef("Num", "def"), "def");
  EXPECT_EQ(ro->ReadIntegerDef("Num", 5), 1);
}

TEST_F(RegistryStorage, DeletionsAndTheirWrappedRefusals) {
  auto s = Open(kClient, false, true);
  s->OpenSection("Web servers\\s1\\Crypto engine", false, true)->WriteString("p", "1");
  s->WriteString("x", "1");
  Names list;
  s->ListSections(list);
  EXPECT_EQ(list, Names{"Web servers"});
  s->DeleteSection("WEB SERVERS", false);  // the whole tree goes, whatever the flag
  s->ListSections(list);
  EXPECT_TRUE(list.empty());
  ExpectConfigError([&] { s->DeleteSection("Web servers", true); },
                    "Exception EConfigException on delete key \"Web servers\": Error on delete key \"Web servers\"");
  s->DeleteItem("X");
  ExpectConfigError([&] { s->DeleteItem("x"); },
                    "Exception EConfigException on delete value \"x\": Error on delete value \"x\"");
  auto ro = Open(kClient, true, false);
  s->OpenSection("Log options", false, true);
  ExpectConfigError([&] { ro->DeleteSection("Log options", true); },
                    "Exception EConfigException on delete key \"Log options\": Error on delete key \"Log options\"");
}

TEST_F(RegistryStorage, UnreadableStoreFailsOpeningAndListing) {
  auto s = Open(kClient, false, true);
  const std::string file = dir.File("registry/HKEY_CURRENT_USER.txt");
  vgtest::WriteFile(file, "garbage\n");
  ExpectConfigError([&] { Open(kClient, true, false); },
                    "Exception ERegistryError on open subkey: Cannot open key \"" + kClient +
                        "\": The registry store file is corrupt");
  Names list;
  ExpectConfigError([&] { s->ListSections(list); },
                    "Exception ERegistryError on getting key list: Cannot list the subkeys of \"" + kClient +
                        "\": The registry store file is corrupt");
  ExpectConfigError([&] { s->ListItems(list); },
                    "Exception ERegistryError on getting values list: Cannot list the values of \"" + kClient +
                        "\": The registry store file is corrupt");
}

// Copies a tree the way the updater carries old settings into the settings file.
bool CopyTree(vg::TConfigStorage& from, vg::TConfigStorage& to) {
  Names items;
  from.ListItems(items);
  for (const std::string& name : items) {
    const TItemKinds kinds = from.ItemKinds(name);
    if (kinds.Has(TItemKind::Str)) {
      to.WriteString(name, from.ReadString(name));
    } else if (kinds.Has(TItemKind::Int)) {
      to.WriteInteger(name, from.ReadInteger(name));
    } else if (kinds.Has(TItemKind::Bool)) {
      to.WriteBool(name, from.ReadBool(name));
    } else {
      std::vector<unsigned char> buf(from.BinarySize(name));
      const size_t n = from.ReadBinary(name, buf.data(), buf.size());
      to.WriteBinary(name, buf.data(), n);
    }
  }
  Names sections;
  from.ListSections(sections);
  for (const std::string& name : sections) {
    auto src = from.OpenSection(name, true, false);
    auto dst = to.OpenSection(name, false, true);
    if (!CopyTree(*src, *dst)) return false;
  }
  return true;
}

TEST_F(RegistryStorage, OldSettingsCarryOverIntoAnIniFile) {
  {
    auto s = Open(kClient, false, true);
    auto tcp = s->OpenSection("TCP options", false, true);
    tcp->WriteInteger("Self TCP port", 8080);
    tcp->WriteString("Proxy host", "proxy");
    const unsigned char hosts[] = {127, 0, 0, 1};
    tcp->WriteBinary("Allowed hosts", hosts, 4);
    s->OpenSection("Web servers\\s1", false, true)->WriteString("Host", "h");
  }
  const std::string cfg = dir.File("veilgate.cfg");
  auto src = Open(kClient, true, false);
  auto dst = vg::OpenIniStorage(cfg, "Client", false, false);
  ASSERT_TRUE(CopyTree(*src, *dst));
  EXPECT_EQ(vgtest::ReadFile(cfg),
            "[Client\\TCP options]\r\nSelf TCP port=8080\r\nProxy host=proxy\r\nAllowed hosts=/BAABA\r\n\r\n"
            "[Client\\Web servers]\r\n\r\n[Client\\Web servers\\s1]\r\nHost=h\r\n");
}

}  // namespace
