#include "config/Cfg_Rgry.h"

#include <cstring>

#include "platform/TypeName.h"

namespace vg {
namespace reg = platform::registry;
namespace {

std::string MessageOf(const std::exception& e) {
  if (const auto* own = dynamic_cast<const Exception*>(&e)) return own->Message();
  return e.what();
}

// Turns any failure of body into an EConfigException with the given message: the class name
// of the failure, its message and the value or key name (%s, %1:s and %2:s).
template <class Body>
auto Guard(const std::string& format, const std::string& name, Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const std::exception& e) {
    throw EConfigException(Format(format, {platform::ClassNameOf(e), MessageOf(e), name}));
  }
}

[[noreturn]] void Fail(const std::string& format, const std::string& name, long code) {
  throw ERegistryError(Format(format, {name, reg::ErrorText(code)}));
}

bool IsStringType(uint32_t type) { return type == reg::kTypeString || type == reg::kTypeExpandString; }

}  // namespace

// ---- TRegistryAccessor

TRegistryAccessor::TRegistryAccessor(reg::Key root) : root_(std::move(root)), current_(root_) {}

bool TRegistryAccessor::Open(const std::string& path, reg::Access access, bool create) {
  reg::Key key;
  const long rc = create ? reg::CreateKey(root_, path, key) : reg::OpenKey(root_, path, access, key);
  switch (rc) {
    case reg::kSuccess:
      current_ = std::move(key);
      return true;
    case reg::kNotFound:
    case reg::kAccessDenied:
    case reg::kInvalidHandle:
    case reg::kInvalidParameter:
    case reg::kKeyDeleted:
      return false;
    default:
      Fail(VGT("Cannot open key \"%s\": %s"), path, rc);
  }
}

bool TRegistryAccessor::OpenKey(const std::string& path, bool canCreate) {
  CloseKey();
  return Open(path, reg::Access::kWrite, canCreate);
}

bool TRegistryAccessor::OpenKeyReadOnly(const std::string& path) {
  CloseKey();
  return Open(path, reg::Access::kRead, false);
}

void TRegistryAccessor::CloseKey() { current_ = reg::Key(); }

std::vector<std::string> TRegistryAccessor::GetKeyNames() {
  std::vector<std::string> names;
  if (!current_.open) return names;
  if (long rc = reg::EnumKeys(current_, names)) Fail(VGT("Cannot list the subkeys of \"%s\": %s"), current_.PathText(), rc);
  return names;
}

std::vector<std::string> TRegistryAccessor::GetValueNames() {
  std::vector<std::string> names;
  if (!current_.open) return names;
  if (long rc = reg::EnumValues(current_, names)) Fail(VGT("Cannot list the values of \"%s\": %s"), current_.PathText(), rc);
  return names;
}

bool TRegistryAccessor::ValueExists(const std::string& name) { return DataType(name) != reg::kTypeNone; }

uint32_t TRegistryAccessor::DataType(const std::string& name) {
  uint32_t type = reg::kTypeNone;
  std::string data;
  if (!current_.open || reg::QueryValue(current_, name, type, data) != reg::kSuccess) return reg::kTypeNone;
  return type;
}

std::string TRegistryAccessor::Query(const std::string& name, uint32_t& type) {
  if (!current_.open) throw ERegistryError(Format(VGT("No key is open to read \"%s\" from"), {name}));
  std::string data;
  const long rc = reg::QueryValue(current_, name, type, data);
  if (rc == reg::kNotFound) throw ERegistryError(Format(VGT("Value \"%s\" does not exist"), {name}));
  if (rc != reg::kSuccess) Fail(VGT("Cannot read value \"%s\": %s"), name, rc);
  return data;
}

int32_t TRegistryAccessor::ReadInteger(const std::string& name) {
  uint32_t type = 0;
  const std::string data = Query(name, type);
  if (type != reg::kTypeDword || data.size() != 4)
    throw ERegistryError(Format(VGT("Value \"%s\" is not an integer"), {name}));
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[static_cast<size_t>(i)]);
  return static_cast<int32_t>(v);
}

bool TRegistryAccessor::ReadBool(const std::string& name) { return ReadInteger(name) != 0; }

std::string TRegistryAccessor::ReadString(const std::string& name) {
  uint32_t type = 0;
  std::string data = Query(name, type);
  if (!IsStringType(type)) throw ERegistryError(Format(VGT("Value \"%s\" is not a string"), {name}));
  // Strings written with their terminator read without it.
  while (!data.empty() && data.back() == '\0') data.pop_back();
  return data;
}

size_t TRegistryAccessor::DataSize(const std::string& name) {
  uint32_t type = 0;
  const std::string data = Query(name, type);
  if (IsStringType(type) || type == reg::kTypeDword)
    throw ERegistryError(Format(VGT("Value \"%s\" is not binary data"), {name}));
  return data.size();
}

size_t TRegistryAccessor::ReadBinaryData(const std::string& name, void* buffer, size_t size) {
  uint32_t type = 0;
  const std::string data = Query(name, type);
  if (IsStringType(type) || type == reg::kTypeDword)
    throw ERegistryError(Format(VGT("Value \"%s\" is not binary data"), {name}));
  if (size > 0 && !data.empty()) std::memcpy(buffer, data.data(), data.size() < size ? data.size() : size);
  return data.size();
}

void TRegistryAccessor::Set(const std::string& name, uint32_t type, const std::string& data) {
  if (!current_.open) throw ERegistryError(Format(VGT("No key is open to write \"%s\" to"), {name}));
  if (long rc = reg::SetValue(current_, name, type, data)) Fail(VGT("Cannot write value \"%s\": %s"), name, rc);
}

void TRegistryAccessor::WriteInteger(const std::string& name, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  std::string data(4, '\0');
  for (size_t i = 0; i < 4; ++i) data[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  Set(name, reg::kTypeDword, data);
}

void TRegistryAccessor::WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }

void TRegistryAccessor::WriteString(const std::string& name, const std::string& value) {
  Set(name, reg::kTypeString, value);
}

void TRegistryAccessor::WriteExpandString(const std::string& name, const std::string& value) {
  Set(name, reg::kTypeExpandString, value);
}

void TRegistryAccessor::WriteBinaryData(const std::string& name, const void* buffer, size_t count) {
  Set(name, reg::kTypeBinary, count ? std::string(static_cast<const char*>(buffer), count) : std::string());
}

bool TRegistryAccessor::DeleteKey(const std::string& path) {
  return current_.open && reg::DeleteKeyTree(current_, path) == reg::kSuccess;
}

bool TRegistryAccessor::DeleteValue(const std::string& name) {
  return current_.open && reg::DeleteValue(current_, name) == reg::kSuccess;
}

// ---- TRegistryConfigStorage

TRegistryConfigStorage::TRegistryConfigStorage(std::unique_ptr<TRegistryAccessor> accessor)
    : accessor_(std::move(accessor)) {}

namespace {

std::unique_ptr<TRegistryConfigStorage> OpenChild(TRegistryAccessor& parent, const std::string& name, bool readOnly,
                                                  bool create) {
  auto accessor = std::make_unique<TRegistryAccessor>(parent.CurrentKey());
  try {
    if (readOnly)
      accessor->OpenKeyReadOnly(name);
    else
      accessor->OpenKey(name, create);
  } catch (const EConfigException&) {
    throw;
  } catch (const std::exception& e) {
    throw EConfigException(Format(VGT("Exception %s on open subkey: %s"), {platform::ClassNameOf(e), MessageOf(e)}));
  }
  return std::make_unique<TRegistryConfigStorage>(std::move(accessor));
}

}  // namespace

std::unique_ptr<TRegistryConfigStorage> OpenRegistryStorage(const std::string& keyPath, bool readOnly, bool create,
                                                            reg::Root root) {
  // The temporary storage stands for the root key itself.
  TRegistryConfigStorage top(std::make_unique<TRegistryAccessor>(reg::Key::RootKey(root)));
  return OpenChild(top.Accessor(), keyPath, readOnly, create);
}

std::unique_ptr<TConfigStorage> TRegistryConfigStorage::OpenSection(const std::string& name, bool readOnly,
                                                                    bool create) {
  return OpenChild(*accessor_, name, readOnly, create);
}

void TRegistryConfigStorage::ListSections(std::vector<std::string>& list) {
  list = Guard(VGT("Exception %s on getting key list: %s"), {}, [&] { return accessor_->GetKeyNames(); });
}

void TRegistryConfigStorage::ListItems(std::vector<std::string>& list) {
  list = Guard(VGT("Exception %s on getting values list: %s"), {}, [&] { return accessor_->GetValueNames(); });
}

void TRegistryConfigStorage::DeleteSection(const std::string& name, bool /*recursive*/) {
  Guard(VGT("Exception %s on delete key \"%2:s\": %1:s"), name, [&] {
    if (!accessor_->DeleteKey(name)) throw EConfigException(Format(VGT("Error on delete key \"%s\""), {name}));
  });
}

void TRegistryConfigStorage::DeleteItem(const std::string& name) {
  Guard(VGT("Exception %s on delete value \"%2:s\": %1:s"), name, [&] {
    if (!accessor_->DeleteValue(name)) throw EConfigException(Format(VGT("Error on delete value \"%s\""), {name}));
  });
}

TItemKinds TRegistryConfigStorage::ItemKinds(const std::string& name) {
  switch (accessor_->DataType(name)) {
    case reg::kTypeString:
    case reg::kTypeExpandString:
      return {TItemKind::Str};
    case reg::kTypeDword:
      return {TItemKind::Int, TItemKind::Bool};
    case reg::kTypeBinary:
      return {TItemKind::Bin};
    default:
      return {};
  }
}

int32_t TRegistryConfigStorage::ReadInteger(const std::string& name) {
  return Guard(VGT("Exception %s on read integer value \"%2:s\": %1:s"), name,
               [&] { return accessor_->ReadInteger(name); });
}

std::string TRegistryConfigStorage::ReadString(const std::string& name) {
  return Guard(VGT("Exception %s on read string value \"%2:s\": %1:s"), name,
               [&] { return accessor_->ReadString(name); });
}

bool TRegistryConfigStorage::ReadBool(const std::string& name) {
  return Guard(VGT("Exception %s on read boolean value \"%2:s\": %1:s"), name,
               [&] { return accessor_->ReadBool(name); });
}

void TRegistryConfigStorage::WriteInteger(const std::string& name, int32_t value) {
  Guard(VGT("Exception %s on write integer value \"%2:s\": %1:s"), name,
        [&] { accessor_->WriteInteger(name, value); });
}

void TRegistryConfigStorage::WriteString(const std::string& name, const std::string& value) {
  Guard(VGT("Exception %s on write string value \"%2:s\": %1:s"), name, [&] { accessor_->WriteString(name, value); });
}

void TRegistryConfigStorage::WriteBool(const std::string& name, bool value) {
  Guard(VGT("Exception %s on write boolean value \"%2:s\": %1:s"), name, [&] { accessor_->WriteBool(name, value); });
}

size_t TRegistryConfigStorage::BinarySize(const std::string& name) {
  return Guard(VGT("Exception %s on get data size \"%2:s\": %1:s"), name, [&] { return accessor_->DataSize(name); });
}

size_t TRegistryConfigStorage::ReadBinary(const std::string& name, void* buffer, size_t size) {
  return Guard(VGT("Exception %s on read binary data \"%2:s\": %1:s"), name,
               [&] { return accessor_->ReadBinaryData(name, buffer, size); });
}

void TRegistryConfigStorage::WriteBinary(const std::string& name, const void* buffer, size_t count) {
  Guard(VGT("Exception %s on write binary data \"%2:s\": %1:s"), name,
        [&] { accessor_->WriteBinaryData(name, buffer, count); });
}

}  // namespace vg
