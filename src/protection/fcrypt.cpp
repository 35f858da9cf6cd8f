#include "protection/fcrypt.h"

#include "platform/TypeName.h"


#include <algorithm>
#include <cstdlib>
#include <typeinfo>

#include "protection/PasswF.h"
#include "protection/TMReq.h"

namespace vg {
namespace {

// A zero-filled buffer of the size the library asked for, plus one spare NUL so that a text
// read back always ends even when the size answer was wrong (a failed size query gives -1).
class TextBuffer {
 public:
  explicit TextBuffer(int32_t size) : data_(static_cast<size_t>(std::max<int32_t>(size, 1)) + 1, '\0') {}
  char* Data() { return data_.data(); }
  std::string Text() const { return std::string(data_.data()); }

 private:
  std::string data_;
};

// The signer argument of SignData: an empty text, never a null pointer.
const char kEmptySigner[] = "";

}  // namespace

void TCryptoParams::Assign(const TTaggedStrings& source) {
  TTaggedStrings::Assign(source);
  if (const auto* params = dynamic_cast<const TCryptoParams*>(&source)) engineType_ = params->engineType_;
}

std::string ExceptionClassName(const std::exception& error) { return platform::ClassNameOf(error); }

// ---- TCryptoEngine ----------------------------------------------------------------------------

TCryptoEngine::~TCryptoEngine() {
  if (!handle_) return;
  try {
    chlib::DoneCryptoEngine(handle_);
  } catch (...) {
  }
}

void TCryptoEngine::ReportError(const std::string& text, int32_t code) {
  if (!onError_) return;
  std::string message;
  if (code == 0) {
    message = Format("%s", {text});
  } else {
    std::string errorText;
    if (handle_) {
      TextBuffer buffer(chlib::GetMaxErrorStringLength(handle_));
      chlib::GetCryptoErrorString(handle_, code, buffer.Data());
      errorText = buffer.Text();
    }
    message = errorText.empty() ? Format(VGT("%s; Код ошибки: %d"), {text, code})
                                : Format(VGT("%s; Код ошибки: %d; %s"), {text, code, errorText});
  }
  onError_(message);
}

void TCryptoEngine::ReportException(const std::string& text, const std::exception* error) {
  // Called from the guards: a handler that fails here has nowhere left to report to.
  try {
    std::string className = "Exception";
    std::string message;
    if (error) {
      className = ExceptionClassName(*error);
      const auto* own = dynamic_cast<const Exception*>(error);
      message = own ? own->Message() : std::string(error->what());
    }
    ReportError(Format(VGT("%s. Исключительная ситуация %s (%s)"), {text, className, message}), 0);
  } catch (...) {
  }
}

void TCryptoEngine::SetEngineType(const std::string& name) {
  // Set while this call holds an engine that is not completely set up.
  bool halfOpen = false;
  try {
    if (name == engineType_) return;
    if (handle_) {
      chlib::DoneCryptoEngine(handle_);
      handle_ = nullptr;
    }
    if (name.empty()) {
      engineType_.clear();
      return;
    }
    handle_ = chlib::InitCryptoEngine(name.c_str());
    if (!handle_) {
      engineType_.clear();
      ReportError(Format(VGT("Неизвестный тип криптографии \"%s\""), {name}), 0);
      return;
    }
    halfOpen = true;
    bool applied = true;
    for (const auto& item : params_.Items()) {
      if (chlib::SetCryptoParamValue(handle_, item.Tag + 1, item.Text.c_str()) != 0) {
        applied = false;
        break;
      }
    }
    if (applied) {
      engineType_ = name;
      chlib::SetPasswordRequestFunc(handle_, &PasswordRequestFunc);
      chlib::SetTMRequestFunc(handle_, &TMRequestFunc);
      halfOpen = false;
    } else {
      ReportError(VGT("Ошибка при инициализации параметров криптографии"), 0);
      chlib::DoneCryptoEngine(handle_);
      handle_ = nullptr;
      halfOpen = false;
    }
  } catch (const std::exception& error) {
    if (halfOpen) {
      // An engine without its parameters or prompts must not stay open.
      try {
        chlib::DoneCryptoEngine(handle_);
      } catch (...) {
      }
      handle_ = nullptr;
      if (engineType_ == name) engineType_.clear();
    }
    ReportException(VGT("Ошибка инициализации"), &error);
  } catch (...) {
    ReportException(VGT("Ошибка инициализации"), nullptr);
  }
}

void TCryptoEngine::SetParams(const TCryptoParams& params) {
  params_.Assign(params);
  SetEngineType(params.EngineType());
}

int32_t TCryptoEngine::MaxSignatureLength() {
  if (!handle_) return 0;
  // A failed query (-1) must not reach callers that size buffers with the answer.
  return std::max<int32_t>(chlib::GetMaxSignatureLength(handle_), 0);
}

int32_t TCryptoEngine::MaxEncodeAddition() {
  if (!handle_) return 0;
  return std::max<int32_t>(chlib::GetMaxEncodeAddition(handle_), 0);
}

std::string TCryptoEngine::EncodeUIDBySignUID(const std::string& signUID) {
  if (!handle_) return {};
  TextBuffer buffer(chlib::GetMaxUIDLength(handle_));
  const int32_t code = chlib::GetEncodeUIDBySignUID(handle_, signUID.c_str(), buffer.Data());
  if (code != 0) {
    ReportError(VGT("Ошибка при получении идентификатора пользователя"), code);
    return {};
  }
  return buffer.Text();
}

bool TCryptoEngine::DataOperation(const std::string& text, const std::function<int32_t()>& call) {
  try {
    if (!handle_) {
      ReportError(VGT("Криптография не проинициализирована"), 0);
      return false;
    }
    const int32_t code = call();
    if (code != 0) {
      ReportError(text, code);
      return false;
    }
    return true;
  } catch (const std::exception& error) {
    ReportException(text, &error);
  } catch (...) {
    ReportException(text, nullptr);
  }
  return false;
}

bool TCryptoEngine::Encode(char* buffer, int32_t& length, const std::string& recipientUID) {
  return DataOperation(VGT("Ошибка шифрования"), [&] {
    return chlib::EncodeData(handle_, buffer, &length, recipientUID.c_str());
  });
}

bool TCryptoEngine::Decode(char* buffer, int32_t& length, std::string& senderUID) {
  return DataOperation(VGT("Ошибка расшифрования"), [&] {
    senderUID.clear();
    TextBuffer uid(chlib::GetMaxUIDLength(handle_));
    const int32_t code = chlib::DecodeData(handle_, buffer, &length, uid.Data());
    if (code == 0) senderUID = uid.Text();
    return code;
  });
}

bool TCryptoEngine::Sign(const char* data, int32_t length, char* signature, int32_t& signatureLength) {
  return DataOperation(VGT("Ошибка подписи"), [&] {
    return chlib::SignData(handle_, data, length, signature, &signatureLength, kEmptySigner);
  });
}

bool TCryptoEngine::Verify(const char* data, int32_t length, const char* signature, int32_t signatureLength,
                           std::string& signerUID) {
  return DataOperation(VGT("Ошибка авторизации"), [&] {
    signerUID.clear();
    TextBuffer uid(chlib::GetMaxUIDLength(handle_));
    const int32_t code = chlib::VerifyData(handle_, data, length, signature, signatureLength, uid.Data());
    if (code == 0) signerUID = uid.Text();
    return code;
  });
}

bool TCryptoEngine::ClearCache() {
  if (!handle_) {
    ReportError(VGT("Криптография не проинициализирована"), 0);
    return false;
  }
  chlib::ClearCash(handle_);
  return true;
}

bool TCryptoEngine::UpdateCertificateCache(const std::string& text) {
  if (!handle_) {
    ReportError(VGT("Криптография не проинициализирована"), 0);
    return false;
  }
  const int32_t code = chlib::UpdateCertificateCash(handle_, text.c_str());
  if (code != 0) {
    ReportError(VGT("Ошибка обновления кэша сертификатов"), code);
    return false;
  }
  return true;
}

// ---- TCryptoParamsEditorLink ------------------------------------------------------------------

TCryptoParamsEditorLink::~TCryptoParamsEditorLink() {
  try {
    Release();
  } catch (...) {
  }
}

void TCryptoParamsEditorLink::Release() {
  if (!handle_) return;
  chlib::DoneCryptoEngine(handle_);
  handle_ = nullptr;
}

void TCryptoParamsEditorLink::SetEngineType(const std::string& name) {
  if (name == engineType_) return;
  Release();
  // Cleared before opening, so a binding error leaves an empty link rather than stale names.
  names_.clear();
  defaults_.clear();
  values_.clear();
  engineType_.clear();
  handle_ = chlib::InitCryptoEngine(name.c_str());
  if (!handle_) return;
  const int32_t count = chlib::GetCryptoParamNumber(handle_);
  const int32_t nameLength = chlib::GetMaxCryptoParamNameLength(handle_);
  const int32_t valueLength = chlib::GetMaxCryptoParamValueLength(handle_);
  for (int32_t number = 1; number <= count; ++number) {
    TextBuffer paramName(nameLength);
    chlib::GetCryptoParamName(handle_, number, paramName.Data());
    TextBuffer paramValue(valueLength);
    chlib::GetCryptoParamValue(handle_, number, paramValue.Data());
    names_.push_back(paramName.Text());
    values_.push_back(paramValue.Text());
    defaults_.push_back(paramValue.Text());
  }
  engineType_ = name;
}

bool TCryptoParamsEditorLink::ParamName(int index, std::string& name) const {
  if (index < 0 || index >= ParamCount()) return false;
  name = names_[static_cast<size_t>(index)];
  return true;
}

std::string TCryptoParamsEditorLink::ParamValue(int index) const {
  if (index < 0 || index >= static_cast<int>(values_.size())) return {};
  return values_[static_cast<size_t>(index)];
}

std::string TCryptoParamsEditorLink::DefaultValue(int index) const {
  if (index < 0 || index >= static_cast<int>(defaults_.size())) return {};
  return defaults_[static_cast<size_t>(index)];
}

int TCryptoParamsEditorLink::IndexOfParam(const std::string& name) const {
  const auto it = std::find(names_.begin(), names_.end(), name);
  return it == names_.end() ? -1 : static_cast<int>(it - names_.begin());
}

bool TCryptoParamsEditorLink::SetParamValue(int index, const std::string& value) {
  if (!handle_) return false;
  // An index the engine did not report has no place in Values, whatever the engine answers.
  if (index < 0 || index >= static_cast<int>(values_.size())) return false;
  const int32_t maxLength = chlib::GetMaxCryptoParamValueLength(handle_);
  if (static_cast<int64_t>(value.size()) > maxLength) return false;
  if (chlib::SetCryptoParamValue(handle_, index + 1, value.c_str()) != 0) return false;
  values_[static_cast<size_t>(index)] = value.c_str();  // what the engine received
  return true;
}

bool TCryptoParamsEditorLink::SetParamByName(const std::string& name, const std::string& value) {
  const int index = IndexOfParam(name);
  return index >= 0 && SetParamValue(index, value);
}

void TCryptoParamsEditorLink::SetRootPath(const std::string& path) {
  if (handle_) chlib::SetRootPath(handle_, path.c_str());
}

bool TCryptoParamsEditorLink::ClearCache() {
  if (!handle_) return false;
  chlib::ClearCash(handle_);
  return true;
}

const TCryptoParams& TCryptoParamsEditorLink::GetParams() {
  if (!result_) result_ = std::make_unique<TCryptoParams>();
  result_->Clear();
  for (size_t i = 0; i < values_.size(); ++i) result_->AddParam(static_cast<int>(i), values_[i]);
  result_->SetEngineType(engineType_);
  return *result_;
}

bool TCryptoParamsEditorLink::LoadParams(const TCryptoParams& params) {
  SetEngineType(params.EngineType());
  bool all = true;
  for (const auto& item : params.Items())
    if (!SetParamValue(item.Tag, item.Text)) all = false;
  return all;
}

// ---- TCryptoEngineList ------------------------------------------------------------------------

TCryptoEngineList::TCryptoEngineList() {
  int32_t length = 0;
  try {
    length = chlib::GetMaxCryptoEngineTypeLength();
  } catch (const ELoadCipherhubError&) {
    return;
  }
  for (int32_t index = 1; index <= 100; ++index) {
    TextBuffer buffer(length);
    chlib::GetCryptoEngineTypes(index, buffer.Data());
    std::string name = buffer.Text();
    if (name.empty()) break;
    names_.push_back(std::move(name));
  }
}

int TCryptoEngineList::IndexOf(const std::string& name) const {
  const auto it = std::find(names_.begin(), names_.end(), name);
  return it == names_.end() ? -1 : static_cast<int>(it - names_.begin());
}

}  // namespace vg
