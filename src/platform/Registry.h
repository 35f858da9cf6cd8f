#pragma once
// The registry: hierarchical keys below the predefined roots, each holding named, typed values.
// On Windows these are the system's registry; elsewhere each root's tree lives in one text file in
// StoreDirectory(), every call reads it afresh and every change replaces it atomically under a
// file lock.
//
// Key names compare case-insensitively (Windows-1251 letters included) and keep the case they
// were created with. Subkeys are listed in name order, values in the order they were created.
// Calls return the registry's result codes below; they never throw.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vg::platform::registry {

enum class Root : uint8_t { kClassesRoot, kCurrentUser, kLocalMachine, kUsers, kCurrentConfig };

// "HKEY_LOCAL_MACHINE" and so on.
const char* RootName(Root root);
// Accepts the full root names and their usual short forms (HKLM, HKCU, HKCR, HKU, HKCC), in
// any letter case.
bool RootFromName(std::string_view name, Root& root);
// Splits a key written as text ("HKEY_CURRENT_USER\Software\X") into root and path.
bool SplitKeyText(std::string_view text, Root& root, std::string& path);

// Value types, numbered as the registry numbers them; other numbers are kept as they are.
constexpr uint32_t kTypeNone = 0;
constexpr uint32_t kTypeString = 1;
constexpr uint32_t kTypeExpandString = 2;
constexpr uint32_t kTypeBinary = 3;
constexpr uint32_t kTypeDword = 4;

// Result codes.
constexpr long kSuccess = 0;
constexpr long kNotFound = 2;
constexpr long kAccessDenied = 5;
constexpr long kInvalidHandle = 6;
constexpr long kInvalidParameter = 87;
constexpr long kDiskFull = 112;
constexpr long kStoreCorrupt = 1009;
constexpr long kIoFailed = 1016;
constexpr long kKeyDeleted = 1018;
std::string ErrorText(long code);

enum class Access : uint8_t { kRead, kWrite };

// An open key. A default-constructed Key is not open. Root keys are always open for writing.
struct Key {
  bool open = false;
  Root root = Root::kLocalMachine;
  std::vector<std::string> path;  // names below the root, as stored
  Access access = Access::kRead;

  static Key RootKey(Root root);
  // "Software\X" (empty for a root key).
  std::string PathText() const;
};

// Opens subPath (names separated by backslashes, empty for the key itself) below base.
long OpenKey(const Key& base, std::string_view subPath, Access access, Key& result);
// Opens subPath below base for writing, creating the missing keys; base must be writable.
long CreateKey(const Key& base, std::string_view subPath, Key& result);
long EnumKeys(const Key& key, std::vector<std::string>& names);
long EnumValues(const Key& key, std::vector<std::string>& names);
// The empty name is the key's default value.
long QueryValue(const Key& key, std::string_view name, uint32_t& type, std::string& data);
long SetValue(const Key& key, std::string_view name, uint32_t type, std::string_view data);
long DeleteValue(const Key& key, std::string_view name);
// Deletes subPath below key with every key and value under it.
long DeleteKeyTree(const Key& key, std::string_view subPath);

#ifndef _WIN32
// VG_REGISTRY_DIR, else "qs-veilgate/registry" in $XDG_DATA_HOME, else in ~/.local/share.
std::string StoreDirectory();
#endif

}  // namespace vg::platform::registry
