// The gateway's settings file and its store of issued keys.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "GateConfig.h"
#include "Gateway.h"

using vggate::TGateConfig;
using vggate::TKeyStore;

namespace {

class FakeClock : public vg::platform::Clock {
 public:
  vg::platform::LocalTime Local() const override { return local; }
  std::chrono::steady_clock::time_point Monotonic() const override { return tick; }
  vg::platform::LocalTime local{2024, 3, 5, 12, 0, 0, 0, 0};
  std::chrono::steady_clock::time_point tick{};
};

bool Parse(const std::string& text, TGateConfig& config, std::string& error) {
  return vggate::ParseGateConfig(text, config, error);
}

}  // namespace

TEST(GateConfig, TheExampleFileReadsAndNamesItsBackends) {
  TGateConfig config;
  std::string error;
  ASSERT_TRUE(vggate::LoadGateConfig(std::string(VG_TEST_SOURCE_DIR) + "/tools/vggate/example.ini", config, error))
      << error;
  EXPECT_EQ(config.listenPort, 8591);
  EXPECT_EQ(config.protocol, "1.5");
  EXPECT_EQ(config.compress, 2);
  ASSERT_EQ(config.engineParams.size(), 2u);
  EXPECT_EQ(config.engineParams[0].first, "UID");  // file order is kept
  const auto* plain = config.FindBackend("WWW.Example.org");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->port, 8080);
  const auto* other = config.FindBackend("www.example.org:8443");
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->port, 8081);
  EXPECT_EQ(config.FindBackend("www.example.org:81"), nullptr);
  EXPECT_EQ(config.FindBackend(""), nullptr);
}

TEST(GateConfig, MistakesNameTheirLine) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"[Gateway]\nListen=10.0.0.1:80\n", "line 2: Listen must be the loopback address"},
      {"[Gateway]\nListen=127.0.0.1\n", "line 2: Listen must be address:port"},
      {"[Gateway]\n\n; note\nCompress=3\n", "line 4: Compress must be 0, 1 or 2"},
      {"[Gateway]\nProtocol=x\n", "line 2: Protocol must be a version"},
      {"[Gateway]\nSpeed=1\n", "line 2: unknown item \"Speed\" in [Gateway]"},
      {"[Gate]\n", "line 1: unknown section [Gate]"},
      {"Listen=127.0.0.1:1\n", "line 1: \"Listen\" outside a section"},
      {"[Backends]\nhost=127.0.0.1\n", "line 2: a backend must be address:port"},
      {"[Faults]\nKeyStatus=42\n", "line 2: KeyStatus must be 0 or a status code"},
      {"[Faults]\nPlainAnswers=maybe\n", "line 2: PlainAnswers must be 0 or 1"},
      {"[Faults]\nRekey591=-1\n", "line 2: Rekey591 must be a number"},
      {"[Faults]\nRefuse591=-1\n", "line 2: Refuse591 must be a number of at least 0 or \"all\""},
      {"[Faults]\nRefuse591=every\n", "line 2: Refuse591 must be a number of at least 0 or \"all\""},
  };
  for (const auto& c : cases) {
    TGateConfig config;
    std::string error;
    EXPECT_FALSE(Parse(c.text, config, error)) << c.text;
    EXPECT_TRUE(error.starts_with(c.error)) << error;
  }
  TGateConfig config;
  std::string error;
  ASSERT_TRUE(Parse("[faults]\r\nrekey591 = 3\r\n[GATEWAY]\r\nlisten = localhost:0\r\n", config, error)) << error;
  EXPECT_EQ(config.faults.rekey591, 3);
  EXPECT_EQ(config.listenPort, 0);
  ASSERT_TRUE(Parse("[Faults]\nRefuse591=2\n", config, error)) << error;
  EXPECT_EQ(config.faults.refuse591, 2);
  ASSERT_TRUE(Parse("[Faults]\nRefuse591=ALL\n", config, error)) << error;
  EXPECT_EQ(config.faults.refuse591, vggate::TFaults::kEveryRequest);
}

TEST(GateKeys, IssuedRecordsAndTheirValues) {
  FakeClock clock;
  TKeyStore store(std::chrono::seconds(432), clock);
  vg::TKeyRecord client{};
  client[5] = 11;
  client[6] = 22;
  const vg::TKeyRecord echoed = store.Issue(client, false);
  EXPECT_EQ(echoed[5], 11u);
  EXPECT_EQ(echoed[6], 22u);
  EXPECT_EQ(echoed[7], 0u);
  EXPECT_EQ(echoed[3], static_cast<uint32_t>(vg::platform::DayNumber(2024, 3, 5)));
  const vg::TKeyRecord renewed = store.Issue(client, true);
  EXPECT_NE(renewed[0], echoed[0]);
  EXPECT_FALSE(renewed[5] == 11 && renewed[6] == 22);
  const vg::TKeyRecord fresh = store.Issue(vg::TKeyRecord{}, false);
  EXPECT_NE(fresh[5], 0u);
  EXPECT_NE(fresh[6], 0u);
  EXPECT_EQ(store.Count(), 3u);
}

TEST(GateKeys, UseChecksRecordCounterAndAge) {
  FakeClock clock;
  TKeyStore store(std::chrono::seconds(432), clock);
  vg::TKeyRecord key = store.Issue(vg::TKeyRecord{}, false);
  key[7] = 1;
  EXPECT_EQ(store.Use(key, 0), TKeyStore::TCheck::Current);
  EXPECT_EQ(store.Use(key, 0), TKeyStore::TCheck::Replayed);
  key[7] = 3;
  EXPECT_EQ(store.Use(key, 0), TKeyStore::TCheck::Current);
  key[7] = 2;  // late, but not seen before: requests of several connections may overtake each other
  EXPECT_EQ(store.Use(key, 0), TKeyStore::TCheck::Current);
  key[7] = 0;
  EXPECT_EQ(store.Use(key, 0), TKeyStore::TCheck::Replayed);

  vg::TKeyRecord altered = key;
  altered[7] = 9;
  altered[2] ^= 1;
  EXPECT_EQ(store.Use(altered, 0), TKeyStore::TCheck::Unknown);

  key[7] = 10;
  clock.tick += std::chrono::seconds(431);
  EXPECT_EQ(store.Use(key, 0), TKeyStore::TCheck::Current);
  clock.tick += std::chrono::seconds(433);
  key[7] = 11;
  EXPECT_EQ(store.Use(key, 0), TKeyStore::TCheck::Expired);
  EXPECT_EQ(store.Use(key, 0), TKeyStore::TCheck::Unknown);  // forgotten

  vg::TKeyRecord limited = store.Issue(vg::TKeyRecord{}, false);
  for (uint32_t n = 1; n <= 2; ++n) {
    limited[7] = n;
    EXPECT_EQ(store.Use(limited, 2), TKeyStore::TCheck::Current);
  }
  limited[7] = 3;
  EXPECT_EQ(store.Use(limited, 2), TKeyStore::TCheck::Renew);
  EXPECT_EQ(store.Use(limited, 2), TKeyStore::TCheck::Unknown);
}
