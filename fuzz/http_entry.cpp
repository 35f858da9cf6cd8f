// Host entries and dotted addresses come from requests and settings files: any bytes must parse
// without fault, and what parses must survive its own text form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/Net.h"
#include "sockets/fEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  vg::THttpEntry entry;
  entry.Parse(text);
  const std::string shown = entry.AsText();
  if (!entry.Host().empty()) {
    vg::THttpEntry again;
    again.Parse(shown);
    if (!again.SameAs(entry) || again.AsText() != shown) std::abort();
  }
  if (entry.Host().find(':') != std::string::npos) std::abort();
  (void)entry.IsAddress();

  vg::THttpEntry hostOnly;
  hostOnly.SetHostOnly(text);
  if (hostOnly.Port() != 80) std::abort();

  const uint32_t address = vg::ParseDottedAddress(text);
  if (address != vg::platform::kNoAddress) {
    if (text.find_first_not_of("0123456789.") != std::string_view::npos) std::abort();
    if (vg::ParseDottedAddress(vg::platform::DottedText(address)) != address) std::abort();
  }
  return 0;
}
