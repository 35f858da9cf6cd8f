#include <gtest/gtest.h>

#include "TestSupport.h"
#include "config/Cfg_Ini.h"
#include "platform/ProgramInfo.h"
#include "protection/ProtSrvr.h"

namespace {

using settingstest::RemoveInstallKey;
using settingstest::SetInstallKey;
using vg::TProtectedServer;

const std::string kEngine = "Emulation/1.0";

vg::THttpEntry Entry(const std::string& text) {
  vg::THttpEntry e;
  e.Parse(text);
  return e;
}

class ServerFile : public ::testing::Test {
 protected:
  // The record's section in a file that holds only the given lines below its header.
  std::unique_ptr<vg::TConfigStorage> Record(const std::string& lines, bool readOnly = true) {
    vgtest::WriteFile(file, lines.empty() ? std::string() : "[Client\\Web servers\\s1]\n" + lines);
    return Open(readOnly);
  }
  std::unique_ptr<vg::TConfigStorage> Open(bool readOnly) {
    return vg::OpenIniStorage(file, "Client\\Web servers\\s1", readOnly, false);
  }
  std::string Text() const { return vgtest::ReadFile(file); }

  vgtest::ScratchDir dir;
  std::string file = dir.File("veilgate.cfg");
};

TEST(ProtectedServer, AddressListKeepsAtMostTwoEntries) {
  TProtectedServer s;
  s.SetAddressesText(";www.bank.example;;Bank.Example:8080;");
  ASSERT_EQ(s.AddressCount(), 2);
  EXPECT_EQ(s.Address(0).Host(), "www.bank.example");
  EXPECT_EQ(s.Address(1).Port(), 8080);
  EXPECT_EQ(s.AddressesText(), "www.bank.example;Bank.Example:8080");
  // Parts that name no host take no place, or they would be saved as nothing.
  s.SetAddressesText(std::string("\x1a;  ;:8080;b"));
  EXPECT_EQ(s.AddressesText(), "b");

  try {
    s.SetAddressesText("a;b:81;c");
    FAIL() << "a third address was taken";
  } catch (const vg::EServerAddressError& e) {
    EXPECT_EQ(e.Message(), VGT("Указано слишком много адресов - допускается только два"));
  }
  EXPECT_EQ(s.AddressesText(), "a;b:81");

  EXPECT_THROW(s.SetAddress(2, Entry("c")), vg::EServerAddressError);
  s.SetAddress(1, Entry("d:90"));
  EXPECT_EQ(s.AddressesText(), "a;d:90");
  s.ClearAddresses();
  EXPECT_EQ(s.AddressesText(), "");
  s.SetAddress(0, Entry("e"));
  EXPECT_EQ(s.AddressesText(), "e");
  EXPECT_THROW(s.SetAddress(2, Entry("f")), vg::Exception);
}

TEST(ProtectedServer, IndexOfAddressIgnoresCaseAndPrefersTheLastMatch) {
  TProtectedServer s;
  s.SetAddressesText("Host.Example;host.example");
  EXPECT_EQ(s.IndexOfAddress(Entry("HOST.EXAMPLE")), 1);
  EXPECT_EQ(s.IndexOfAddress(Entry("host.example:80")), 1);
  EXPECT_EQ(s.IndexOfAddress(Entry("host.example:8080")), -1);
  s.SetAddressesText("one;two:8080");
  EXPECT_EQ(s.IndexOfAddress(Entry("ONE")), 0);
  EXPECT_EQ(s.IndexOfAddress(Entry("two:8080")), 1);
  EXPECT_EQ(s.IndexOfAddress(Entry("two")), -1);
}

TEST(ProtectedServer, SwitchLocationAlternatesOnlyWhenAReserveExists) {
  TProtectedServer s;
  s.VeilgateLocation().Parse("gate:8443");
  EXPECT_EQ(s.ActiveLocation(), 1);
  EXPECT_FALSE(s.SwitchLocation());
  EXPECT_EQ(s.ActiveLocation(), 1);
  EXPECT_EQ(&s.CurrentLocation(), &s.VeilgateLocation());

  s.ReserveLocation().Parse("reserve:9443");
  EXPECT_TRUE(s.SwitchLocation());
  EXPECT_EQ(s.ActiveLocation(), 2);
  EXPECT_EQ(s.CurrentLocation().AsText(), "reserve:9443");
  EXPECT_TRUE(s.SwitchLocation());
  EXPECT_EQ(s.ActiveLocation(), 1);
  EXPECT_EQ(s.CurrentLocation().AsText(), "gate:8443");

  // On the reserve without a main gateway there is nowhere to go.
  EXPECT_TRUE(s.SwitchLocation());
  s.VeilgateLocation().Parse("");
  EXPECT_FALSE(s.SwitchLocation());
  EXPECT_EQ(s.ActiveLocation(), 2);
}

TEST(ProtectedServer, AssignMakesAnIndependentCopyOfEverything) {
  TProtectedServer a;
  a.SetAddressesText("www.example;alias:81");
  a.VeilgateLocation().Parse("gate:8443");
  a.ReserveLocation().Parse("reserve");
  a.SwitchLocation();
  a.SetCompressMode(2);
  a.SetKeyValueA(-7);
  a.SetKeyValueB(9);
  a.SetInclude(true);
  a.SetWithdraw(true);
  a.SetScanRootPath(VGT("/сертификаты"));
  a.CryptoParams().SetEngineType(kEngine);
  a.CryptoParams().AddParam(3, "secret");

  TProtectedServer b;
  b.SetAddressesText("old");
  b.Assign(a);
  EXPECT_EQ(b.AddressesText(), "www.example;alias:81");
  EXPECT_EQ(b.VeilgateLocation().AsText(), "gate:8443");
  EXPECT_EQ(b.ReserveLocation().AsText(), "reserve");
  EXPECT_EQ(b.ActiveLocation(), 2);
  EXPECT_EQ(b.CompressMode(), 2);
  EXPECT_EQ(b.KeyValueA(), -7);
  EXPECT_EQ(b.KeyValueB(), 9);
  EXPECT_TRUE(b.Include());
  EXPECT_TRUE(b.Withdraw());
  EXPECT_EQ(b.ScanRootPath(), VGT("/сертификаты"));
  EXPECT_EQ(b.CryptoParams().EngineType(), kEngine);
  ASSERT_EQ(b.CryptoParams().Count(), 1);
  EXPECT_EQ(b.CryptoParams().ParamIndex(0), 3);
  EXPECT_EQ(b.CryptoParams().ParamValue(0), "secret");

  b.SetAddress(0, Entry("changed"));
  b.VeilgateLocation().Parse("elsewhere");
  b.CryptoParams().AddParam(0, "x");
  EXPECT_EQ(a.AddressesText(), "www.example;alias:81");
  EXPECT_EQ(a.VeilgateLocation().AsText(), "gate:8443");
  EXPECT_EQ(a.CryptoParams().Count(), 1);
}

TEST_F(ServerFile, LoadReadsTheMainBlockAndTheEngineParameters) {
  TProtectedServer s;
  ASSERT_TRUE(s.LoadFromConfig(*Record("web server host=www.bank.example\nweb server address=10.0.0.5:8080\n"
                                       "veilgate location=gate.example:8443\nreserve location=reserve.example\n"
                                       "crypto engine=Emulation/1.0\ncompress mode=2\nInclude=1\nWithdraw=1\n"
                                       "Scan root path=/var/certs\n[Client\\Web servers\\s1\\Crypto engine]\n"
                                       "Password=pw\nuid=ignored\nUID=user-1\nNoSuchParameter=x\n")))
      << testing::PrintToString(s.LastErrors());
  EXPECT_EQ(s.AddressesText(), "www.bank.example;10.0.0.5:8080");
  EXPECT_EQ(s.VeilgateLocation().AsText(), "gate.example:8443");
  EXPECT_EQ(s.ReserveLocation().AsText(), "reserve.example");
  EXPECT_EQ(s.CryptoParams().EngineType(), kEngine);
  EXPECT_EQ(s.CompressMode(), 2);
  EXPECT_TRUE(s.Include());
  EXPECT_TRUE(s.Withdraw());
  EXPECT_EQ(s.ScanRootPath(), "/var/certs");
  EXPECT_EQ(s.ActiveLocation(), 1);
  // In the storage's order, matched by exact name; the first spelling of a key is the one
  // the file keeps, so "uid" never reaches the engine's "UID".
  ASSERT_EQ(s.CryptoParams().Count(), 1);
  EXPECT_EQ(s.CryptoParams().ParamIndex(0), 3);
  EXPECT_EQ(s.CryptoParams().ParamValue(0), "pw");
}

TEST_F(ServerFile, LoadMatchesParameterNamesWithLetterCase) {
  TProtectedServer s;
  ASSERT_TRUE(s.LoadFromConfig(*Record("web server host=h\nveilgate location=g\ncrypto engine=Emulation/1.0\n"
                                       "[Client\\Web servers\\s1\\Crypto engine]\nSubscribers=a\nuid=u\n"
                                       "UID=never read\nPartner=p\n")));
  ASSERT_EQ(s.CryptoParams().Count(), 2);
  EXPECT_EQ(s.CryptoParams().ParamIndex(0), 5);
  EXPECT_EQ(s.CryptoParams().ParamIndex(1), 1);
  EXPECT_EQ(s.CryptoParams().ParamValue(1), "p");
}

TEST_F(ServerFile, LoadOptionalItemsAndCompressModes) {
  const std::string base = "web server host=h\nveilgate location=g\ncrypto engine=Emulation/1.0\n";
  const std::pair<std::string, int> modes[] = {
      {"compress mode=7\n", 1}, {"", 1}, {"compress mode=0\n", 0}, {"compress mode=2\n", 2}, {"compress mode=x\n", 1},
      {"compress mode=-2\n", 1}};
  for (const auto& [line, mode] : modes) {
    TProtectedServer s;
    EXPECT_TRUE(s.LoadFromConfig(*Record(base + line))) << line;
    EXPECT_EQ(s.CompressMode(), mode) << line;
    EXPECT_EQ(s.AddressCount(), 1);
    EXPECT_EQ(s.ReserveLocation().Host(), "");
    EXPECT_FALSE(s.Include());
    EXPECT_FALSE(s.Withdraw());
    EXPECT_EQ(s.ScanRootPath(), "");
    EXPECT_EQ(s.CryptoParams().Count(), 0);
  }

  // An empty host with an address leaves the address as the only entry.
  TProtectedServer s;
  EXPECT_TRUE(s.LoadFromConfig(*Record("web server host=\nweb server address=alias:81\n"
                                       "veilgate location=g\ncrypto engine=E\n")));
  EXPECT_EQ(s.AddressesText(), "alias:81");
}

TEST_F(ServerFile, LoadStopsTheMainBlockAtTheFirstFailure) {
  {
    TProtectedServer s;
    EXPECT_FALSE(s.LoadFromConfig(*Record("web server host=a;b:81;c\nveilgate location=g\ncrypto engine=E\n")));
    EXPECT_EQ(s.AddressesText(), "a;b:81");
    EXPECT_EQ(s.VeilgateLocation().Host(), "");
    ASSERT_EQ(s.LastErrors().size(), 1u);
    EXPECT_EQ(s.LastErrors()[0], VGT("Указано слишком много адресов - допускается только два"));
  }
  {
    // No host: nothing after it is read, but the parameters still are.
    TProtectedServer s;
    s.CryptoParams().SetEngineType(kEngine);
    EXPECT_FALSE(s.LoadFromConfig(*Record("veilgate location=g\ncrypto engine=Other\ncompress mode=0\n"
                                          "[Client\\Web servers\\s1\\Crypto engine]\nUID=u\n")));
    EXPECT_EQ(s.VeilgateLocation().Host(), "");
    EXPECT_EQ(s.CryptoParams().EngineType(), kEngine);
    EXPECT_EQ(s.CompressMode(), 0);
    ASSERT_EQ(s.CryptoParams().Count(), 1);
    EXPECT_EQ(s.CryptoParams().ParamValue(0), "u");
    ASSERT_EQ(s.LastErrors().size(), 1u);
    EXPECT_EQ(s.LastErrors()[0],
              VGT("Элемент \"web server host\" отсутствует в разделе \"Client\\Web servers\\s1\""));
  }
  {
    TProtectedServer s;
    EXPECT_FALSE(s.LoadFromConfig(*Record("web server host=h\nveilgate location=g\n")));
    EXPECT_EQ(s.VeilgateLocation().Host(), "g");
    EXPECT_EQ(s.CompressMode(), 0);
  }
}

TEST_F(ServerFile, LoadWithAnUnknownEngineIgnoresEveryValue) {
  TProtectedServer s;
  EXPECT_TRUE(s.LoadFromConfig(*Record("web server host=h\nveilgate location=g\ncrypto engine=No such engine\n"
                                       "[Client\\Web servers\\s1\\Crypto engine]\nUID=u\n")));
  EXPECT_EQ(s.CryptoParams().Count(), 0);
}

TEST_F(ServerFile, SaveWritesTheKeysInOrderAndOnlyTheCurrentParameters) {
  TProtectedServer s;
  s.SetAddressesText("www.bank.example;10.0.0.5:8080");
  s.VeilgateLocation().Parse("gate:8443");
  s.ReserveLocation().Parse("reserve");
  s.CryptoParams().SetEngineType(kEngine);
  s.CryptoParams().AddParam(3, "pw");
  s.CryptoParams().AddParam(0, "user-1");
  s.SetCompressMode(2);
  s.SetScanRootPath("/var/certs");
  Record("Stale item=stays\n[Client\\Web servers\\s1\\Crypto engine]\nSubscribers=old\nUID=old\nuid=older\n");
  EXPECT_TRUE(s.SaveToConfig(*Open(false))) << testing::PrintToString(s.LastErrors());
  EXPECT_EQ(Text(),
            "[Client\\Web servers\\s1]\nStale item=stays\nweb server host=www.bank.example\n"
            "web server address=10.0.0.5:8080\nveilgate location=gate:8443\nreserve location=reserve\n"
            "crypto engine=Emulation/1.0\ncompress mode=2\nInclude=0\nWithdraw=0\nScan root path=/var/certs\n"
            "[Client\\Web servers\\s1\\Crypto engine]\nPassword=pw\nUID=user-1\n");

  TProtectedServer back;
  ASSERT_TRUE(back.LoadFromConfig(*Open(true)));
  EXPECT_EQ(back.AddressesText(), s.AddressesText());
  EXPECT_EQ(back.ReserveLocation().AsText(), "reserve");
  ASSERT_EQ(back.CryptoParams().Count(), 2);
  EXPECT_EQ(back.CryptoParams().ParamIndex(0), 3);
  EXPECT_EQ(back.CryptoParams().ParamIndex(1), 0);
}

TEST_F(ServerFile, SaveLeavesOutAbsentAddressesAndReserveButKeepsTheRecordReadable) {
  TProtectedServer s;
  s.VeilgateLocation().Parse("gate");
  s.CryptoParams().SetEngineType(kEngine);
  EXPECT_TRUE(s.SaveToConfig(*Record("", false)));
  EXPECT_EQ(Text(),
            "[Client\\Web servers\\s1]\r\nweb server host=\r\nveilgate location=gate\r\n"
            "crypto engine=Emulation/1.0\r\ncompress mode=0\r\nInclude=0\r\nWithdraw=0\r\nScan root path=\r\n\r\n"
            "[Client\\Web servers\\s1\\Crypto engine]\r\n");

  // Without the required host item the record would be dropped at the next load.
  TProtectedServer back;
  EXPECT_TRUE(back.LoadFromConfig(*Open(true))) << testing::PrintToString(back.LastErrors());
  EXPECT_EQ(back.AddressCount(), 0);
  EXPECT_EQ(back.VeilgateLocation().AsText(), "gate");
}

TEST_F(ServerFile, SaveSkipsAParameterTheEngineDoesNotKnow) {
  TProtectedServer s;
  s.SetAddressesText("h");
  s.CryptoParams().SetEngineType(kEngine);
  s.CryptoParams().AddParam(40, "lost");
  s.CryptoParams().AddParam(1, "partner");
  EXPECT_TRUE(s.SaveToConfig(*Record("", false)));
  EXPECT_NE(Text().find("[Client\\Web servers\\s1\\Crypto engine]\r\nPartner=partner\r\n"), std::string::npos) << Text();
  EXPECT_EQ(Text().find("lost"), std::string::npos);
  ASSERT_EQ(s.LastErrors().size(), 1u);
  EXPECT_NE(s.LastErrors()[0].find("41"), std::string::npos);
}

TEST_F(ServerFile, FailuresOfTheStorageBecomeAFalseResult) {
  TProtectedServer s;
  s.SetAddressesText("h");
  s.CryptoParams().SetEngineType(kEngine);
  s.CryptoParams().AddParam(0, "u");
  const std::string before = "[Client\\Web servers\\s1]\nweb server host=old\n";
  vgtest::WriteFile(file, before);
  EXPECT_FALSE(s.SaveToConfig(*Open(true)));
  EXPECT_FALSE(s.LastErrors().empty());
  EXPECT_EQ(Text(), before);

  // A record whose section is missing has none of its required items.
  TProtectedServer t;
  EXPECT_FALSE(t.LoadFromConfig(*vg::OpenIniStorage(file, "Client\\Web servers\\missing", true, false)));
}

TEST(CryptoRootPath, ParentOfTheProgramDirectoryWithoutTheInstallKey) {
  RemoveInstallKey();
  EXPECT_EQ(TProtectedServer::CryptoRootPath(), std::string(VG_TEST_BUILD_DIR) + "/");
  EXPECT_EQ(TProtectedServer::CryptoRootPath(), vg::ParentOfProgramDir(vg::platform::ProgramDir()));

  EXPECT_EQ(vg::ParentOfProgramDir("/opt/vg/bin/"), "/opt/vg/");
  EXPECT_EQ(vg::ParentOfProgramDir("/opt/vg/bin"), "/opt/vg/");
  EXPECT_EQ(vg::ParentOfProgramDir("/bin/"), "/");
  EXPECT_EQ(vg::ParentOfProgramDir("bin"), "/");
}

TEST(CryptoRootPath, InstallPathFromTheRegistryWithATrailingSeparator) {
  SetInstallKey("/opt/norvel");
  EXPECT_EQ(TProtectedServer::CryptoRootPath(), "/opt/norvel/");
  SetInstallKey("/opt/norvel/");
  EXPECT_EQ(TProtectedServer::CryptoRootPath(), "/opt/norvel/");
  RemoveInstallKey();
  SetInstallKey(nullptr);
  EXPECT_EQ(TProtectedServer::CryptoRootPath(), "/");
  RemoveInstallKey();
}

}  // namespace
