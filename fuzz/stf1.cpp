// Header-value decoding of arbitrary text, and encoding of arbitrary bytes read back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "protection/STFCode.h"

using vg::TSTF1;

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  // Decoding never produces more than three bytes per four characters of the padded text.
  const std::string decoded = TSTF1::Decode(input);
  Check(decoded.size() <= (input.size() + 3) / 4 * 3, "decoded length");
  // The NUL-terminated form reads up to the first NUL.
  const std::string terminated = TSTF1::Decode(input.c_str(), -1);
  Check(terminated == TSTF1::Decode(std::string_view(input.c_str())), "NUL-terminated decode");

  // Encoding gives four table characters per started group and decodes back unchanged.
  const std::string encoded = TSTF1::Encode(input);
  Check(encoded.size() == (input.size() + 2) / 3 * 4, "encoded length");
  for (char c : encoded) Check(TSTF1::kTable.find(c) != std::string_view::npos, "table characters only");
  Check(TSTF1::Decode(encoded) == input, "round trip");
  // Characters outside the table are skipped; a line break every few characters changes nothing
  // as long as the text is still a whole number of groups once they are skipped.
  if (!encoded.empty()) {
    std::string wrapped;
    for (size_t i = 0; i < encoded.size(); ++i) {
      wrapped.push_back(encoded[i]);
      if (i % 4 == 3 && i + 1 < encoded.size()) wrapped += "\r\n";
    }
    const std::string back = TSTF1::Decode(wrapped);
    Check(back.compare(0, input.size(), input) == 0, "skipped characters keep the data");
  }
  return 0;
}
