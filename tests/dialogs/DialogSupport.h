#pragma once
// Shared pieces of the dialog tests: settings objects filled like a loaded file, server
// records, a resolver that knows a few names, and Cyrillic texts written readable.
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "dialogs/SetupRules.h"
#include "platform/CodePage.h"
#include "platform/Net.h"
#include "settings/Cfg_Clnt.h"

namespace dialogtest {

inline std::string Cp(const std::string& utf8) { return vg::platform::Utf8ToCp1251(utf8); }

// Settings as a file typically holds them: own port 1030, logs kept 60 days, one server.
inline std::unique_ptr<vg::TQSClientConfig> SampleSettings(const std::string& file = "/nonexistent/veilgate.cfg") {
  auto config = std::make_unique<vg::TQSClientConfig>(file);
  config->SetSelfTcpPort(1030);
  config->SetLogDirectory("logs");
  config->SetLogInterval(60);
  config->SetProxyHost("proxy.example");
  config->SetProxyPort(3128);
  return config;
}

inline vg::TProtectedServer& AddServer(vg::TQSConfig& config, const std::string& names,
                                       const std::string& engine = "Emulation/1.0",
                                       const std::string& gate = "127.0.0.1:8443") {
  auto server = std::make_unique<vg::TProtectedServer>();
  server->SetAddressesText(names);
  server->VeilgateLocation().Parse(gate);
  server->CryptoParams().SetEngineType(engine);
  vg::TProtectedServer& added = *server;
  config.AddServer(std::move(server));
  return added;
}

// Knows "localhost", "gate.test" (10.1.2.3) and counts the lookups.
struct FakeResolver {
  std::map<std::string, uint32_t> Names{{"localhost", vg::platform::ParseDottedIPv4("127.0.0.1")},
                                        {"gate.test", vg::platform::ParseDottedIPv4("10.1.2.3")}};
  std::vector<std::string> Asked;
  vg::THostResolver Fn() {
    return [this](const std::string& name) -> std::optional<uint32_t> {
      Asked.push_back(name);
      const auto it = Names.find(name);
      if (it == Names.end()) return std::nullopt;
      return it->second;
    };
  }
};

// Polls until done() holds or the limit passes.
inline bool WaitFor(const std::function<bool()>& done, int limitMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace dialogtest
