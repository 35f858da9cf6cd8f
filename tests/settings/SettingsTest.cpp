#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "TestSupport.h"
#include "config/Cfg_Ini.h"
#include "config/fLogMngr.h"
#include "platform/ProgramInfo.h"
#include "settings/Cfg_Clnt.h"

namespace {

using settingstest::SettingsWith;
using settingstest::TemplateText;
using settingstest::TemplateWithout;
using vg::TQSClientConfig;

uint32_t Ip(const char* dotted) { return vg::ParseDottedAddress(dotted); }

std::string HostsText(std::initializer_list<uint32_t> hosts) {
  std::vector<uint32_t> list(hosts);
  return vg::EncodeBinaryText(list.data(), list.size() * 4);
}

std::string ServerLines(const std::string& name, const std::string& host, const std::string& engine = "E") {
  return "[Client\\Web servers\\" + name + "]\nweb server host=" + host + "\nveilgate location=gate." + name +
         "\ncrypto engine=" + engine + "\n";
}

class SettingsFile : public ::testing::Test {
 protected:
  // Loads the text as the settings file.
  bool Load(const std::string& text) {
    vgtest::WriteFile(file, text);
    return config.Load();
  }
  // The message of the exception Load raises for the text.
  std::string LoadError(const std::string& text) {
    try {
      Load(text);
    } catch (const vg::EConfigException& e) {
      return e.Message();
    }
    return "no error";
  }
  std::string Text() const { return vgtest::ReadFile(file); }

  vgtest::ScratchDir dir;
  std::string file = dir.File("veilgate.cfg");
  TQSClientConfig config{file};
};

TEST(Settings, PreLoadValues) {
  TQSClientConfig c("unused.cfg");
  EXPECT_EQ(c.Sections(), (std::vector<std::string>{"Log options", "TCP options", "Web servers"}));
  EXPECT_EQ(c.LogOptionsSection(), 0);
  EXPECT_EQ(c.TcpOptionsSection(), 1);
  EXPECT_EQ(c.WebServersSection(), 2);
  EXPECT_EQ(c.LogInterval(), 60);
  EXPECT_EQ(c.LogFlags(), 0xFFFFFFu);
  EXPECT_EQ(c.MaxHttpDataLength(), 2097152);
  EXPECT_EQ(c.ClientAccessType(), 0);
  EXPECT_EQ(c.SelfTcpPort(), 0);
  EXPECT_EQ(c.ServerCount(), 0);
  EXPECT_EQ(TQSClientConfig().FileName(), vg::platform::ProgramDir() + "veilgate.cfg");
}

TEST_F(SettingsFile, TheDefaultFileLoadsAndSavesUnchanged) {
  ASSERT_TRUE(Load(TemplateText()));
  EXPECT_FALSE(config.ErrorTraceMode());
  EXPECT_EQ(config.LogDirectory(), "logs");
  EXPECT_EQ(config.LogDirectoryPath(), dir.Path() + "/logs");
  EXPECT_EQ(config.LogInterval(), 60);
  EXPECT_EQ(config.LogFlags(), 0xFFFFFFu);
  EXPECT_EQ(config.MaxHttpDataLength(), 2097152);
  EXPECT_FALSE(config.ProxyORPC());
  EXPECT_EQ(config.SelfTcpPort(), 1030);
  EXPECT_FALSE(config.ProxyEnabled());
  EXPECT_TRUE(config.BypassProxyForLocal());
  EXPECT_EQ(config.ProxyHost(), "");
  EXPECT_EQ(config.ClientAccessType(), TQSClientConfig::kAccessLocal);
  EXPECT_TRUE(config.AllowedHosts().empty());
  EXPECT_EQ(config.ServerCount(), 0);
  EXPECT_TRUE(config.Save());
  EXPECT_EQ(Text(), TemplateText());
}

TEST_F(SettingsFile, EveryItemIsReadAndWritten) {
  const std::string text =
      "[Client\\Log options]\nError trace mode=1\nLog-file name=/var/log/vg\nLog interval=7\nLog flags=65797\n"
      "[Client\\TCP options]\nMax HTTP data length=4096\nProxy ORPC=1\nSelf TCP port=8080\nProxy enable=1\n"
      "Bypass proxy for local addresses=0\nProxy host=" + VGT("прокси.example") + "\nProxy port=3128\n"
      "Client acces type=2\nAllowed hosts=" + HostsText({Ip("10.0.0.1"), Ip("192.168.1.20")}) + "\n"
      "[Client\\Web servers]\n";
  ASSERT_TRUE(Load(text));
  EXPECT_TRUE(config.ErrorTraceMode());
  EXPECT_EQ(config.LogDirectoryPath(), "/var/log/vg");
  EXPECT_EQ(config.LogInterval(), 7);
  EXPECT_EQ(config.LogFlags(), 0x10105u);
  EXPECT_TRUE(config.LogFlagsHave(vg::logflags::kService));
  EXPECT_TRUE(config.LogFlagsHave(vg::logflags::kRequest));
  EXPECT_FALSE(config.LogFlagsHave(vg::logflags::kAnswer));
  EXPECT_EQ(config.MaxHttpDataLength(), 4096);
  EXPECT_TRUE(config.ProxyORPC());
  EXPECT_EQ(config.SelfTcpPort(), 8080);
  EXPECT_TRUE(config.ProxyEnabled());
  EXPECT_FALSE(config.BypassProxyForLocal());
  EXPECT_EQ(config.ProxyHost(), VGT("прокси.example"));
  EXPECT_EQ(config.ProxyPort(), 3128);
  EXPECT_EQ(config.ClientAccessType(), TQSClientConfig::kAccessListed);
  EXPECT_EQ(config.AllowedHosts(), (std::vector<uint32_t>{Ip("10.0.0.1"), Ip("192.168.1.20")}));

  // Saving what was loaded writes the same items in their order.
  ASSERT_TRUE(config.Save());
  EXPECT_EQ(Text(), text);
}

TEST_F(SettingsFile, OldNameOfErrorTraceModeIsTheDefault) {
  const std::string log = "[Client\\Log options]\nLog-file name=l\nLog interval=1\nLog flags=4\n";
  const std::string tcp = "[Client\\TCP options]\nSelf TCP port=1\nProxy enable=0\n"
                          "Bypass proxy for local addresses=0\nProxy host=\nProxy port=0\n[Client\\Web servers]\n";
  ASSERT_TRUE(Load(log + "Error trace regim=1\n" + tcp));
  EXPECT_TRUE(config.ErrorTraceMode());
  ASSERT_TRUE(config.Save());
  vg::TIniConfigStorage logSection(file, "Client\\Log options", true, false);
  EXPECT_EQ(logSection.ReadString("Error trace mode"), "1");
  EXPECT_EQ(logSection.ReadString("Error trace regim"), "1");

  ASSERT_TRUE(Load(log + "Error trace regim=1\nError trace mode=0\n" + tcp));
  EXPECT_FALSE(config.ErrorTraceMode());
  ASSERT_TRUE(Load(log + tcp));
  EXPECT_FALSE(config.ErrorTraceMode());
}

TEST_F(SettingsFile, MissingOrMalformedRequiredItemsStopTheLoad) {
  EXPECT_EQ(LoadError(TemplateWithout("Self TCP port")),
            VGT("Элемент \"Self TCP port\" отсутствует в разделе \"Client\\TCP options\""));
  EXPECT_EQ(LoadError(TemplateWithout("Log-file name")),
            VGT("Элемент \"Log-file name\" отсутствует в разделе \"Client\\Log options\""));
  EXPECT_EQ(LoadError(TemplateWithout("Proxy enable")),
            VGT("Элемент \"Proxy enable\" отсутствует в разделе \"Client\\TCP options\""));
  std::string text = TemplateText();
  text.replace(text.find("Log interval=60"), 15, "Log interval=6O");
  EXPECT_EQ(LoadError(text), VGT("Элемент \"Log interval\" в разделе \"Client\\Log options\" не является целым числом"));

  // Items with a default never fail.
  for (const char* item : {"Error trace mode", "Max HTTP data length", "Proxy ORPC", "Client acces type", "Allowed hosts"})
    EXPECT_TRUE(Load(TemplateWithout(item))) << item;

  vg::platform::RemoveFile(file);
  EXPECT_EQ(LoadError(""), VGT("Раздел \"Client\\Log options\" не существует"));
  text = TemplateText();
  text.erase(text.find("[Client\\Web servers]"));
  EXPECT_EQ(LoadError(text), VGT("Раздел \"Client\\Web servers\" не существует"));
}

TEST_F(SettingsFile, AccessTypeIsTheLowByteCappedAtTwo) {
  const std::string hosts = "Allowed hosts=" + HostsText({Ip("10.1.2.3")}) + "\n";
  const std::pair<std::string, int> cases[] = {{"0", 0}, {"1", 1}, {"2", 2}, {"3", 1}, {"259", 1}, {"258", 2},
                                               {"256", 0}, {"-1", 1}, {"abc", 1}};
  for (const auto& [value, expected] : cases) {
    std::string text = TemplateWithout("Allowed hosts");
    text.replace(text.find("Client acces type=1"), 19, "Client acces type=" + value + "\n" + hosts);
    ASSERT_TRUE(Load(text)) << value;
    EXPECT_EQ(config.ClientAccessType(), expected) << value;
  }
}

TEST_F(SettingsFile, AllowedHostsRules) {
  auto loadHosts = [&](const std::string& access, const std::string& hostsLine) {
    std::string text = TemplateWithout("Allowed hosts");
    text.replace(text.find("Client acces type=1"), 19, "Client acces type=" + access + "\n" + hostsLine);
    return Load(text);
  };
  const uint32_t a = Ip("10.0.0.1"), b = Ip("127.0.0.1");

  ASSERT_TRUE(loadHosts("2", "Allowed hosts=" + HostsText({a, vg::TQSClientConfig::kNoHost, b, a, b}) + "\n"));
  EXPECT_EQ(config.AllowedHosts(), (std::vector<uint32_t>{a, b}));
  EXPECT_EQ(config.ClientAccessType(), 2);

  // An empty list leaves no reason for the listed-hosts rule.
  for (const std::string& line : {std::string(), std::string("Allowed hosts=/////D\n"), std::string("Allowed hosts=\n"),
                                  "Allowed hosts=" + vg::EncodeBinaryText("\x0a\x00\x00\x01\x02", 5) + "\n"}) {
    ASSERT_TRUE(loadHosts("2", line)) << line;
    EXPECT_TRUE(config.AllowedHosts().empty()) << line;
    EXPECT_EQ(config.ClientAccessType(), 1) << line;
  }

  EXPECT_THROW(loadHosts("2", "Allowed hosts=not*binary\n"), vg::EConfigException);
}

TEST_F(SettingsFile, AllowedHostsAreSavedBackToBackOrAsTheEmptyForm) {
  ASSERT_TRUE(Load(TemplateText()));
  config.SetAllowedHosts({Ip("10.0.0.1"), Ip("1.2.3.4")});
  config.SetClientAccessType(TQSClientConfig::kAccessListed);
  ASSERT_TRUE(config.Save());
  vg::TIniConfigStorage tcp(file, "Client\\TCP options", true, false);
  EXPECT_EQ(tcp.ReadString("Allowed hosts"), HostsText({Ip("10.0.0.1"), Ip("1.2.3.4")}));
  EXPECT_EQ(tcp.ReadInteger("Client acces type"), 2);

  config.SetAllowedHosts({});
  ASSERT_TRUE(config.Save());
  EXPECT_EQ(tcp.ReadString("Allowed hosts"), "/////D");
  unsigned char bytes[8] = {};
  EXPECT_EQ(tcp.ReadBinary("Allowed hosts", bytes, sizeof bytes), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "\xFF\xFF\xFF\xFF");
}

TEST_F(SettingsFile, BrokenServerRecordsAreDroppedAndNamed) {
  const std::string text = SettingsWith(ServerLines("s1", "one.example") +
                                        "[Client\\Web servers\\s2]\nveilgate location=g\ncrypto engine=E\n" +
                                        ServerLines("alpha", "two.example") + ServerLines("s4", "a;b;c"));
  EXPECT_FALSE(Load(text));
  ASSERT_EQ(config.ServerCount(), 2);
  EXPECT_EQ(config.GetServer(0)->AddressesText(), "one.example");
  EXPECT_EQ(config.GetServer(1)->AddressesText(), "two.example");
  ASSERT_EQ(config.Notes().size(), 2u);
  EXPECT_EQ(config.Notes()[0].Section, "s2");
  EXPECT_EQ(config.Notes()[0].Text,
            VGT("Элемент \"web server host\" отсутствует в разделе \"Client\\Web servers\\s2\""));
  EXPECT_EQ(config.Notes()[1].Section, "s4");
  EXPECT_EQ(config.Notes()[1].Text, VGT("Указано слишком много адресов - допускается только два"));

  // A clean load forgets the notes of the one before.
  vg::TQSClientConfig other(file);
  vgtest::WriteFile(file, SettingsWith(ServerLines("s1", "x")));
  EXPECT_TRUE(other.Load());
  EXPECT_TRUE(other.Notes().empty());
}

TEST_F(SettingsFile, SaveRenumbersTheRecordsAndDropsStaleSubsections) {
  ASSERT_TRUE(Load(SettingsWith(ServerLines("alpha", "one") + ServerLines("s9", "two") + ServerLines("b", "three") +
                                "[Client\\Web servers\\b\\Crypto engine]\nUID=x\n")));
  ASSERT_EQ(config.ServerCount(), 3);
  ASSERT_TRUE(config.Save());
  auto web = vg::OpenIniStorage(file, "Client\\Web servers", true, false);
  std::vector<std::string> names;
  web->ListSections(names);
  EXPECT_EQ(names, (std::vector<std::string>{"s1", "s2", "s3"}));
  EXPECT_EQ(web->OpenSection("s3", true, false)->ReadString("web server host"), "three");
  EXPECT_EQ(Text().find("[Client\\Web servers\\alpha]"), std::string::npos);

  while (config.ServerCount() > 0) config.DeleteServer(config.GetServer(0));
  ASSERT_TRUE(config.Save());
  web->ListSections(names);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(Text().find("Crypto engine"), std::string::npos);
  EXPECT_NE(Text().find("[Client\\Web servers]"), std::string::npos);
}

TEST_F(SettingsFile, SaveReplacesTheFileOnceAndKeepsWhatItDoesNotOwn) {
  ASSERT_TRUE(Load("; kept comment\n[Other program]\nx=1\n" + TemplateText()));
  struct stat before {};
  ASSERT_EQ(::stat(file.c_str(), &before), 0);
  ASSERT_TRUE(config.Save());
  struct stat after {};
  ASSERT_EQ(::stat(file.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "an unchanged file was rewritten";

  config.SetSelfTcpPort(4040);
  auto server = std::make_unique<vg::TProtectedServer>();
  server->SetAddressesText("one");
  config.AddServer(std::move(server));
  ASSERT_TRUE(config.Save());
  EXPECT_EQ(Text().rfind("; kept comment\n[Other program]\nx=1\n", 0), 0u) << Text();
  vg::TQSClientConfig back(file);
  ASSERT_TRUE(back.Load());
  EXPECT_EQ(back.SelfTcpPort(), 4040);
  EXPECT_EQ(back.ServerCount(), 1);

  // A file that is not there yet is made.
  vg::TQSClientConfig fresh(dir.File("new.cfg"));
  fresh.SetLogDirectory("logs");
  ASSERT_TRUE(fresh.Save());
  vg::TQSClientConfig reread(dir.File("new.cfg"));
  ASSERT_TRUE(reread.Load());
  EXPECT_EQ(reread.LogDirectory(), "logs");
  EXPECT_EQ(reread.LogInterval(), 60);
}

TEST_F(SettingsFile, ServerLookup) {
  ASSERT_TRUE(Load(SettingsWith(ServerLines("s1", "www.Bank.example", "Emulation/1.0") +
                                ServerLines("s2", "www.bank.example;alias:8080", "Emulation/2.0") +
                                ServerLines("s3", "other.example:81", "Emulation/1.0"))));
  vg::TProtectedServer* first = config.GetServer(0);
  vg::TProtectedServer* second = config.GetServer(1);
  EXPECT_EQ(config.FindServerByAddress("WWW.BANK.EXAMPLE"), first);
  EXPECT_EQ(config.FindServerByAddress("www.bank.example:80", "Emulation/2.0"), second);
  EXPECT_EQ(config.FindServerByAddress("www.bank.example", "emulation/2.0"), nullptr);
  EXPECT_EQ(config.FindServerByAddress("alias:8080"), second);
  EXPECT_EQ(config.FindServerByAddress("alias"), nullptr);
  EXPECT_EQ(config.FindServerByAddress("other.example"), nullptr);
  EXPECT_EQ(config.FindServerByAddress("other.example:81"), config.GetServer(2));

  config.DeleteServer(first);
  EXPECT_EQ(config.FindServerByAddress("www.bank.example"), second);
  EXPECT_THROW(config.GetServer(2), vg::Exception);
}

TEST_F(SettingsFile, KeyStateTravelsBetweenCopiesAndTheConfiguredRecord) {
  ASSERT_TRUE(Load(SettingsWith(ServerLines("s1", "bank;alias", "Emulation/1.0"))));
  vg::TProtectedServer copy;
  copy.Assign(*config.GetServer(0));
  copy.SetKeyValueA(11);
  copy.SetKeyValueB(-12);
  config.StoreServerKeyState(copy);
  EXPECT_EQ(config.GetServer(0)->KeyValueA(), 11);
  EXPECT_EQ(config.GetServer(0)->KeyValueB(), -12);

  vg::TProtectedServer later;
  later.SetAddressesText("BANK");
  later.CryptoParams().SetEngineType("Emulation/1.0");
  config.LoadServerKeyState(later);
  EXPECT_EQ(later.KeyValueA(), 11);
  EXPECT_EQ(later.KeyValueB(), -12);

  // Another engine, or no address at all, finds no configured record.
  vg::TProtectedServer stranger;
  stranger.SetAddressesText("bank");
  stranger.CryptoParams().SetEngineType("Emulation/2.0");
  stranger.SetKeyValueA(99);
  config.StoreServerKeyState(stranger);
  config.LoadServerKeyState(stranger);
  EXPECT_EQ(stranger.KeyValueA(), 99);
  EXPECT_EQ(config.GetServer(0)->KeyValueA(), 11);
  vg::TProtectedServer empty;
  config.StoreServerKeyState(empty);
  EXPECT_EQ(config.GetServer(0)->KeyValueA(), 11);
}

TEST_F(SettingsFile, KeyStateWaitsForTheSettingsLock) {
  ASSERT_TRUE(Load(SettingsWith(ServerLines("s1", "bank"))));
  vg::TProtectedServer copy;
  copy.Assign(*config.GetServer(0));
  copy.SetKeyValueA(5);
  std::atomic<bool> stored{false};
  config.Lock();
  std::thread other([&] {
    config.StoreServerKeyState(copy);
    stored = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(stored);
  EXPECT_EQ(config.GetServer(0)->KeyValueA(), 0);
  config.Unlock();
  other.join();
  EXPECT_EQ(config.GetServer(0)->KeyValueA(), 5);
}

class TOtherConfig : public vg::TConfig {
 public:
  bool LoadSection(int, vg::TConfigStorage&) override { return true; }
  bool SaveSection(int, vg::TConfigStorage&) override { return true; }
  std::unique_ptr<vg::TConfig> CreateEmpty() const override { return std::make_unique<TOtherConfig>(); }
  void Assign(const vg::TConfig&) override {}
};

class TServerSideConfig : public vg::TQSConfig {
 public:
  std::unique_ptr<vg::TConfig> CreateEmpty() const override { return std::make_unique<TServerSideConfig>(); }
  std::unique_ptr<vg::TConfigStorage> CreateStorage(bool readOnly) override {
    return vg::OpenIniStorage("unused.cfg", "Server", readOnly, false);
  }
};

std::string AssignError(vg::TQSConfig& target, const vg::TConfig* source) {
  try {
    target.Assign(source);
  } catch (const vg::EConfigException& e) {
    return e.Message();
  }
  return "no error";
}

TEST_F(SettingsFile, AssignCopiesEverySettingAndRefusesOtherClasses) {
  ASSERT_TRUE(Load(SettingsWith(ServerLines("s1", "one") + ServerLines("s2", "two"))));
  config.SetAllowedHosts({Ip("10.0.0.1")});
  config.SetClientAccessType(2);
  config.SetProxyHost("proxy");
  config.SetLogFlags(4);
  config.GetServer(1)->SetKeyValueA(3);

  std::unique_ptr<vg::TConfig> clone = config.Clone();
  auto* copy = dynamic_cast<TQSClientConfig*>(clone.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->FileName(), file);
  EXPECT_EQ(copy->SelfTcpPort(), 1030);
  EXPECT_EQ(copy->ProxyHost(), "proxy");
  EXPECT_EQ(copy->LogFlags(), 4u);
  EXPECT_EQ(copy->LogDirectory(), "logs");
  EXPECT_EQ(copy->ClientAccessType(), 2);
  EXPECT_EQ(copy->AllowedHosts(), config.AllowedHosts());
  ASSERT_EQ(copy->ServerCount(), 2);
  EXPECT_NE(copy->GetServer(1), config.GetServer(1));
  EXPECT_EQ(copy->GetServer(1)->AddressesText(), "two");
  EXPECT_EQ(copy->GetServer(1)->KeyValueA(), 3);

  // Assigning back replaces the records instead of adding to them.
  copy->DeleteServer(copy->GetServer(0));
  config.Assign(*copy);
  ASSERT_EQ(config.ServerCount(), 1);
  EXPECT_EQ(config.GetServer(0)->AddressesText(), "two");

  EXPECT_EQ(AssignError(config, nullptr), VGT("Не могу присвоить данные - отсутствует источник"));
  TOtherConfig other;
  EXPECT_EQ(AssignError(config, &other), VGT("Не могу присвоить TQSClientConfig данные из TOtherConfig"));
  TServerSideConfig serverSide;
  EXPECT_EQ(AssignError(serverSide, &config), "no error");
  EXPECT_EQ(serverSide.ServerCount(), 1);
  EXPECT_EQ(AssignError(config, &serverSide), VGT("Не могу присвоить TQSClientConfig данные из TServerSideConfig"));
  EXPECT_EQ(AssignError(serverSide, &other), VGT("Не могу присвоить TServerSideConfig данные из TOtherConfig"));
}

TEST(SettingsLogDirectory, RelativeNamesFollowTheSettingsFile) {
  TQSClientConfig c("/etc/vg/veilgate.cfg");
  c.SetLogDirectory("logs");
  EXPECT_EQ(c.LogDirectoryPath(), "/etc/vg/logs");
  c.SetLogDirectory("..\\shared\\logs");
  EXPECT_EQ(c.LogDirectoryPath(), "/etc/vg/../shared/logs");
  c.SetLogDirectory("/var/log/vg");
  EXPECT_EQ(c.LogDirectoryPath(), "/var/log/vg");
  c.SetLogDirectory("");
  EXPECT_EQ(c.LogDirectoryPath(), "/etc/vg/");
  c.SetFileName("veilgate.cfg");
  c.SetLogDirectory("logs");
  EXPECT_EQ(c.LogDirectoryPath(), "logs");
}

TEST(SettingsLogDirectory, WindowsAndCyrillicNamesBecomeNamesOfThisFileSystem) {
  TQSClientConfig c("/home/u/.config/qs-veilgate/veilgate.cfg");
  c.SetLogBase("/home/u/.local/state/qs-veilgate");
  c.SetLogDirectory("logs");
  EXPECT_EQ(c.LogDirectoryPath(), "/home/u/.local/state/qs-veilgate/logs");
  // A drive or a share has no meaning here: the rest is kept below the log base.
  c.SetLogDirectory("C:\\Program Files\\QS-Veilgate\\Logs");
  EXPECT_EQ(c.LogDirectoryPath(), "/home/u/.local/state/qs-veilgate/Program Files/QS-Veilgate/Logs");
  c.SetLogDirectory("d:logs");
  EXPECT_EQ(c.LogDirectoryPath(), "/home/u/.local/state/qs-veilgate/logs");
  c.SetLogDirectory("\\\\server\\share\\vg");
  EXPECT_EQ(c.LogDirectoryPath(), "/home/u/.local/state/qs-veilgate/server/share/vg");
  c.SetLogDirectory("C:\\");
  EXPECT_EQ(c.LogDirectoryPath(), "/home/u/.local/state/qs-veilgate");
  // Windows-1251 in the file, UTF-8 on the disk.
  c.SetLogDirectory(VGT("Журналы\\Сервис"));
  EXPECT_EQ(c.LogDirectoryPath(), "/home/u/.local/state/qs-veilgate/Журналы/Сервис");
}

TEST(SettingsLogDirectory, TheProgramSettingsDriveTheLogFiles) {
  TQSClientConfig& settings = vg::Settings();
  EXPECT_EQ(&settings, &vg::Settings());
  vgtest::ScratchDir dir;
  settings.SetFileName(dir.File("veilgate.cfg"));
  settings.SetLogDirectory("journal");
  EXPECT_EQ(vg::CurrentLogDirectory(), dir.Path() + "/journal");
  // The log source takes the settings lock, so it waits while someone else holds it.
  std::string seen;
  settings.Lock();
  std::thread reader([&] { seen = vg::CurrentLogDirectory(); });
  settings.SetLogDirectory("/changed");
  settings.Unlock();
  reader.join();
  EXPECT_EQ(seen, "/changed");
}

TEST(SettingsCommandLine, ConfigOptionIsTakenOut) {
  std::vector<std::string> args{"-x", "--config", "sub/../my.cfg", "tail"};
  const std::string file = vg::TakeConfigOption(args);
  EXPECT_EQ(args, (std::vector<std::string>{"-x", "tail"}));
  EXPECT_EQ(file.front(), '/');
  EXPECT_EQ(file.substr(file.size() - 7), "/my.cfg");
  EXPECT_EQ(file.find(".."), std::string::npos);

  args = {"--config=/etc/vg.cfg"};
  EXPECT_EQ(vg::TakeConfigOption(args), "/etc/vg.cfg");
  EXPECT_TRUE(args.empty());
  args = {"plain"};
  EXPECT_EQ(vg::TakeConfigOption(args), "");
  EXPECT_EQ(args.size(), 1u);
  args = {"--config"};
  EXPECT_THROW(vg::TakeConfigOption(args), vg::Exception);
}

}  // namespace
