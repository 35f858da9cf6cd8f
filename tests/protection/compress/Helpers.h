#pragma once
// Shared helpers of the compressor tests.
#include <cstdint>
#include <random>
#include <sstream>
#include <string>

#include "protection/ComprObj.h"

namespace comprtest {

// "40 80 00" -> the three bytes.
inline std::string Hex(const std::string& text) {
  std::istringstream in(text);
  std::string out;
  unsigned v;
  while (in >> std::hex >> v) out.push_back(static_cast<char>(v));
  return out;
}

inline std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

inline std::string KhHeader(uint32_t size) { return Hex("16 13 11 1C") + Le32(size); }
inline std::string LzhHeader(uint32_t size) { return Hex("12 13 11 1C") + Le32(size); }

// One KH block: its two-byte length and its data.
inline std::string KhBlock(const std::string& data) {
  return std::string{static_cast<char>(data.size() & 0xFF), static_cast<char>(data.size() >> 8)} + data;
}

inline std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

// Prose-like text: words of a small vocabulary drawn with skewed frequencies.
inline std::string Text(size_t n, uint32_t seed = 1) {
  static const char* words[] = {"the",        "of",     "and",    "to",    "in",  "protected", "server",
                                "request",    "a",      "is",     "that",  "for", "gateway",   "key",
                                "session",    "with",   "as",     "by",    "on",  "message",   "body",
                                "compressed", "header", "answer", "tunnel"};
  std::mt19937 rng(seed);
  std::geometric_distribution<int> pick(0.15);
  std::string s;
  while (s.size() < n) {
    s += words[pick(rng) % (sizeof words / sizeof *words)];
    s += (rng() % 11 == 0) ? ".\r\n" : " ";
  }
  s.resize(n);
  return s;
}

// Machine-code-like data: records of small integers, offsets and opcodes with some noise.
inline std::string Binary(size_t n, uint32_t seed = 2) {
  std::mt19937 rng(seed);
  std::string s;
  uint32_t address = 0x401000;
  while (s.size() < n) {
    const uint8_t op[] = {0x55, 0x8B, 0xEC, 0x83, 0xEC, static_cast<uint8_t>(rng() % 64), 0xE8};
    s.append(reinterpret_cast<const char*>(op), sizeof op);
    address += rng() % 4096;
    s += Le32(address);
    if (rng() % 3 == 0) s += RandomBytes(rng() % 12, rng());
    s.append(rng() % 6, '\0');
  }
  s.resize(n);
  return s;
}

}  // namespace comprtest
