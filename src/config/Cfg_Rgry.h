#pragma once
// Settings storage in the registry: sections are keys, items are values.
#include <memory>
#include <string>
#include <vector>

#include "config/Cfg_Abst.h"
#include "platform/Registry.h"

namespace vg {

// A failing registry call, as the accessor reports it.
class ERegistryError : public Exception {
 public:
  using Exception::Exception;
};

// A root key plus one open current key, with typed reads and writes of the current key's
// values. Reads and writes without an open current key fail.
class TRegistryAccessor {
 public:
  // The current key starts out as the root key itself.
  explicit TRegistryAccessor(platform::registry::Key root);

  const platform::registry::Key& RootKey() const { return root_; }
  const platform::registry::Key& CurrentKey() const { return current_; }
  bool HasCurrentKey() const { return current_.open; }

  // Makes path below the root the current key. False when the key cannot be opened (missing,
  // refused, no root); a store that cannot be read raises ERegistryError.
  bool OpenKey(const std::string& path, bool canCreate);
  bool OpenKeyReadOnly(const std::string& path);
  void CloseKey();

  // Without a current key both lists are empty.
  std::vector<std::string> GetKeyNames();
  std::vector<std::string> GetValueNames();
  bool ValueExists(const std::string& name);
  // kTypeNone when the value is missing or cannot be read.
  uint32_t DataType(const std::string& name);

  int32_t ReadInteger(const std::string& name);
  bool ReadBool(const std::string& name);
  // String and expandable string values (the latter unexpanded).
  std::string ReadString(const std::string& name);
  // Binary values and values of types other than strings and integers.
  size_t DataSize(const std::string& name);
  size_t ReadBinaryData(const std::string& name, void* buffer, size_t size);

  void WriteInteger(const std::string& name, int32_t value);
  void WriteBool(const std::string& name, bool value);
  void WriteString(const std::string& name, const std::string& value);
  void WriteExpandString(const std::string& name, const std::string& value);
  void WriteBinaryData(const std::string& name, const void* buffer, size_t count);

  // Deletes the subkey path with everything below it; false when the registry refuses.
  bool DeleteKey(const std::string& path);
  bool DeleteValue(const std::string& name);

 private:
  bool Open(const std::string& path, platform::registry::Access access, bool create);
  std::string Query(const std::string& name, uint32_t& type);
  void Set(const std::string& name, uint32_t type, const std::string& data);

  platform::registry::Key root_;
  platform::registry::Key current_;
};

class TRegistryConfigStorage : public TConfigStorage {
 public:
  explicit TRegistryConfigStorage(std::unique_ptr<TRegistryAccessor> accessor);

  // False when the key could not be opened and the storage stands for an empty key.
  bool KeyOpened() const { return accessor_->HasCurrentKey(); }
  TRegistryAccessor& Accessor() { return *accessor_; }

  std::unique_ptr<TConfigStorage> OpenSection(const std::string& name, bool readOnly, bool create) override;
  void ListSections(std::vector<std::string>& list) override;
  void DeleteSection(const std::string& name, bool recursive) override;
  void ListItems(std::vector<std::string>& list) override;
  void DeleteItem(const std::string& name) override;
  TItemKinds ItemKinds(const std::string& name) override;
  int32_t ReadInteger(const std::string& name) override;
  std::string ReadString(const std::string& name) override;
  bool ReadBool(const std::string& name) override;
  void WriteInteger(const std::string& name, int32_t value) override;
  void WriteString(const std::string& name, const std::string& value) override;
  void WriteBool(const std::string& name, bool value) override;
  size_t BinarySize(const std::string& name) override;
  size_t ReadBinary(const std::string& name, void* buffer, size_t size) override;
  void WriteBinary(const std::string& name, const void* buffer, size_t count) override;

 private:
  std::unique_ptr<TRegistryAccessor> accessor_;
};

// The storage for keyPath (backslash-separated) below the root key. A key that cannot be
// opened gives a storage that behaves as an empty key.
std::unique_ptr<TRegistryConfigStorage> OpenRegistryStorage(const std::string& keyPath, bool readOnly, bool create,
                                                            platform::registry::Root root);

}  // namespace vg
