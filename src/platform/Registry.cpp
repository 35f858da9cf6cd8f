#include "platform/Registry.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/AtomicFile.h"
#include "platform/RegistryNames.h"
#include "platform/TextCase.h"

namespace vg::platform::registry {
namespace {

struct Value {
  std::string name;
  uint32_t type = kTypeNone;
  std::string data;
};

struct Node {
  std::string name;
  std::vector<Value> values;
  std::vector<std::unique_ptr<Node>> children;  // in name order

  Node* Find(std::string_view child) const {
    for (const auto& c : children)
      if (SameTextCp1251(c->name, child)) return c.get();
    return nullptr;
  }
  Node* Add(std::string_view child) {
    auto node = std::make_unique<Node>();
    node->name = std::string(child);
    auto at = std::find_if(children.begin(), children.end(), [&](const std::unique_ptr<Node>& c) {
      return CompareTextCp1251(c->name, child) > 0;
    });
    return children.insert(at, std::move(node))->get();
  }
  Value* FindValue(std::string_view value) {
    for (auto& v : values)
      if (SameTextCp1251(v.name, value)) return &v;
    return nullptr;
  }
};

long FromErrno(int err) {
  switch (err) {
    case 0:
      return kSuccess;
    case ENOENT:
      return kNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return kAccessDenied;
    case ENOSPC:
    case EDQUOT:
      return kDiskFull;
    default:
      return kIoFailed;
  }
}

// ---- the store file: "[path]" lines open keys, "name"=type:data lines hold values.

constexpr char kHex[] = "0123456789abcdef";

void AppendQuoted(std::string& out, std::string_view s) {
  out.push_back('"');
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (u < 0x20 || u == 0x7F) {
      out.append("\\x");
      out.push_back(kHex[u >> 4]);
      out.push_back(kHex[u & 15]);
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
}

void AppendHexBytes(std::string& out, std::string_view data) {
  for (size_t i = 0; i < data.size(); ++i) {
    if (i) out.push_back(',');
    const auto u = static_cast<unsigned char>(data[i]);
    out.push_back(kHex[u >> 4]);
    out.push_back(kHex[u & 15]);
  }
}

void Serialize(const Node& node, std::string& prefix, bool isRoot, std::string& out) {
  if (!isRoot || !node.values.empty()) {
    out.append("[").append(prefix).append("]\n");
    for (const Value& v : node.values) {
      AppendQuoted(out, v.name);
      out.push_back('=');
      if (v.type == kTypeString || v.type == kTypeExpandString) {
        out.append(v.type == kTypeString ? "sz:" : "expand:");
        AppendQuoted(out, v.data);
      } else if (v.type == kTypeDword && v.data.size() == 4) {
        uint32_t d = 0;
        for (int i = 3; i >= 0; --i) d = (d << 8) | static_cast<unsigned char>(v.data[i]);
        out.append("dword:");
        for (int shift = 28; shift >= 0; shift -= 4) out.push_back(kHex[(d >> shift) & 15]);
      } else if (v.type == kTypeBinary) {
        out.append("hex:");
        AppendHexBytes(out, v.data);
      } else {
        out.append("hex(").append(std::to_string(v.type)).append("):");
        AppendHexBytes(out, v.data);
      }
      out.push_back('\n');
    }
  }
  for (const auto& child : node.children) {
    const size_t keep = prefix.size();
    if (!isRoot) prefix.push_back('\\');
    prefix.append(child->name);
    Serialize(*child, prefix, false, out);
    prefix.resize(keep);
  }
}

std::string Serialize(const Node& root) {
  std::string out = "; QS-Veilgate registry store, Windows-1251 text\n";
  std::string prefix;
  Serialize(root, prefix, true, out);
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseQuoted(std::string_view& s, std::string& out) {
  out.clear();
  if (s.empty() || s[0] != '"') return false;
  size_t i = 1;
  while (i < s.size() && s[i] != '"') {
    if (s[i] == '\\') {
      if (i + 1 >= s.size()) return false;
      const char e = s[i + 1];
      if (e == '"' || e == '\\') {
        out.push_back(e);
        i += 2;
      } else if (e == 'x' && i + 3 < s.size() && HexDigit(s[i + 2]) >= 0 && HexDigit(s[i + 3]) >= 0) {
        out.push_back(static_cast<char>(HexDigit(s[i + 2]) * 16 + HexDigit(s[i + 3])));
        i += 4;
      } else {
        return false;
      }
    } else {
      out.push_back(s[i++]);
    }
  }
  if (i >= s.size()) return false;
  s.remove_prefix(i + 1);
  return true;
}

bool ParseHexBytes(std::string_view s, std::string& out) {
  out.clear();
  size_t i = 0;
  while (i < s.size()) {
    if (i + 1 >= s.size() || HexDigit(s[i]) < 0 || HexDigit(s[i + 1]) < 0) return false;
    out.push_back(static_cast<char>(HexDigit(s[i]) * 16 + HexDigit(s[i + 1])));
    i += 2;
    if (i < s.size()) {
      if (s[i] != ',' || i + 1 == s.size()) return false;
      ++i;
    }
  }
  return true;
}

bool ParseValueLine(std::string_view s, Value& v) {
  if (!ParseQuoted(s, v.name) || s.empty() || s[0] != '=') return false;
  s.remove_prefix(1);
  auto take = [&](std::string_view tag) {
    if (s.substr(0, tag.size()) != tag) return false;
    s.remove_prefix(tag.size());
    return true;
  };
  if (take("sz:")) {
    v.type = kTypeString;
    return ParseQuoted(s, v.data) && s.empty();
  }
  if (take("expand:")) {
    v.type = kTypeExpandString;
    return ParseQuoted(s, v.data) && s.empty();
  }
  if (take("dword:")) {
    if (s.size() != 8) return false;
    uint32_t d = 0;
    for (char c : s) {
      if (HexDigit(c) < 0) return false;
      d = d * 16 + static_cast<uint32_t>(HexDigit(c));
    }
    v.type = kTypeDword;
    v.data.assign(4, '\0');
    for (int i = 0; i < 4; ++i) v.data[i] = static_cast<char>((d >> (8 * i)) & 0xFF);
    return true;
  }
  if (take("hex:")) {
    v.type = kTypeBinary;
    return ParseHexBytes(s, v.data);
  }
  if (take("hex(")) {
    const size_t close = s.find("):");
    if (close == 0 || close == std::string_view::npos || close > 10) return false;
    uint64_t t = 0;
    for (char c : s.substr(0, close)) {
      if (c < '0' || c > '9') return false;
      t = t * 10 + static_cast<uint64_t>(c - '0');
    }
    if (t > 0xFFFFFFFFu) return false;
    v.type = static_cast<uint32_t>(t);
    return ParseHexBytes(s.substr(close + 2), v.data);
  }
  return false;
}

bool Parse(std::string_view text, Node& root) {
  Node* current = &root;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    std::string_view line = text.substr(pos, nl - pos);
    pos = nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.size() < 2 || line.back() != ']') return false;
      current = &root;
      for (std::string_view part : SplitPath(line.substr(1, line.size() - 2))) {
        if (!ValidKeyName(part)) return false;
        Node* next = current->Find(part);
        current = next ? next : current->Add(part);
      }
      continue;
    }
    Value v;
    if (!ParseValueLine(line, v)) return false;
    if (Value* old = current->FindValue(v.name))
      *old = std::move(v);
    else
      current->values.push_back(std::move(v));
  }
  return true;
}

std::string StoreFile(Root root) {
  std::string dir = StoreDirectory();
  if (!dir.empty() && dir.back() != '/') dir.push_back('/');
  return dir + RootName(root) + ".txt";
}

long Load(Root root, Node& tree) {
  std::string text;
  const int err = ReadWholeFile(StoreFile(root), text);
  if (err == ENOENT) return kSuccess;
  if (err != 0) return FromErrno(err);
  return Parse(text, tree) ? kSuccess : kStoreCorrupt;
}

// Follows names from node; nullptr when one is missing.
Node* Walk(Node* node, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    node = node->Find(name);
    if (!node) return nullptr;
  }
  return node;
}

// Loads the tree and finds the key's node, or explains why not.
long Resolve(const Key& key, Node& tree, Node*& node) {
  if (!key.open) return kInvalidHandle;
  if (long rc = Load(key.root, tree)) return rc;
  node = Walk(&tree, key.path);
  return node ? kSuccess : kKeyDeleted;
}

// Changes the root's tree under the store's lock; change() returns a result code and sets
// changed when the tree must be written back. Only changes that may add something create the
// store's directory and file.
template <class Change>
long Modify(Root root, bool mayAdd, Change&& change) {
  long result = kSuccess;
  bool called = false;
  const std::string file = StoreFile(root);
  if (mayAdd) {
    if (int err = MakeDirectories(StoreDirectory())) return FromErrno(err);
  }
  const int err = UpdateFileLocked(
      file,
      [&](std::string& content, bool& changed) {
        called = true;
        Node tree;
        if (!Parse(content, tree)) {
          result = kStoreCorrupt;
          return ECANCELED;
        }
        result = change(tree, changed);
        if (result != kSuccess) return ECANCELED;
        if (changed) content = Serialize(tree);
        return 0;
      },
      mayAdd);
  if (err == 0 && !called) {
    // No store file yet: the change meets an empty tree, which it cannot alter.
    Node empty;
    bool changed = false;
    return change(empty, changed);
  }
  if (result != kSuccess) return result;
  return FromErrno(err);
}

}  // namespace

std::string ErrorText(long code) {
  switch (code) {
    case kSuccess:
      return "The operation completed successfully";
    case kNotFound:
      return "The key or value does not exist";
    case kAccessDenied:
      return "Access is denied";
    case kInvalidHandle:
      return "The key is not open";
    case kInvalidParameter:
      return "The name or data is not valid";
    case kDiskFull:
      return "There is not enough space on the disk";
    case kStoreCorrupt:
      return "The registry store file is corrupt";
    case kIoFailed:
      return "The registry store file could not be read or written";
    case kKeyDeleted:
      return "The key has been deleted";
    default:
      return "Registry error " + std::to_string(code);
  }
}

long OpenKey(const Key& base, std::string_view subPath, Access access, Key& result) {
  Node tree;
  Node* node = nullptr;
  if (long rc = Resolve(base, tree, node)) return rc;
  Key k = base;
  k.access = access;
  for (std::string_view part : SplitPath(subPath)) {
    node = node->Find(part);
    if (!node) return kNotFound;
    k.path.push_back(node->name);
  }
  result = std::move(k);
  return kSuccess;
}

long CreateKey(const Key& base, std::string_view subPath, Key& result) {
  if (!base.open) return kInvalidHandle;
  if (base.access != Access::kWrite) return kAccessDenied;
  const auto parts = SplitPath(subPath);
  for (std::string_view part : parts)
    if (!ValidKeyName(part)) return kInvalidParameter;
  // Existing keys are opened without touching the file.
  if (OpenKey(base, subPath, Access::kWrite, result) == kSuccess) return kSuccess;
  Key k = base;
  const long rc = Modify(base.root, true, [&](Node& tree, bool& changed) {
    Node* node = Walk(&tree, base.path);
    if (!node) return kKeyDeleted;
    for (std::string_view part : parts) {
      Node* next = node->Find(part);
      if (!next) {
        next = node->Add(part);
        changed = true;
      }
      k.path.push_back(next->name);
      node = next;
    }
    return kSuccess;
  });
  if (rc == kSuccess) {
    k.access = Access::kWrite;
    result = std::move(k);
  }
  return rc;
}

long EnumKeys(const Key& key, std::vector<std::string>& names) {
  names.clear();
  Node tree;
  Node* node = nullptr;
  if (long rc = Resolve(key, tree, node)) return rc;
  for (const auto& c : node->children) names.push_back(c->name);
  return kSuccess;
}

long EnumValues(const Key& key, std::vector<std::string>& names) {
  names.clear();
  Node tree;
  Node* node = nullptr;
  if (long rc = Resolve(key, tree, node)) return rc;
  for (const auto& v : node->values) names.push_back(v.name);
  return kSuccess;
}

long QueryValue(const Key& key, std::string_view name, uint32_t& type, std::string& data) {
  Node tree;
  Node* node = nullptr;
  if (long rc = Resolve(key, tree, node)) return rc;
  Value* v = node->FindValue(name);
  if (!v) return kNotFound;
  type = v->type;
  data = v->data;
  return kSuccess;
}

long SetValue(const Key& key, std::string_view name, uint32_t type, std::string_view data) {
  if (!key.open) return kInvalidHandle;
  if (key.access != Access::kWrite) return kAccessDenied;
  if (!ValidValueName(name) || (type == kTypeDword && data.size() != 4)) return kInvalidParameter;
  return Modify(key.root, true, [&](Node& tree, bool& changed) {
    Node* node = Walk(&tree, key.path);
    if (!node) return kKeyDeleted;
    Value* v = node->FindValue(name);
    if (!v) {
      node->values.push_back(Value{std::string(name), type, std::string(data)});
      changed = true;
    } else if (v->type != type || v->data != data) {
      v->type = type;
      v->data = std::string(data);
      changed = true;
    }
    return kSuccess;
  });
}

long DeleteValue(const Key& key, std::string_view name) {
  if (!key.open) return kInvalidHandle;
  if (key.access != Access::kWrite) return kAccessDenied;
  return Modify(key.root, false, [&](Node& tree, bool& changed) {
    Node* node = Walk(&tree, key.path);
    if (!node) return kKeyDeleted;
    auto it = std::find_if(node->values.begin(), node->values.end(),
                           [&](const Value& v) { return SameTextCp1251(v.name, name); });
    if (it == node->values.end()) return kNotFound;
    node->values.erase(it);
    changed = true;
    return kSuccess;
  });
}

long DeleteKeyTree(const Key& key, std::string_view subPath) {
  if (!key.open) return kInvalidHandle;
  if (key.access != Access::kWrite) return kAccessDenied;
  const auto parts = SplitPath(subPath);
  if (parts.empty()) return kInvalidParameter;
  return Modify(key.root, false, [&](Node& tree, bool& changed) {
    Node* parent = Walk(&tree, key.path);
    if (!parent) return kKeyDeleted;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
      parent = parent->Find(parts[i]);
      if (!parent) return kNotFound;
    }
    auto it = std::find_if(parent->children.begin(), parent->children.end(),
                           [&](const std::unique_ptr<Node>& c) { return SameTextCp1251(c->name, parts.back()); });
    if (it == parent->children.end()) return kNotFound;
    parent->children.erase(it);
    changed = true;
    return kSuccess;
  });
}

std::string StoreDirectory() {
  if (const char* dir = std::getenv("VG_REGISTRY_DIR"); dir && *dir) return dir;
  std::string base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    std::string h = home && *home ? home : "";
    if (h.empty()) {
      if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) h = pw->pw_dir;
    }
    if (h.empty()) h = "/tmp";
    base = h + "/.local/share";
  }
  return base + "/qs-veilgate/registry";
}

}  // namespace vg::platform::registry
