// The names of the roots and keys, shared by both registry backends.
#include "platform/RegistryNames.h"

#include "platform/Registry.h"
#include "platform/TextCase.h"

namespace vg::platform::registry {
namespace {

struct RootInfo {
  Root root;
  const char* name;
  const char* shortName;
};
constexpr RootInfo kRoots[] = {{Root::kClassesRoot, "HKEY_CLASSES_ROOT", "HKCR"},
                               {Root::kCurrentUser, "HKEY_CURRENT_USER", "HKCU"},
                               {Root::kLocalMachine, "HKEY_LOCAL_MACHINE", "HKLM"},
                               {Root::kUsers, "HKEY_USERS", "HKU"},
                               {Root::kCurrentConfig, "HKEY_CURRENT_CONFIG", "HKCC"}};

}  // namespace

std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t bs = path.find('\\', pos);
    if (bs == std::string_view::npos) bs = path.size();
    if (bs > pos) parts.push_back(path.substr(pos, bs - pos));
    pos = bs + 1;
  }
  return parts;
}

bool ValidKeyName(std::string_view name) {
  if (name.empty() || name.size() > 255) return false;
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == '\\') return false;
  return true;
}

bool ValidValueName(std::string_view name) { return name.size() <= 16383 && name.find('\0') == std::string_view::npos; }

const char* RootName(Root root) {
  for (const auto& r : kRoots)
    if (r.root == root) return r.name;
  return "HKEY_LOCAL_MACHINE";
}

bool RootFromName(std::string_view name, Root& root) {
  for (const auto& r : kRoots) {
    if (SameTextCp1251(name, r.name) || SameTextCp1251(name, r.shortName)) {
      root = r.root;
      return true;
    }
  }
  return false;
}

bool SplitKeyText(std::string_view text, Root& root, std::string& path) {
  const size_t bs = text.find('\\');
  if (!RootFromName(text.substr(0, bs), root)) return false;
  path = bs == std::string_view::npos ? std::string() : std::string(text.substr(bs + 1));
  return true;
}

Key Key::RootKey(Root root) {
  Key k;
  k.open = true;
  k.root = root;
  k.access = Access::kWrite;
  return k;
}

std::string Key::PathText() const {
  std::string out;
  for (const std::string& p : path) {
    if (!out.empty()) out.push_back('\\');
    out.append(p);
  }
  return out;
}

}  // namespace vg::platform::registry
