#include "cipherhub/EngineTable.h"

namespace vg::cipherhub {

const std::array<TEntryInfo, kEntryCount> kEntries = {{
#define VG_ENTRY_INFO(name, required) {#name, required},
    VG_ENGINE_ENTRIES(VG_ENTRY_INFO)
#undef VG_ENTRY_INFO
}};

bool TEngineFunctionTable::Complete() const noexcept {
  for (int i = 0; i < kEntryCount; ++i)
    if (kEntries[static_cast<size_t>(i)].Required && !Entries[static_cast<size_t>(i)]) return false;
  return true;
}

// Looked up in this order; the two pairs that share a module tell their engines apart by name.
const std::array<TEngineTypeRow, kEngineTypeCount> kEngineTypeTable = {{
    {"Emulation/1.0", 1, "engmod01.dll"},
    {"Emulation/2.0", 1, "engmod01.dll"},
    {"Paragon/4.0", 2, "engmod02.dll"},
    {"LAN Crypto/2.35", 3, "engmod03.dll"},
    {"Verba-OW/4", 4, "engmod04.dll"},
    {"Message-PRO 1.1", 5, "engmod05.dll"},
    {"Crypto COM/2.2", 6, "engmod06.dll"},
    {"M-Pro v2.x", 14, "engmod14.dll"},
    {"Ms Crypto API 2.0", 7, "engmod07.dll"},
    {"M-Pro v1.34 (GOST PSE)", 8, "engmod08.dll"},
    {"CryptoPro CSP/1.1", 7, "engmod07.dll"},
    {"Stone Shield", 9, "engmod09.dll"},
    {"OpenSSL", 10, "engmod10.dll"},
    {"Domain-K (c) Infotecs JSC.", 11, "engmod11.dll"},
    {"Validata Crypto Engine", 12, "engmod12.dll"},
    {"Crypto-C", 13, "engmod13.dll"},
    {"Tumar CSP", 15, "engmod15.dll"},
    {"CryptoCom 32x", 16, "engmod16.dll"},
    {"Agava-C", 17, "engmod17.dll"},
    {"LirSSL", 18, "engmod18.dll"},
}};

namespace {
// The order callers enumerate, fixed independently of the lookup table.
const std::array<const char*, kEngineTypeCount> kEnumerationOrder = {{
    "Emulation/1.0", "Emulation/2.0", "Paragon/4.0", "LAN Crypto/2.35", "Verba-OW/4",
    "Message-PRO 1.1", "Crypto COM/2.2", "CryptoPro CSP/1.1", "Ms Crypto API 2.0", "M-Pro v2.x",
    "M-Pro v1.34 (GOST PSE)", "Stone Shield", "OpenSSL", "Domain-K (c) Infotecs JSC.",
    "Validata Crypto Engine", "Crypto-C", "Tumar CSP", "CryptoCom 32x", "Agava-C", "LirSSL",
}};
}  // namespace

const TEngineTypeRow* FindEngineType(const char* typeName) noexcept {
  if (!typeName || !*typeName) return nullptr;
  for (const auto& row : kEngineTypeTable)
    if (std::strcmp(row.Name, typeName) == 0) return &row;
  return nullptr;
}

const char* EnumeratedEngineType(int index) noexcept {
  if (index < 1 || index > kEngineTypeCount) return nullptr;
  return kEnumerationOrder[static_cast<size_t>(index - 1)];
}

}  // namespace vg::cipherhub
