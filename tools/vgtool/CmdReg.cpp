// vgtool reg list|get|set|delete: inspects and prepares the registry store.
#include <cstdint>
#include <iostream>
#include <string>

#include "Command.h"
#include "platform/CodePage.h"
#include "platform/Registry.h"
#include "platform/SysUtils.h"

namespace {
namespace reg = vg::platform::registry;

struct KeyText {
  reg::Root root;
  std::string path;  // Windows-1251
  std::string text;  // as given, Windows-1251
};

KeyText ParseKey(const std::string& utf8) {
  KeyText k{reg::Root::kLocalMachine, {}, vg::platform::Utf8ToCp1251(utf8)};
  if (!reg::SplitKeyText(k.text, k.root, k.path))
    throw vgtool::UsageError{"'" + utf8 + "' does not start with a root key such as HKEY_CURRENT_USER"};
  return k;
}

[[noreturn]] void Fail(const std::string& what, const std::string& name, long code) {
  throw vg::Exception(what + " \"" + name + "\": " + reg::ErrorText(code));
}

reg::Key Open(const KeyText& k, reg::Access access) {
  reg::Key key;
  if (long rc = reg::OpenKey(reg::Key::RootKey(k.root), k.path, access, key)) Fail("cannot open key", k.text, rc);
  return key;
}

const char* TypeName(uint32_t type) {
  switch (type) {
    case reg::kTypeString:
      return "string";
    case reg::kTypeExpandString:
      return "expand";
    case reg::kTypeDword:
      return "dword";
    case reg::kTypeBinary:
      return "binary";
    default:
      return nullptr;
  }
}

std::string Hex(const std::string& data) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : data) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

uint32_t Dword(const std::string& data) {
  uint32_t v = 0;
  for (size_t i = data.size(); i-- > 0;) v = (v << 8) | static_cast<unsigned char>(data[i]);
  return v;
}

// The value's data as text for the terminal (strings converted to UTF-8).
std::string DataText(uint32_t type, const std::string& data) {
  if (type == reg::kTypeString || type == reg::kTypeExpandString) return vg::platform::Cp1251ToUtf8(data);
  if (type == reg::kTypeDword && data.size() == 4) return std::to_string(Dword(data));
  return Hex(data);
}

std::string ParseDword(const std::string& text) {
  std::string digits = text;
  bool negative = false;
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
    negative = digits[0] == '-';
    digits.erase(0, 1);
  }
  int base = 10;
  if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) {
    base = 16;
    digits.erase(0, 2);
  } else if (!digits.empty() && digits[0] == '$') {
    base = 16;
    digits.erase(0, 1);
  }
  uint64_t v = 0;
  bool ok = !digits.empty();
  for (char c : digits) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) ok = false;
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d < 0 ? 0 : d);
    if (v > 0xFFFFFFFFu) ok = false;
    if (!ok) break;
  }
  if (ok && negative && v > 0x80000000u) ok = false;
  if (!ok) throw vgtool::UsageError{"'" + text + "' is not a 32-bit integer"};
  const uint32_t w = negative ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
  std::string data(4, '\0');
  for (size_t i = 0; i < 4; ++i) data[i] = static_cast<char>((w >> (8 * i)) & 0xFF);
  return data;
}

std::string ParseHex(const std::string& text) {
  std::string data;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ',' || c == ':' || c == '-') continue;
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) throw vgtool::UsageError{"'" + text + "' is not hexadecimal bytes"};
    if (high < 0) {
      high = d;
    } else {
      data.push_back(static_cast<char>(high * 16 + d));
      high = -1;
    }
  }
  if (high >= 0) throw vgtool::UsageError{"'" + text + "' has an odd number of hexadecimal digits"};
  return data;
}

std::string ShownName(const std::string& cp1251) {
  return cp1251.empty() ? "(default)" : vg::platform::Cp1251ToUtf8(cp1251);
}

int List(const KeyText& k) {
  const reg::Key key = Open(k, reg::Access::kRead);
  std::vector<std::string> names;
  if (long rc = reg::EnumKeys(key, names)) Fail("cannot list the subkeys of", k.text, rc);
  for (const std::string& n : names) std::cout << "[" << vg::platform::Cp1251ToUtf8(n) << "]\n";
  if (long rc = reg::EnumValues(key, names)) Fail("cannot list the values of", k.text, rc);
  for (const std::string& n : names) {
    uint32_t type = 0;
    std::string data;
    if (long rc = reg::QueryValue(key, n, type, data)) Fail("cannot read value", n, rc);
    const char* t = TypeName(type);
    std::cout << ShownName(n) << " = " << (t ? t : ("type " + std::to_string(type)).c_str()) << ":";
    std::string shown = DataText(type, data);
    for (char& c : shown)
      if (static_cast<unsigned char>(c) < 0x20) c = '?';
    std::cout << shown << "\n";
  }
  return 0;
}

int Get(const KeyText& k, const std::string& name) {
  const reg::Key key = Open(k, reg::Access::kRead);
  uint32_t type = 0;
  std::string data;
  if (long rc = reg::QueryValue(key, name, type, data)) Fail("cannot read value", name, rc);
  std::cout << DataText(type, data) << "\n";
  return 0;
}

int Set(const KeyText& k, const std::string& name, const std::string& type, const std::string& valueUtf8) {
  uint32_t t = 0;
  std::string data;
  if (type == "string" || type == "expand") {
    t = type == "string" ? reg::kTypeString : reg::kTypeExpandString;
    data = vg::platform::Utf8ToCp1251(valueUtf8);
  } else if (type == "dword") {
    t = reg::kTypeDword;
    data = ParseDword(valueUtf8);
  } else if (type == "binary") {
    t = reg::kTypeBinary;
    data = ParseHex(valueUtf8);
  } else {
    throw vgtool::UsageError{"unknown value type '" + type + "'"};
  }
  reg::Key key;
  if (long rc = reg::CreateKey(reg::Key::RootKey(k.root), k.path, key)) Fail("cannot create key", k.text, rc);
  if (long rc = reg::SetValue(key, name, t, data)) Fail("cannot write value", name, rc);
  return 0;
}

int Delete(const KeyText& k, const std::string* name) {
  if (name) {
    const reg::Key key = Open(k, reg::Access::kWrite);
    if (long rc = reg::DeleteValue(key, *name)) Fail("cannot delete value", *name, rc);
    return 0;
  }
  if (k.path.find_first_not_of('\\') == std::string::npos)
    throw vgtool::UsageError{"a root key cannot be deleted"};
  if (long rc = reg::DeleteKeyTree(reg::Key::RootKey(k.root), k.path)) Fail("cannot delete key", k.text, rc);
  return 0;
}

vgtool::Registration registration(
    "reg",
    "reg list KEY | get KEY NAME | set KEY NAME string|expand|dword|binary VALUE | delete KEY [NAME]\n"
    "         (KEY like HKEY_CURRENT_USER\\Software\\NorvelSystems; binary VALUE as hex;\n"
    "          the store lives in $VG_REGISTRY_DIR)",
    [](const vgtool::Args& args) {
      if (args.size() < 2) throw vgtool::UsageError{"expected an action and a key"};
      const std::string& action = args[0];
      const KeyText key = ParseKey(args[1]);
      auto name = [&](size_t i) { return vg::platform::Utf8ToCp1251(args[i]); };
      if (action == "list" && args.size() == 2) return List(key);
      if (action == "get" && args.size() == 3) return Get(key, name(2));
      if (action == "set" && args.size() == 5) return Set(key, name(2), args[3], args[4]);
      if (action == "delete" && args.size() == 2) return Delete(key, nullptr);
      if (action == "delete" && args.size() == 3) {
        const std::string n = name(2);
        return Delete(key, &n);
      }
      throw vgtool::UsageError{"unknown action or wrong number of arguments"};
    });

}  // namespace
