// Display names come from the environment: any bytes must parse without fault, and what parses
// names either a socket path or a host with a TCP port, never both.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/Display.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);
  const auto place = vg::platform::ParseXDisplay(name);
  if (!place) return 0;
  if (place->socketPath.empty() == place->host.empty()) std::abort();
  if (!place->socketPath.empty() && (place->socketPath[0] != '/' || place->port != 0)) std::abort();
  if (!place->host.empty() && (place->port < 6000 || place->port > 65535)) std::abort();
  return 0;
}
