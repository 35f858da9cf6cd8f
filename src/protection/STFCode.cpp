#include "protection/STFCode.h"

#include <array>
#include <cstring>

namespace vg {
namespace {

std::string_view Input(const char* data, int32_t length) {
  if (data == nullptr) return {};
  if (length < 0) return std::string_view(data, std::strlen(data));
  return std::string_view(data, static_cast<size_t>(length));
}

// Digit value of each byte: 0..63 for digits, 64 for padding, -1 for a character to skip.
constexpr std::array<int8_t, 256> MakeValues() {
  std::array<int8_t, 256> v{};
  for (auto& x : v) x = -1;
  for (size_t i = 0; i < TSTF1::kTable.size(); ++i)
    v[static_cast<unsigned char>(TSTF1::kTable[i])] = static_cast<int8_t>(i);
  return v;
}
constexpr std::array<int8_t, 256> kValues = MakeValues();

}  // namespace

std::string TSTF::Encode(const char* data, int32_t length) { return std::string(Input(data, length)); }
std::string TSTF::Decode(const char* text, int32_t length) { return std::string(Input(text, length)); }

std::string TSTF1::Encode(const char* data, int32_t length) {
  const std::string_view in = Input(data, length);
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4);
  for (size_t i = 0; i < in.size(); i += 3) {
    const size_t have = in.size() - i < 3 ? in.size() - i : 3;
    uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(in[i])) << 16;
    if (have > 1) group |= static_cast<uint32_t>(static_cast<unsigned char>(in[i + 1])) << 8;
    if (have > 2) group |= static_cast<unsigned char>(in[i + 2]);
    out.push_back(kTable[(group >> 18) & 63]);
    out.push_back(kTable[(group >> 12) & 63]);
    out.push_back(have > 1 ? kTable[(group >> 6) & 63] : kPadding);
    out.push_back(have > 2 ? kTable[group & 63] : kPadding);
  }
  return out;
}

std::string TSTF1::Decode(const char* text, int32_t length) {
  std::string copy(Input(text, length));
  while (copy.size() % 4 != 0) copy.push_back(kPadding);
  int64_t n = static_cast<int64_t>(copy.size()) * 3 / 4;
  // Each group writes three bytes even when it advances by fewer; keep room for that.
  std::string out(static_cast<size_t>(n) + 3, '\0');
  size_t pos = 0;
  size_t src = 0;
  while (n > 0) {
    uint32_t group = 0;
    int collected = 0;
    while (collected < 4 && src < copy.size()) {
      const int8_t v = kValues[static_cast<unsigned char>(copy[src++])];
      if (v < 0) continue;
      group <<= 6;
      if (v < 64)
        group += static_cast<uint32_t>(v);
      else
        --n;
      ++collected;
    }
    out[pos] = static_cast<char>((group >> 16) & 0xFF);
    out[pos + 1] = static_cast<char>((group >> 8) & 0xFF);
    out[pos + 2] = static_cast<char>(group & 0xFF);
    if (n > 3)
      pos += 3;
    else if (n > 0)
      pos += static_cast<size_t>(n);
    n -= 3;
  }
  out.resize(pos);
  return out;
}

}  // namespace vg
