// The module's entries as cipherhub resolves them: thin wrappers that check the caller's
// pointers, call the engine and copy results into the caller's buffers. Nothing escapes as an
// exception.
#define CHM_IMPLEMENTATION
#include "cipherhub/engine_module.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "Errors.h"
#include "OpenSslEngine.h"

using engmod10::ErrorCode;
using engmod10::OpenSslEngine;

namespace {

OpenSslEngine* EngineOf(CHEngineObject engine) { return static_cast<OpenSslEngine*>(engine); }

// Writes text into a caller buffer of size bytes (NUL included); a NULL buffer is skipped.
void CopyText(char* buffer, const std::string& text, int32_t size) {
  if (!buffer || size < 1) return;
  const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

template <class F>
int32_t Call(CHEngineObject engine, F&& body) {
  if (!engine) return engmod10::kInvalidArgument;
  try {
    return body(*EngineOf(engine));
  } catch (...) {
    return engmod10::kInternalError;
  }
}

template <class F>
void CallVoid(CHEngineObject engine, F&& body) {
  if (!engine) return;
  try {
    body(*EngineOf(engine));
  } catch (...) {
  }
}

}  // namespace

extern "C" {

CHEngineObject GetCryptObj(const char* typeName) {
  if (!typeName || std::strcmp(typeName, OpenSslEngine::kEngineType) != 0) return nullptr;
  try {
    return new OpenSslEngine();
  } catch (...) {
    return nullptr;
  }
}

int32_t DoneEngine(CHEngineObject engine) {
  delete EngineOf(engine);
  return 0;
}

int32_t CheckCompatibles(const char* otherTypeName) {
  return otherTypeName && std::strcmp(otherTypeName, OpenSslEngine::kEngineType) == 0 ? 1 : 0;
}

int32_t GetMaxEncodeAddition(CHEngineObject) { return OpenSslEngine::kMaxEncodeAddition; }
int32_t GetMaxSignatureLength(CHEngineObject engine) {
  return Call(engine, [](OpenSslEngine& e) { return e.MaxSignatureLength(); });
}
int32_t GetMaxUIDLength(CHEngineObject) { return engmod10::kMaxUidLength; }
int32_t GetMaxCryptoParamNameLength(CHEngineObject) { return OpenSslEngine::kMaxParamNameLength; }
int32_t GetMaxCryptoParamValueLength(CHEngineObject) { return OpenSslEngine::kMaxParamValueLength; }
int32_t GetMaxErrorStringLength(CHEngineObject) { return OpenSslEngine::kMaxErrorStringLength; }
int32_t GetCryptoParamNumber(CHEngineObject) { return OpenSslEngine::kParamCount; }
int32_t GetMaxPasswordLength(CHEngineObject) { return OpenSslEngine::kMaxPasswordLength; }
int32_t GetMaxReportSize(CHEngineObject) { return OpenSslEngine::kMaxReportSize; }
int32_t GetMaxFilePathLength(CHEngineObject) { return OpenSslEngine::kMaxParamValueLength; }
// Whatever the extra argument selects, no operation of this engine adds more than encryption.
int32_t GetMaxAdditionEx(CHEngineObject, intptr_t) { return OpenSslEngine::kMaxEncodeAddition; }
int32_t GetMaxSignAddition(CHEngineObject) { return 0; }
int32_t GetMaxPublicKeyTransferSize(CHEngineObject) { return 0; }
int32_t GetMaxPublicKeyPropertiesLength(CHEngineObject) { return 0; }

void GetCryptoParamName(CHEngineObject engine, int32_t number, char* buffer) {
  if (const char* name = OpenSslEngine::ParamName(number)) CopyText(buffer, name, OpenSslEngine::kMaxParamNameLength);
  (void)engine;
}

void GetCryptoParamValue(CHEngineObject engine, int32_t number, char* buffer) {
  CallVoid(engine, [&](OpenSslEngine& e) {
    if (OpenSslEngine::ParamName(number)) CopyText(buffer, e.ParamValue(number), OpenSslEngine::kMaxParamValueLength);
  });
}

int32_t SetCryptoParamValue(CHEngineObject engine, int32_t number, const char* value) {
  return Call(engine, [&](OpenSslEngine& e) -> int32_t {
    if (!value) return engmod10::kInvalidArgument;
    return e.SetParam(number, value);
  });
}

int32_t GetEncodeUIDBySignUID(CHEngineObject engine, const char* signUID, char* encodeUID) {
  return Call(engine, [&](OpenSslEngine& e) -> int32_t {
    if (!signUID) return engmod10::kInvalidArgument;
    std::string uid;
    const ErrorCode code = e.EncodeUidBySignUid(signUID, uid);
    if (code == engmod10::kOk) CopyText(encodeUID, uid, engmod10::kMaxUidLength);
    return code;
  });
}

void GetCryptoErrorString(CHEngineObject engine, int32_t code, char* buffer) {
  CopyText(buffer, engmod10::ErrorText(code), OpenSslEngine::kMaxErrorStringLength);
  (void)engine;
}

void GetLastErrorMessage(CHEngineObject engine, char* buffer) {
  CallVoid(engine, [&](OpenSslEngine& e) { CopyText(buffer, e.LastErrorMessage(), OpenSslEngine::kMaxErrorStringLength); });
}

int32_t EncodeData(CHEngineObject engine, char* data, int32_t* length, const char* recipientUID) {
  return Call(engine, [&](OpenSslEngine& e) -> int32_t {
    if (!data || !length || *length < 0) return engmod10::kInvalidArgument;
    std::vector<uint8_t> out;
    const ErrorCode code =
        e.Encode(reinterpret_cast<const uint8_t*>(data), static_cast<size_t>(*length), recipientUID ? recipientUID : "", out);
    if (code != engmod10::kOk) return code;
    if (out.size() > static_cast<size_t>(INT32_MAX)) return engmod10::kBufferTooSmall;
    // The engine keeps the growth within GetMaxEncodeAddition, the room the caller provides.
    std::memcpy(data, out.data(), out.size());
    *length = static_cast<int32_t>(out.size());
    return engmod10::kOk;
  });
}

int32_t DecodeData(CHEngineObject engine, char* data, int32_t* length, char* senderUID) {
  return Call(engine, [&](OpenSslEngine& e) -> int32_t {
    if (!data || !length || *length < 0) return engmod10::kInvalidArgument;
    std::vector<uint8_t> out;
    std::string sender;
    const ErrorCode code = e.Decode(reinterpret_cast<const uint8_t*>(data), static_cast<size_t>(*length), out, sender);
    if (code != engmod10::kOk) return code;
    std::memcpy(data, out.data(), out.size());
    *length = static_cast<int32_t>(out.size());
    CopyText(senderUID, sender, engmod10::kMaxUidLength);
    return engmod10::kOk;
  });
}

int32_t SignData(CHEngineObject engine, const char* data, int32_t length, char* signature, int32_t* signatureLength,
                 const char* signer) {
  return Call(engine, [&](OpenSslEngine& e) -> int32_t {
    if (length < 0 || (!data && length > 0) || !signature || !signatureLength) return engmod10::kInvalidArgument;
    const int32_t capacity = *signatureLength < 1 ? e.MaxSignatureLength() : *signatureLength;
    std::vector<uint8_t> sig;
    const ErrorCode code =
        e.Sign(reinterpret_cast<const uint8_t*>(data), static_cast<size_t>(length), signer ? signer : "", sig);
    if (code != engmod10::kOk) return code;
    if (sig.size() > static_cast<size_t>(capacity)) return engmod10::kBufferTooSmall;
    std::memcpy(signature, sig.data(), sig.size());
    *signatureLength = static_cast<int32_t>(sig.size());
    return engmod10::kOk;
  });
}

int32_t VerifyData(CHEngineObject engine, const char* data, int32_t length, const char* signature,
                   int32_t signatureLength, char* signerUID) {
  return Call(engine, [&](OpenSslEngine& e) -> int32_t {
    if (length < 0 || (!data && length > 0) || signatureLength < 0 || (!signature && signatureLength > 0))
      return engmod10::kInvalidArgument;
    std::string uid;
    const ErrorCode code = e.Verify(reinterpret_cast<const uint8_t*>(data), static_cast<size_t>(length),
                                    reinterpret_cast<const uint8_t*>(signature), static_cast<size_t>(signatureLength), uid);
    if (code == engmod10::kOk) CopyText(signerUID, uid, engmod10::kMaxUidLength);
    return code;
  });
}

int32_t GetCurrentUserUID(CHEngineObject engine, char* buffer) {
  return Call(engine, [&](OpenSslEngine& e) -> int32_t {
    std::string uid;
    const ErrorCode code = e.CurrentUserUid(uid);
    if (code == engmod10::kOk) CopyText(buffer, uid, engmod10::kMaxUidLength);
    return code;
  });
}

int32_t GetReport(CHEngineObject engine, const char* uid, char* buffer) {
  return Call(engine, [&](OpenSslEngine& e) -> int32_t {
    std::string report;
    const ErrorCode code = e.Report(uid, report);
    if (code == engmod10::kOk) CopyText(buffer, report, OpenSslEngine::kMaxReportSize);
    return code;
  });
}

// The text is not needed: the configured subscribers' directory is read again.
int32_t UpdateCertificateCash(CHEngineObject engine, const char*) {
  return Call(engine, [](OpenSslEngine& e) -> int32_t { return e.UpdateCertificateCache(); });
}

void SetPasswordRequestFunc(CHEngineObject engine, CHPasswordRequestFunc func) {
  CallVoid(engine, [&](OpenSslEngine& e) { e.SetPasswordCallback(func); });
}

void SetRootPath(CHEngineObject engine, const char* rootPath) {
  CallVoid(engine, [&](OpenSslEngine& e) { e.SetRootPath(rootPath ? rootPath : ""); });
}

void ClearCash(CHEngineObject engine) {
  CallVoid(engine, [](OpenSslEngine& e) { e.ClearCache(); });
}

// Keys live in files; there is no key medium to ask for.
void SetTMRequestFunc(CHEngineObject, CHTMRequestFunc) {}
void SetRemoteGeneratePath(CHEngineObject, intptr_t) {}

// One certificate and key serve both signing and encryption.
int32_t IsDifferentKeys(CHEngineObject) { return 0; }

// Key generation, key media, file signing and transfer records belong to other engines' key
// handling; this engine works with keys and certificates made by the openssl tools.
int32_t GenerateNewSSK(CHEngineObject) { return engmod10::kNotSupported; }
int32_t GenerateNewSEK(CHEngineObject) { return engmod10::kNotSupported; }
int32_t IncludePublicKey(CHEngineObject, intptr_t) { return engmod10::kNotSupported; }
int32_t IncludePublicEncodeKey(CHEngineObject, intptr_t) { return engmod10::kNotSupported; }
int32_t SignFile(CHEngineObject, intptr_t) { return engmod10::kNotSupported; }
int32_t VerifyFile(CHEngineObject, intptr_t, intptr_t) { return engmod10::kNotSupported; }
int32_t RemoveSignaturesFromFile(CHEngineObject, intptr_t) { return engmod10::kNotSupported; }
int32_t TransSignatureFromFileToTM(CHEngineObject) { return engmod10::kNotSupported; }
int32_t TransPrivateKeyFromFileToTM(CHEngineObject) { return engmod10::kNotSupported; }
int32_t RemoteGenerateStart(CHEngineObject, intptr_t) { return engmod10::kNotSupported; }
int32_t AddSign(CHEngineObject, intptr_t, intptr_t, intptr_t) { return engmod10::kNotSupported; }
int32_t RemoveSign(CHEngineObject, intptr_t, intptr_t, intptr_t) { return engmod10::kNotSupported; }
int32_t GetPublicKeyTransfer(CHEngineObject, intptr_t, intptr_t) { return engmod10::kNotSupported; }
int32_t RemoteGenerateFinish(CHEngineObject, intptr_t) { return engmod10::kNotSupported; }
int32_t SavePublicKeyFromTransfer(CHEngineObject, intptr_t, intptr_t) { return engmod10::kNotSupported; }
int32_t IncludePublicKeyTransfer(CHEngineObject, intptr_t) { return engmod10::kNotSupported; }
int32_t ExcludeSelfPublicKeyTransfer(CHEngineObject, intptr_t) { return engmod10::kNotSupported; }
int32_t GetRemoteGenType(CHEngineObject) { return engmod10::kNotSupported; }
int32_t SaveSignedDataToFile(CHEngineObject, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t) {
  return engmod10::kNotSupported;
}
int32_t GetPublicKeyTransferByFile(CHEngineObject, intptr_t, intptr_t) { return engmod10::kNotSupported; }
int32_t GetUIDByPublicKeyTransfer(CHEngineObject, intptr_t, intptr_t) { return engmod10::kNotSupported; }
int32_t GetPublicKeyProperties(CHEngineObject, intptr_t, intptr_t) { return engmod10::kNotSupported; }
int32_t RemoteGenerateStartEx(CHEngineObject, intptr_t, intptr_t, intptr_t) { return engmod10::kNotSupported; }
int32_t RemoteGenerateFinishEx(CHEngineObject, intptr_t, intptr_t) { return engmod10::kNotSupported; }
int32_t GetPublicKeyPropertiesByTransfer(CHEngineObject, intptr_t, intptr_t) { return engmod10::kNotSupported; }
int32_t GetPublicKeyPropertiesByFile(CHEngineObject, intptr_t, intptr_t) { return engmod10::kNotSupported; }
int32_t IncludeCACertificateFromTransfer(CHEngineObject, intptr_t) { return engmod10::kNotSupported; }
int32_t CreateDirStructure(CHEngineObject, intptr_t, intptr_t) { return engmod10::kNotSupported; }
int32_t RemoveCertificate(CHEngineObject, intptr_t) { return engmod10::kNotSupported; }
int32_t VerifySignWOCheckValidity(CHEngineObject, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t) {
  return engmod10::kNotSupported;
}
int32_t CertAndRequestTransferMatch(CHEngineObject, intptr_t, intptr_t, intptr_t) { return engmod10::kNotSupported; }
int32_t IncludeCRL(CHEngineObject, intptr_t) { return engmod10::kNotSupported; }
int32_t ConvertTransferToSignedRequest(CHEngineObject, intptr_t) { return engmod10::kNotSupported; }

}  // extern "C"
