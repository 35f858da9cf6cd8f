#pragma once
// The crypto engine object and its companions: engine parameters, the parameter editor link
// and the list of engine types. Everything reaches the crypto library through CipherhubLib.
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protection/CipherhubLib.h"

namespace vg {

// A list of texts, each with an attached integer.
class TTaggedStrings {
 public:
  struct Item {
    std::string Text;
    int Tag = 0;
  };

  virtual ~TTaggedStrings() = default;

  int Count() const { return static_cast<int>(items_.size()); }
  const Item& operator[](int i) const { return items_.at(static_cast<size_t>(i)); }
  const std::vector<Item>& Items() const { return items_; }
  void Add(std::string text, int tag) { items_.push_back(Item{std::move(text), tag}); }
  void Clear() { items_.clear(); }
  // Replaces the items with copies of the source's items and tags.
  virtual void Assign(const TTaggedStrings& source) { items_ = source.items_; }

 private:
  std::vector<Item> items_;
};

// An engine type name with parameter values; each item is a value tagged with the parameter's
// 0-based index (the library numbers parameters from 1).
class TCryptoParams : public TTaggedStrings {
 public:
  const std::string& EngineType() const { return engineType_; }
  void SetEngineType(std::string name) { engineType_ = std::move(name); }

  // Appends a value; an existing item of the same index is kept.
  void AddParam(int index, std::string value) { Add(std::move(value), index); }
  int ParamIndex(int i) const { return (*this)[i].Tag; }
  const std::string& ParamValue(int i) const { return (*this)[i].Text; }

  // Copies the items and, from another TCryptoParams, the engine type name too.
  void Assign(const TTaggedStrings& source) override;

 private:
  std::string engineType_;
};

// Class name of an exception as the error reports show it ("ELoadCipherhubError").
std::string ExceptionClassName(const std::exception& error);

// One initialised engine of one engine type with its parameters applied. Every failure is
// reported through OnError as a Russian text and a false result; nothing is raised from
// SetEngineType or the data operations. Used by one thread at a time.
class TCryptoEngine {
 public:
  // Receives every error report (Windows-1251); bind the owner into the handler.
  using TErrorEvent = std::function<void(const std::string& message)>;

  TCryptoEngine() = default;
  ~TCryptoEngine();
  TCryptoEngine(const TCryptoEngine&) = delete;
  TCryptoEngine& operator=(const TCryptoEngine&) = delete;

  CHEngineHandle Handle() const { return handle_; }
  const std::string& EngineType() const { return engineType_; }
  const TCryptoParams& Params() const { return params_; }
  const TErrorEvent& OnError() const { return onError_; }
  void SetOnError(TErrorEvent handler) { onError_ = std::move(handler); }

  // Opens an engine of this type with Params applied. The name already current does nothing,
  // even when Params changed: set an empty name first to apply new parameters.
  void SetEngineType(const std::string& name);
  // Params := params, then SetEngineType(params' engine type name).
  void SetParams(const TCryptoParams& params);

  // Buffer sizes; 0 without an engine.
  int32_t MaxSignatureLength();
  int32_t MaxEncodeAddition();

  // Encryption UID belonging to a signature UID; empty on failure or without an engine.
  std::string EncodeUIDBySignUID(const std::string& signUID);
  // Encrypts in place; the buffer has room for length + MaxEncodeAddition() bytes.
  bool Encode(char* buffer, int32_t& length, const std::string& recipientUID);
  // Decrypts in place and gives the sender's UID.
  bool Decode(char* buffer, int32_t& length, std::string& senderUID);
  // Signs as the engine's own identity; signatureLength in: buffer size (MaxSignatureLength()), out: used.
  bool Sign(const char* data, int32_t length, char* signature, int32_t& signatureLength);
  // Checks a signature and gives the signer's UID.
  bool Verify(const char* data, int32_t length, const char* signature, int32_t signatureLength,
              std::string& signerUID);
  // Makes the engine forget its buffered key material.
  bool ClearCache();
  // Hands the engine a text to refresh its certificate cache from.
  bool UpdateCertificateCache(const std::string& text);

 private:
  void ReportError(const std::string& text, int32_t code);
  void ReportException(const std::string& text, const std::exception* error);
  bool DataOperation(const std::string& text, const std::function<int32_t()>& call);

  CHEngineHandle handle_ = nullptr;
  std::string engineType_;
  TCryptoParams params_;
  TErrorEvent onError_;
};

// A temporary engine opened to learn an engine type's parameters and to check and store edited
// values. Binding errors reach the caller.
class TCryptoParamsEditorLink {
 public:
  TCryptoParamsEditorLink() = default;
  ~TCryptoParamsEditorLink();
  TCryptoParamsEditorLink(const TCryptoParamsEditorLink&) = delete;
  TCryptoParamsEditorLink& operator=(const TCryptoParamsEditorLink&) = delete;

  CHEngineHandle Handle() const { return handle_; }
  const std::string& EngineType() const { return engineType_; }
  // Opens an engine of the type and reads its parameter names and values; an unknown type
  // leaves the link without engine and without parameters.
  void SetEngineType(const std::string& name);

  int ParamCount() const { return static_cast<int>(names_.size()); }
  // The name of parameter index; out of range the output is left as it was and false returned.
  bool ParamName(int index, std::string& name) const;
  // Current and default values; empty out of range.
  std::string ParamValue(int index) const;
  std::string DefaultValue(int index) const;
  // Index of the parameter with exactly this name (letter case counts), or -1.
  int IndexOfParam(const std::string& name) const;

  // Gives the engine a value; true when it accepted it (the value becomes current).
  bool SetParamValue(int index, const std::string& value);
  bool SetParamByName(const std::string& name, const std::string& value);
  void SetRootPath(const std::string& path);
  // Makes the engine type forget the keys, passwords and certificates it keeps; false without
  // an engine.
  bool ClearCache();

  // The link's own parameters, refilled on each call: every parameter's current value.
  const TCryptoParams& GetParams();
  // Opens the params' engine type and applies their values in order; true when all were accepted.
  bool LoadParams(const TCryptoParams& params);

 private:
  void Release();

  CHEngineHandle handle_ = nullptr;
  std::string engineType_;
  std::vector<std::string> names_;
  std::vector<std::string> defaults_;
  std::vector<std::string> values_;
  std::unique_ptr<TCryptoParams> result_;
};

// The engine type names the library offers, in its order, read once on creation; empty when
// the library cannot be loaded.
class TCryptoEngineList {
 public:
  TCryptoEngineList();
  int Count() const { return static_cast<int>(names_.size()); }
  const std::string& operator[](int i) const { return names_.at(static_cast<size_t>(i)); }
  const std::vector<std::string>& Names() const { return names_; }
  int IndexOf(const std::string& name) const;

 private:
  std::vector<std::string> names_;
};

}  // namespace vg
