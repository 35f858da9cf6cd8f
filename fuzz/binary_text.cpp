// The binary text decoder on arbitrary text: sizes agree, short buffers are never overrun,
// and a valid text decodes to bytes that encode back to the same text up to its unused bits.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/Cfg_Ini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t count = vg::BinaryTextSize(text);
  if (count > text.size()) std::abort();

  std::vector<unsigned char> full(count);
  if (vg::DecodeBinaryText(text, full.data(), full.size()) != count) std::abort();
  // A smaller buffer gets a prefix of the same bytes and nothing beyond it.
  const size_t part = count / 2;
  std::vector<unsigned char> half(part + 8, 0xA5);
  if (vg::DecodeBinaryText(text, half.data(), part) != count) std::abort();
  if (part && std::memcmp(half.data(), full.data(), part) != 0) std::abort();
  for (size_t i = part; i < half.size(); ++i)
    if (half[i] != 0xA5) std::abort();

  if (vg::IsBinaryText(text)) {
    const std::string again = vg::EncodeBinaryText(full.data(), full.size());
    if (vg::BinaryTextSize(again) != count || !vg::IsBinaryText(again)) std::abort();
    std::vector<unsigned char> back(count);
    vg::DecodeBinaryText(again, back.data(), back.size());
    if (back != full) std::abort();
    // Characters the encoder writes are those of the text wherever they carry whole bits.
    if (count % 3 == 0 && again != text.substr(0, again.size())) std::abort();
  }
  return 0;
}
