#include "platform/Registry.h"

#include <windows.h>

#include <vector>

#include "platform/RegistryNames.h"
#include "platform/win/WinError.h"

namespace vg::platform::registry {
namespace {

HKEY RootHandle(Root root) {
  switch (root) {
    case Root::kClassesRoot: return HKEY_CLASSES_ROOT;
    case Root::kCurrentUser: return HKEY_CURRENT_USER;
    case Root::kUsers: return HKEY_USERS;
    case Root::kCurrentConfig: return HKEY_CURRENT_CONFIG;
    case Root::kLocalMachine: break;
  }
  return HKEY_LOCAL_MACHINE;
}

bool IsStringType(uint32_t type) { return type == kTypeString || type == kTypeExpandString; }

// A handle of an open key, closed with the object. The Key itself holds only its path, so each
// call opens the key afresh, as the file-backed store reads its file afresh.
class OpenHandle {
 public:
  OpenHandle() = default;
  ~OpenHandle() {
    if (h_) ::RegCloseKey(h_);
  }
  OpenHandle(const OpenHandle&) = delete;
  OpenHandle& operator=(const OpenHandle&) = delete;
  HKEY* Out() { return &h_; }
  HKEY Get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

// Opens the key a Key names; a key removed since it was opened reports kKeyDeleted.
long Open(const Key& key, REGSAM rights, OpenHandle& handle) {
  if (!key.open) return kInvalidHandle;
  const long rc = ::RegOpenKeyExA(RootHandle(key.root), key.PathText().c_str(), 0, rights, handle.Out());
  return rc == ERROR_FILE_NOT_FOUND ? kKeyDeleted : rc;
}

std::vector<std::string> Parts(std::string_view subPath) {
  std::vector<std::string> parts;
  for (std::string_view part : SplitPath(subPath)) parts.emplace_back(part);
  return parts;
}

std::string Joined(const std::vector<std::string_view>& parts) {
  std::string out;
  for (std::string_view part : parts) {
    if (!out.empty()) out.push_back('\\');
    out.append(part);
  }
  return out;
}

}  // namespace

std::string ErrorText(long code) {
  if (code == kSuccess) return "The operation completed successfully";
  if (code == kInvalidHandle) return "The key is not open";
  return win::Win32ErrorText(static_cast<DWORD>(code));
}

long OpenKey(const Key& base, std::string_view subPath, Access access, Key& result) {
  OpenHandle parent;
  if (long rc = Open(base, KEY_READ, parent)) return rc;
  const auto parts = SplitPath(subPath);
  OpenHandle opened;
  const REGSAM rights = access == Access::kWrite ? KEY_READ | KEY_WRITE : KEY_READ;
  if (long rc = ::RegOpenKeyExA(parent.Get(), Joined(parts).c_str(), 0, rights, opened.Out())) return rc;
  Key k = base;
  k.access = access;
  for (std::string_view part : parts) k.path.emplace_back(part);
  result = std::move(k);
  return kSuccess;
}

long CreateKey(const Key& base, std::string_view subPath, Key& result) {
  if (!base.open) return kInvalidHandle;
  if (base.access != Access::kWrite) return kAccessDenied;
  const auto parts = SplitPath(subPath);
  for (std::string_view part : parts)
    if (!ValidKeyName(part)) return kInvalidParameter;
  OpenHandle parent;
  if (long rc = Open(base, KEY_READ | KEY_CREATE_SUB_KEY, parent)) return rc;
  OpenHandle created;
  if (!parts.empty()) {
    if (long rc = ::RegCreateKeyExA(parent.Get(), Joined(parts).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_READ | KEY_WRITE, nullptr, created.Out(), nullptr))
      return rc;
  }
  Key k = base;
  k.access = Access::kWrite;
  for (std::string& part : Parts(subPath)) k.path.push_back(std::move(part));
  result = std::move(k);
  return kSuccess;
}

long EnumKeys(const Key& key, std::vector<std::string>& names) {
  names.clear();
  OpenHandle h;
  if (long rc = Open(key, KEY_READ, h)) return rc;
  char name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name;
    const long rc = ::RegEnumKeyExA(h.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return kSuccess;
    if (rc != ERROR_SUCCESS) {
      names.clear();
      return rc;
    }
    names.emplace_back(name, length);
  }
}

long EnumValues(const Key& key, std::vector<std::string>& names) {
  names.clear();
  OpenHandle h;
  if (long rc = Open(key, KEY_READ, h)) return rc;
  std::vector<char> name(16384);
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    const long rc = ::RegEnumValueA(h.Get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return kSuccess;
    if (rc != ERROR_SUCCESS) {
      names.clear();
      return rc;
    }
    names.emplace_back(name.data(), length);
  }
}

long QueryValue(const Key& key, std::string_view name, uint32_t& type, std::string& data) {
  OpenHandle h;
  if (long rc = Open(key, KEY_QUERY_VALUE, h)) return rc;
  if (!ValidValueName(name)) return kNotFound;
  const std::string valueName(name);
  std::string buffer(256, '\0');
  for (;;) {
    DWORD kind = REG_NONE;
    DWORD size = static_cast<DWORD>(buffer.size());
    const long rc =
        ::RegQueryValueExA(h.Get(), valueName.c_str(), nullptr, &kind, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (rc == ERROR_MORE_DATA) {
      buffer.resize(size + 1);
      continue;
    }
    if (rc != ERROR_SUCCESS) return rc;
    buffer.resize(size);
    // Strings are stored with their terminating zero; callers see the text alone, as written.
    if (IsStringType(kind) && !buffer.empty() && buffer.back() == '\0') buffer.pop_back();
    type = kind;
    data.swap(buffer);
    return kSuccess;
  }
}

long SetValue(const Key& key, std::string_view name, uint32_t type, std::string_view data) {
  if (!key.open) return kInvalidHandle;
  if (key.access != Access::kWrite) return kAccessDenied;
  if (!ValidValueName(name) || (type == kTypeDword && data.size() != 4)) return kInvalidParameter;
  OpenHandle h;
  if (long rc = Open(key, KEY_SET_VALUE, h)) return rc;
  std::string bytes(data);
  if (IsStringType(type)) bytes.push_back('\0');
  return ::RegSetValueExA(h.Get(), std::string(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size()));
}

long DeleteValue(const Key& key, std::string_view name) {
  if (!key.open) return kInvalidHandle;
  if (key.access != Access::kWrite) return kAccessDenied;
  OpenHandle h;
  if (long rc = Open(key, KEY_SET_VALUE, h)) return rc;
  if (!ValidValueName(name)) return kNotFound;
  return ::RegDeleteValueA(h.Get(), std::string(name).c_str());
}

long DeleteKeyTree(const Key& key, std::string_view subPath) {
  if (!key.open) return kInvalidHandle;
  if (key.access != Access::kWrite) return kAccessDenied;
  const auto parts = SplitPath(subPath);
  if (parts.empty()) return kInvalidParameter;
  OpenHandle parent;
  if (long rc = Open(key, KEY_READ | KEY_WRITE, parent)) return rc;
  const std::string path = Joined(parts);
  {
    // Asked first, so that a missing key is told apart from a failed deletion.
    OpenHandle target;
    if (long rc = ::RegOpenKeyExA(parent.Get(), path.c_str(), 0, KEY_READ, target.Out())) return rc;
  }
  return ::RegDeleteTreeA(parent.Get(), path.c_str());
}

}  // namespace vg::platform::registry
