#pragma once
// Settings storage: an abstract tree of sections holding named items, and the base of every
// settings object, which loads and saves itself section by section through a storage.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/SysUtils.h"

namespace vg {

// The general error of the settings storage and of the settings classes.
class EConfigException : public Exception {
 public:
  using Exception::Exception;
};

enum class TItemKind : uint8_t { Int = 0, Str = 1, Bool = 2, Bin = 3 };

// A set over TItemKind (Int bit 0, Str bit 1, Bool bit 2, Bin bit 3).
class TItemKinds {
 public:
  constexpr TItemKinds() = default;
  constexpr TItemKinds(std::initializer_list<TItemKind> kinds) {
    for (TItemKind k : kinds) Add(k);
  }
  constexpr bool Has(TItemKind k) const { return (bits_ & Bit(k)) != 0; }
  constexpr void Add(TItemKind k) { bits_ = static_cast<uint8_t>(bits_ | Bit(k)); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr uint8_t Bits() const { return bits_; }
  friend constexpr bool operator==(TItemKinds a, TItemKinds b) { return a.bits_ == b.bits_; }

 private:
  static constexpr uint8_t Bit(TItemKind k) { return static_cast<uint8_t>(1u << static_cast<unsigned>(k)); }
  uint8_t bits_ = 0;
};

// One section of a settings tree. Opening a subsection gives a new, independent storage
// object owned by the caller. Names and texts are Windows-1251 byte strings.
class TConfigStorage {
 public:
  virtual ~TConfigStorage() = default;

  virtual std::unique_ptr<TConfigStorage> OpenSection(const std::string& name, bool readOnly, bool create) = 0;
  // Replace the list's content with the names of the direct subsections.
  virtual void ListSections(std::vector<std::string>& list) = 0;
  virtual void DeleteSection(const std::string& name, bool recursive) = 0;
  virtual bool SectionExists(const std::string& name);
  // Replace the list's content with the item names of this section.
  virtual void ListItems(std::vector<std::string>& list) = 0;
  virtual void DeleteItem(const std::string& name) = 0;
  virtual bool ItemExists(const std::string& name);
  virtual TItemKinds ItemKinds(const std::string& name) = 0;
  virtual int32_t ReadInteger(const std::string& name) = 0;
  virtual std::string ReadString(const std::string& name) = 0;
  virtual bool ReadBool(const std::string& name) = 0;
  virtual void WriteInteger(const std::string& name, int32_t value) = 0;
  virtual void WriteString(const std::string& name, const std::string& value) = 0;
  virtual void WriteBool(const std::string& name, bool value) = 0;
  virtual size_t BinarySize(const std::string& name) = 0;
  // Copies at most size bytes of the item into buffer; returns the item's full byte count.
  virtual size_t ReadBinary(const std::string& name, void* buffer, size_t size) = 0;
  virtual void WriteBinary(const std::string& name, const void* buffer, size_t count) = 0;
  // The plain reads, with the default instead of any storage error.
  virtual int32_t ReadIntegerDef(const std::string& name, int32_t def);
  virtual std::string ReadStringDef(const std::string& name, const std::string& def);
  virtual bool ReadBoolDef(const std::string& name, bool def);
};

// Base of every settings object: a list of section names, each loaded and saved by the
// derived class through a storage opened for that section.
class TConfig {
 public:
  TConfig() = default;
  virtual ~TConfig() = default;
  TConfig(const TConfig&) = delete;
  TConfig& operator=(const TConfig&) = delete;

  virtual bool LoadSection(int index, TConfigStorage& storage) = 0;
  virtual bool SaveSection(int index, TConfigStorage& storage) = 0;
  // Constructs an empty object of the caller's own class; Clone builds on it.
  virtual std::unique_ptr<TConfig> CreateEmpty() const = 0;
  virtual void Assign(const TConfig& source) = 0;

  // Registers a section; a name already registered (in any letter case) keeps its index.
  int AddSection(const std::string& name);
  const std::vector<std::string>& Sections() const { return sections_; }

  // Every section in list order; the result is false if any section reported failure.
  // Errors (a missing section, for one) pass out and end the load or save.
  bool LoadFrom(TConfigStorage& storage);
  bool SaveTo(TConfigStorage& storage);
  std::unique_ptr<TConfig> Clone() const;

 private:
  std::vector<std::string> sections_;
};

}  // namespace vg
