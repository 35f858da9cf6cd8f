#include <gtest/gtest.h>

#include <stdexcept>

#include "config/Cfg_Ini.h"
#include "support/ScratchDir.h"

namespace {

// A small settings object of two sections, as the tunnel's settings are built.
class TSampleConfig : public vg::TConfig {
 public:
  TSampleConfig() {
    logIndex = AddSection("Log options");
    tcpIndex = AddSection("TCP options");
  }
  bool LoadSection(int index, vg::TConfigStorage& s) override {
    loaded.push_back(index);
    if (index == logIndex) {
      interval = s.ReadIntegerDef("Log interval", 60);
      return !failLog;
    }
    port = s.ReadInteger("Self TCP port");
    host = s.ReadStringDef("Proxy host", "");
    return true;
  }
  bool SaveSection(int index, vg::TConfigStorage& s) override {
    if (index == logIndex) {
      s.WriteInteger("Log interval", interval);
      return !failLog;
    }
    s.WriteInteger("Self TCP port", port);
    s.WriteString("Proxy host", host);
    return true;
  }
  std::unique_ptr<vg::TConfig> CreateEmpty() const override { return std::make_unique<TSampleConfig>(); }
  void Assign(const vg::TConfig& source) override {
    const auto& src = dynamic_cast<const TSampleConfig&>(source);
    interval = src.interval;
    port = src.port;
    host = src.host;
  }

  int logIndex, tcpIndex;
  int32_t interval = 60, port = 0;
  std::string host;
  bool failLog = false;
  std::vector<int> loaded;
};

TEST(Config, SectionsAreRegisteredOnce) {
  TSampleConfig c;
  EXPECT_EQ(c.logIndex, 0);
  EXPECT_EQ(c.tcpIndex, 1);
  EXPECT_EQ(c.AddSection("tcp OPTIONS"), 1);
  EXPECT_EQ(c.AddSection("Web servers"), 2);
  EXPECT_EQ(c.Sections(), (std::vector<std::string>{"Log options", "TCP options", "Web servers"}));
}

TEST(Config, SavesLoadsAndClones) {
  vgtest::ScratchDir dir;
  const std::string file = dir.File("veilgate.cfg");
  TSampleConfig c;
  c.interval = 30;
  c.port = 8080;
  c.host = VGT("прокси");
  ASSERT_TRUE(c.SaveTo(*vg::OpenIniStorage(file, "Client", false, false)));
  EXPECT_EQ(vgtest::ReadFile(file),
            "[Client\\Log options]\r\nLog interval=30\r\n\r\n[Client\\TCP options]\r\nSelf TCP port=8080\r\n"
            "Proxy host=" + VGT("прокси") + "\r\n");

  TSampleConfig back;
  ASSERT_TRUE(back.LoadFrom(*vg::OpenIniStorage(file, "Client", true, false)));
  EXPECT_EQ(back.interval, 30);
  EXPECT_EQ(back.port, 8080);
  EXPECT_EQ(back.host, c.host);

  std::unique_ptr<vg::TConfig> copy = back.Clone();
  auto* sample = dynamic_cast<TSampleConfig*>(copy.get());
  ASSERT_NE(sample, nullptr);
  EXPECT_EQ(sample->port, 8080);
  EXPECT_EQ(sample->host, c.host);
}

TEST(Config, LoadReportsFailedSectionsAndStopsAtErrors) {
  vgtest::ScratchDir dir;
  const std::string file = dir.File("veilgate.cfg");
  vgtest::WriteFile(file, "[Client\\Log options]\nLog interval=5\n[Client\\TCP options]\nSelf TCP port=1\n");
  TSampleConfig c;
  c.failLog = true;
  EXPECT_FALSE(c.LoadFrom(*vg::OpenIniStorage(file, "Client", true, false)));
  EXPECT_EQ(c.loaded, (std::vector<int>{0, 1}));  // a failed section does not stop the others
  EXPECT_EQ(c.port, 1);

  // A missing section raises and ends the load there.
  vgtest::WriteFile(file, "[Client\\TCP options]\nSelf TCP port=1\n");
  TSampleConfig d;
  EXPECT_THROW(d.LoadFrom(*vg::OpenIniStorage(file, "Client", true, false)), vg::EIniConfigException);
  EXPECT_TRUE(d.loaded.empty());
  // So does a required item that is missing.
  vgtest::WriteFile(file, "[Client\\Log options]\n[Client\\TCP options]\n");
  EXPECT_THROW(d.LoadFrom(*vg::OpenIniStorage(file, "Client", true, false)), vg::EIniConfigException);
}

// A storage whose reads fail in a chosen way, to see what the default reads let through.
class TFailingStorage : public vg::TIniConfigStorage {
 public:
  TFailingStorage() : TIniConfigStorage("/nonexistent/x.cfg", "S", true, false) {}
  int32_t ReadInteger(const std::string&) override { throw std::runtime_error("disk on fire"); }
  std::string ReadString(const std::string&) override { throw vg::EConfigException("no"); }
};

TEST(Config, DefaultReadsTurnOnlyStorageErrorsIntoTheDefault) {
  TFailingStorage s;
  EXPECT_EQ(s.ReadStringDef("x", "def"), "def");
  EXPECT_THROW(s.ReadIntegerDef("x", 1), std::runtime_error);
  EXPECT_FALSE(s.ReadBoolDef("x", false));
}

}  // namespace
