#pragma once
// Settings storage in an INI file: each section of the tree is one INI section whose name is
// the section's full path (parent path, backslash, name).
#include <string>
#include <string_view>

#include "config/Cfg_Abst.h"

namespace vg {

// Every error the INI storage itself detects.
class EIniConfigException : public EConfigException {
 public:
  using EConfigException::EConfigException;
};

// The text form of binary items: groups of three bytes read as little-endian 24-bit numbers,
// each written as four characters of A-Z a-z 0-9 + / taking the least significant six bits
// first. A short final group is cut to the characters it needs unless padded is asked, which
// appends "=" up to a multiple of four.
std::string EncodeBinaryText(const void* data, size_t count, bool padded = false);
// True if every character is in the alphabet (so padded texts are not valid items).
bool IsBinaryText(std::string_view text);
// The byte count a text holds: its characters without trailing "=", times 3, divided by 4.
size_t BinaryTextSize(std::string_view text);
// Decodes at most size bytes into buffer; returns the full byte count. Characters outside the
// alphabet (trailing "=" aside) decode as zero bits; check the text first.
size_t DecodeBinaryText(std::string_view text, void* buffer, size_t size);

// A signed 32-bit integer text: leading blanks, an optional sign, then decimal digits or "$"
// and hexadecimal digits (up to 32 bits, taken as two's complement), nothing after.
bool ParseIntegerText(std::string_view text, int32_t& value);

class TIniConfigStorage : public TConfigStorage {
 public:
  // An empty path stands for the file's root, written as a single backslash.
  TIniConfigStorage(std::string fileName, std::string path, bool readOnly, bool typed);

  const std::string& FileName() const { return fileName_; }
  const std::string& Path() const { return path_; }
  bool ReadOnly() const { return readOnly_; }
  bool Typed() const { return typed_; }

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
  std::string ChildPath(const std::string& name) const;
  // The item's stored text, kind prefix included; raises if the item is missing.
  std::string StoredText(const std::string& name);
  // The item's value; in a typed storage its kind must be the expected one.
  std::string Value(const std::string& name, const char* kind);
  std::string BinaryValue(const std::string& name);
  void Write(const std::string& name, const char* kind, const std::string& text);

  std::string fileName_;
  std::string path_;
  bool readOnly_;
  bool typed_;
};

// Nothing is read or checked here; errors show on the first use.
std::unique_ptr<TIniConfigStorage> OpenIniStorage(const std::string& fileName, const std::string& path,
                                                  bool readOnly, bool typed);

}  // namespace vg
