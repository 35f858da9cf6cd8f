#include "config/Cfg_Ini.h"

#include <cstring>

#include "platform/IniProfile.h"
#include "platform/TextCase.h"

namespace vg {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint32_t kFirstBuffer = 8192;

int SixBits(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

enum class ListOf { kSections, kKeys };

// Reads a NUL-separated list, doubling the buffer while the answer may have been cut.
std::vector<std::string> ReadList(const std::string& file, ListOf what, const std::string& section) {
  std::vector<char> buf(kFirstBuffer);
  uint32_t n = 0;
  for (;;) {
    const auto size = static_cast<uint32_t>(buf.size());
    n = what == ListOf::kSections ? platform::profile::ReadSectionNames(file, buf.data(), size)
                                  : platform::profile::ReadKeyNames(file, section, buf.data(), size);
    if (n + 1 + 1 < size) break;
    buf.resize(buf.size() * 2);
  }
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < n && buf[pos] != '\0') {
    const size_t len = std::strlen(buf.data() + pos);
    names.emplace_back(buf.data() + pos, len);
    pos += len + 1;
  }
  return names;
}

std::string ReadText(const std::string& file, const std::string& section, const std::string& key) {
  std::vector<char> buf(kFirstBuffer);
  for (;;) {
    const auto size = static_cast<uint32_t>(buf.size());
    const uint32_t n = platform::profile::ReadValue(file, section, key, "", buf.data(), size);
    if (n + 1 < size) return std::string(buf.data(), n);
    buf.resize(buf.size() * 2);
  }
}

// Splits "kind=value"; with no "=" the kind is empty and the value is the whole text.
void SplitKind(const std::string& text, std::string& kind, std::string& value) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos) {
    kind.clear();
    value = text;
  } else {
    kind = text.substr(0, eq);
    value = text.substr(eq + 1);
  }
}

constexpr const char* kInt = "Int";
constexpr const char* kStr = "Str";
constexpr const char* kBool = "Bool";
constexpr const char* kBin = "Bin";

}  // namespace

std::string EncodeBinaryText(const void* data, size_t count, bool padded) {
  const auto* p = static_cast<const unsigned char*>(data);
  std::string out;
  out.reserve((count + 2) / 3 * 4);
  for (size_t i = 0; i < count; i += 3) {
    uint32_t v = p[i];
    if (i + 1 < count) v |= static_cast<uint32_t>(p[i + 1]) << 8;
    if (i + 2 < count) v |= static_cast<uint32_t>(p[i + 2]) << 16;
    for (int k = 0; k < 4; ++k) out.push_back(kAlphabet[(v >> (6 * k)) & 63]);
  }
  const size_t chars = (4 * count + 2) / 3;
  if (padded)
    out.replace(chars, std::string::npos, out.size() - chars, '=');
  else
    out.resize(chars);
  return out;
}

bool IsBinaryText(std::string_view text) {
  for (char c : text)
    if (SixBits(c) < 0) return false;
  return true;
}

size_t BinaryTextSize(std::string_view text) {
  size_t n = text.size();
  while (n > 0 && text[n - 1] == '=') --n;
  return n * 3 / 4;
}

size_t DecodeBinaryText(std::string_view text, void* buffer, size_t size) {
  const size_t count = BinaryTextSize(text);
  const size_t wanted = count < size ? count : size;
  auto* out = static_cast<unsigned char*>(buffer);
  for (size_t group = 0; group * 3 < wanted; ++group) {
    uint32_t v = 0;
    for (size_t k = 0; k < 4; ++k) {
      const size_t at = group * 4 + k;
      const int bits = at < text.size() ? SixBits(text[at]) : 0;
      if (bits > 0) v |= static_cast<uint32_t>(bits) << (6 * k);
    }
    for (size_t b = 0; b < 3 && group * 3 + b < wanted; ++b)
      out[group * 3 + b] = static_cast<unsigned char>((v >> (8 * b)) & 0xFF);
  }
  return count;
}

bool ParseIntegerText(std::string_view text, int32_t& value) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i < text.size() && text[i] == '$') {
    ++i;
    if (i == text.size()) return false;
    uint64_t u = 0;
    for (; i < text.size(); ++i) {
      const char c = text[i];
      int d;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        return false;
      u = u * 16 + static_cast<uint64_t>(d);
      if (u > 0xFFFFFFFFu) return false;
    }
    uint32_t w = static_cast<uint32_t>(u);
    if (negative) w = 0u - w;
    value = static_cast<int32_t>(w);
    return true;
  }
  if (i == text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
    if (v > 2147483648LL) return false;
  }
  if (negative) v = -v;
  if (v > INT32_MAX) return false;
  value = static_cast<int32_t>(v);
  return true;
}

TIniConfigStorage::TIniConfigStorage(std::string fileName, std::string path, bool readOnly, bool typed)
    : fileName_(std::move(fileName)), path_(path.empty() ? "\\" : std::move(path)), readOnly_(readOnly), typed_(typed) {}

std::unique_ptr<TIniConfigStorage> OpenIniStorage(const std::string& fileName, const std::string& path,
                                                  bool readOnly, bool typed) {
  return std::make_unique<TIniConfigStorage>(fileName, path, readOnly, typed);
}

std::string TIniConfigStorage::ChildPath(const std::string& name) const { return path_ + "\\" + name; }

std::unique_ptr<TConfigStorage> TIniConfigStorage::OpenSection(const std::string& name, bool readOnly, bool create) {
  const std::string child = ChildPath(name);
  const bool exists = SectionExists(name);
  if (!exists && (!create || readOnly_))
    throw EIniConfigException(Format(VGT("Раздел \"%s\" не существует"), {child}));
  auto storage = std::make_unique<TIniConfigStorage>(fileName_, child, readOnly || readOnly_, typed_);
  if (create && !exists) {
    // The empty header is written in one rewrite, so a writer killed here leaves either no
    // section or the empty one.
    if (!platform::profile::AddSection(fileName_, child))
      throw EIniConfigException(Format(VGT("Не могу записать элемент \"%s\" в разделе \"%s\". Ошибка %d."),
                                       {"@", child, platform::profile::LastError()}));
  }
  return storage;
}

void TIniConfigStorage::ListSections(std::vector<std::string>& list) {
  list.clear();
  const std::string prefix = path_ + "\\";
  for (const std::string& section : ReadList(fileName_, ListOf::kSections, {})) {
    if (!platform::StartsWithTextCp1251(section, prefix)) continue;
    std::string rest = section.substr(prefix.size());
    const size_t bs = rest.find('\\');
    if (bs != std::string::npos) rest.resize(bs);
    if (rest.empty()) continue;
    bool seen = false;
    for (const std::string& s : list)
      if (platform::SameTextCp1251(s, rest)) seen = true;
    if (!seen) list.push_back(std::move(rest));
  }
}

void TIniConfigStorage::DeleteSection(const std::string& name, bool recursive) {
  const std::string child = ChildPath(name);
  if (readOnly_)
    throw EIniConfigException(Format(VGT("Нельзя удалить раздел \"%s\" открытый только для чтения"), {child}));
  std::unique_ptr<TConfigStorage> section = OpenSection(name, false, false);
  std::vector<std::string> subsections;
  section->ListSections(subsections);
  if (!recursive && !subsections.empty())
    throw EIniConfigException(Format(VGT("Нельзя удалить непустой раздел \"%s\""), {child}));
  for (const std::string& sub : subsections) section->DeleteSection(sub, true);
  if (!platform::profile::DeleteSection(fileName_, child))
    throw EIniConfigException(
        Format(VGT("Не могу удалить раздел \"%s\". Ошибка %d."), {child, platform::profile::LastError()}));
}

void TIniConfigStorage::ListItems(std::vector<std::string>& list) {
  list = ReadList(fileName_, ListOf::kKeys, path_);
}

void TIniConfigStorage::DeleteItem(const std::string& name) {
  if (readOnly_)
    throw EIniConfigException(
        Format(VGT("Нельзя удалить элемент \"%s\" в разделе \"%s\", открытом только для чтения"), {name, path_}));
  if (!platform::profile::DeleteKey(fileName_, path_, name))
    throw EIniConfigException(Format(VGT("Не могу удалить элемент \"%s\" в разделе \"%s\". Ошибка %d."),
                                     {name, path_, platform::profile::LastError()}));
}

std::string TIniConfigStorage::StoredText(const std::string& name) {
  if (!ItemExists(name))
    throw EIniConfigException(Format(VGT("Элемент \"%s\" отсутствует в разделе \"%s\""), {name, path_}));
  return ReadText(fileName_, path_, name);
}

std::string TIniConfigStorage::Value(const std::string& name, const char* kind) {
  std::string text = StoredText(name);
  if (!typed_) return text;
  std::string found, value;
  SplitKind(text, found, value);
  if (!platform::SameTextCp1251(found, kind))
    throw EIniConfigException(
        Format(VGT("Элемент \"%s\" в разделе \"%s\" имеет значение \"%s\" и тип \"%s\" вместо ожидаемого \"%s\""),
               {name, path_, value, found, kind}));
  return value;
}

std::string TIniConfigStorage::BinaryValue(const std::string& name) {
  std::string text = Value(name, kBin);
  if (!IsBinaryText(text))
    throw EIniConfigException(
        Format(VGT("Некорректный двоичный формат элемента \"%s\" в разделе \"%s\""), {name, path_}));
  return text;
}

TItemKinds TIniConfigStorage::ItemKinds(const std::string& name) {
  const std::string text = StoredText(name);
  TItemKinds kinds;
  if (typed_) {
    std::string kind, value;
    SplitKind(text, kind, value);
    if (kind == kInt) kinds.Add(TItemKind::Int);
    if (kind == kStr) kinds.Add(TItemKind::Str);
    if (kind == kBool) kinds.Add(TItemKind::Bool);
    if (kind == kBin) kinds.Add(TItemKind::Bin);
    return kinds;
  }
  kinds.Add(TItemKind::Str);
  int32_t v = 0;
  if (ParseIntegerText(text, v)) {
    kinds.Add(TItemKind::Int);
    if (v == 0 || v == 1) kinds.Add(TItemKind::Bool);
  }
  if (IsBinaryText(text)) kinds.Add(TItemKind::Bin);
  return kinds;
}

int32_t TIniConfigStorage::ReadInteger(const std::string& name) {
  int32_t v = 0;
  if (!ParseIntegerText(Value(name, kInt), v))
    throw EIniConfigException(
        Format(VGT("Элемент \"%s\" в разделе \"%s\" не является целым числом"), {name, path_}));
  return v;
}

std::string TIniConfigStorage::ReadString(const std::string& name) { return Value(name, kStr); }

bool TIniConfigStorage::ReadBool(const std::string& name) {
  const std::string v = Value(name, kBool);
  return !v.empty() && (v[0] == '1' || v[0] == 'T' || v[0] == 't');
}

size_t TIniConfigStorage::BinarySize(const std::string& name) { return BinaryTextSize(BinaryValue(name)); }

size_t TIniConfigStorage::ReadBinary(const std::string& name, void* buffer, size_t size) {
  return DecodeBinaryText(BinaryValue(name), buffer, size);
}

void TIniConfigStorage::Write(const std::string& name, const char* kind, const std::string& text) {
  if (readOnly_)
    throw EIniConfigException(
        Format(VGT("Нельзя изменить элемент \"%s\" в разделе \"%s\", открытом только для чтения"), {name, path_}));
  const std::string stored = typed_ ? std::string(kind) + "=" + text : text;
  if (!platform::profile::WriteValue(fileName_, path_, name, stored))
    throw EIniConfigException(Format(VGT("Не могу записать элемент \"%s\" в разделе \"%s\". Ошибка %d."),
                                     {name, path_, platform::profile::LastError()}));
}

void TIniConfigStorage::WriteInteger(const std::string& name, int32_t value) {
  Write(name, kInt, std::to_string(value));
}

void TIniConfigStorage::WriteString(const std::string& name, const std::string& value) { Write(name, kStr, value); }

void TIniConfigStorage::WriteBool(const std::string& name, bool value) { Write(name, kBool, value ? "1" : "0"); }

void TIniConfigStorage::WriteBinary(const std::string& name, const void* buffer, size_t count) {
  Write(name, kBin, EncodeBinaryText(buffer, count));
}

}  // namespace vg
