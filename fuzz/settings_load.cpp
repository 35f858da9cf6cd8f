// Any settings file either loads or raises a settings error; what loads obeys the settings'
// own rules and survives a save and a second load unchanged.
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "protection/CipherhubLib.h"
#include "settings/Cfg_Clnt.h"

namespace {

const std::string& WorkDir() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/vgfuzz-settings-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    if (!made) std::abort();
    const std::string d(made);
    ::setenv("VG_REGISTRY_DIR", (d + "/registry").c_str(), 1);
    vg::chlib::OverrideLibraryCandidates({std::string(VG_TEST_BIN_DIR) + "/cipherhub.so"});
    return d;
  }();
  return dir;
}

void CheckRules(const vg::TQSClientConfig& c) {
  if (c.ClientAccessType() > 2) std::abort();
  if (c.ClientAccessType() == 2 && c.AllowedHosts().empty()) std::abort();
  const auto& hosts = c.AllowedHosts();
  for (size_t i = 0; i < hosts.size(); ++i) {
    if (hosts[i] == vg::TQSClientConfig::kNoHost) std::abort();
    for (size_t j = 0; j < i; ++j)
      if (hosts[j] == hosts[i]) std::abort();
  }
  for (int i = 0; i < c.ServerCount(); ++i) {
    const vg::TProtectedServer& s = *c.GetServer(i);
    if (s.AddressCount() > 2 || s.CompressMode() > 2 || s.ActiveLocation() != 1) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = WorkDir() + "/veilgate.cfg";
  const std::string copy = WorkDir() + "/saved.cfg";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  vg::TQSClientConfig config(file);
  try {
    config.Load();
  } catch (const vg::EConfigException&) {
    return 0;
  }
  CheckRules(config);

  std::remove(copy.c_str());
  vg::TQSClientConfig saved(copy);
  saved.Assign(config);
  try {
    // Texts the file format cannot hold (a NUL byte, say) are refused on writing.
    if (!saved.Save()) return 0;
  } catch (const vg::EConfigException&) {
    return 0;
  }
  vg::TQSClientConfig back(copy);
  if (!back.Load()) std::abort();
  if (back.LogDirectory() != config.LogDirectory() || back.LogInterval() != config.LogInterval() ||
      back.LogFlags() != config.LogFlags() || back.ErrorTraceMode() != config.ErrorTraceMode() ||
      back.SelfTcpPort() != config.SelfTcpPort() || back.ProxyEnabled() != config.ProxyEnabled() ||
      back.BypassProxyForLocal() != config.BypassProxyForLocal() || back.ProxyHost() != config.ProxyHost() ||
      back.ProxyPort() != config.ProxyPort() || back.MaxHttpDataLength() != config.MaxHttpDataLength() ||
      back.ProxyORPC() != config.ProxyORPC() || back.ClientAccessType() != config.ClientAccessType() ||
      back.AllowedHosts() != config.AllowedHosts() || back.ServerCount() != config.ServerCount())
    std::abort();
  for (int i = 0; i < config.ServerCount(); ++i) {
    const vg::TProtectedServer& a = *config.GetServer(i);
    const vg::TProtectedServer& b = *back.GetServer(i);
    if (a.AddressesText() != b.AddressesText() || a.CryptoParams().EngineType() != b.CryptoParams().EngineType() ||
        a.CryptoParams().Count() != b.CryptoParams().Count() || a.CompressMode() != b.CompressMode())
      std::abort();
  }
  return 0;
}
