// The setup dialogs take whatever the user types: numbers, ports, addresses and host names in
// any bytes must give a clear refusal or values that hold, never a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzInput.h"
#include "dialogs/ServerRules.h"
#include "dialogs/SetupRules.h"
#include "platform/Net.h"
#include "settings/Cfg_Clnt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TInput in{data, size};
  const uint8_t switches = in.Byte();
  vg::TSetupControls c;
  c.SelfPort = in.Take(in.Byte() % 16);
  c.ProxyEnabled = switches & 1;
  c.ProxyHost = in.Take(in.Byte() % 24);
  c.ProxyPort = in.Take(in.Byte() % 16);
  c.LogDays = in.Take(in.Byte() % 16);
  c.AccessItem = in.Byte() % 3;
  vg::LogFlagsToControls(static_cast<uint32_t>(in.Byte()) << 16 | in.Byte() << 8 | in.Byte(), c);
  // No lookups: a name is never resolved here, a dotted text is read without the resolver.
  const vg::THostResolver none = [](const std::string&) { return std::optional<uint32_t>(); };
  for (int i = in.Byte() % 4; i > 0; --i) {
    const std::string typed = in.Take(in.Byte() % 24);
    const vg::THostAddResult added = vg::AddHostLine(typed, c.Hosts, none);
    if (added.Kind == vg::THostAddResult::Added && !vg::ParseTypedAddress(c.Hosts.back())) std::abort();
  }

  vg::TQSClientConfig live("/nonexistent/veilgate.cfg");
  vg::TClientSetupRules rules(none);
  rules.SetSettings(live);
  try {
    rules.SaveControls(c);
    vg::TQSClientConfig& copy = rules.ClientCopy();
    if (!vg::IsValidPort(copy.SelfTcpPort()) || copy.LogInterval() < 1) std::abort();
    if (c.ProxyEnabled && !vg::IsValidPort(copy.ProxyPort())) std::abort();
    if (copy.AllowedHosts().size() != c.Hosts.size()) std::abort();
    if (copy.ClientAccessType() > vg::TQSClientConfig::kAccessListed) std::abort();
  } catch (const vg::ESaveSettingsException& e) {
    if (e.Message().empty() || e.Control().empty()) std::abort();
  }

  // The server dialog's texts, without an engine: every failure is a message, never a fault.
  vg::TWebServerRules server(rules.Copy(), "", "");
  if (!server.Open()) std::abort();
  vg::TServerControls s;
  s.Name = in.Take(in.Byte() % 40);
  s.RedirectAddress = in.Take(in.Byte() % 24);
  s.RedirectPort = in.Take(in.Byte() % 12);
  s.Compress = in.Take(in.Byte() % 12);
  const vg::TServerSaveResult result = server.SaveControls(s);
  if (result.Ok || result.Message.empty()) std::abort();
  return 0;
}
