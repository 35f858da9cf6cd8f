// The library's exported C interface: handles, the few answers it gives itself, and the
// forwarding of every other call to the engine module serving the handle's engine type.
#include "cipherhub/cipherhub.h"

#include <cstring>
#include <mutex>
#include <string>

#include "cipherhub/CryptoCollections.h"
#include "cipherhub/EngineTable.h"
#include "cipherhub/RootPath.h"

namespace vg::cipherhub {
namespace {

// What an engine handle points to.
struct TCryptoEngineWithName {
  std::string EngineTypeName;
  CHEngineObject EngineObject = nullptr;
};

// Process-wide state, created when the library is loaded and destroyed when it is unloaded:
// members are destroyed in reverse order, so the modules go first and the lock last.
struct TLibraryState {
  std::recursive_mutex Lock;
  TRootPath Root;
  TCryptoCollections Collections{Lock, Root};
};
TLibraryState gLibrary;

TCryptoEngineWithName* FromHandle(CHEngineHandle handle) noexcept {
  return reinterpret_cast<TCryptoEngineWithName*>(handle);
}

CHEngineHandle ToHandle(TCryptoEngineWithName* engine) noexcept {
  return reinterpret_cast<CHEngineHandle>(engine);
}

// The table of a usable handle's module; false for a null handle, an engine object of 0 or an
// unavailable module.
bool TableOf(const TCryptoEngineWithName* engine, TEngineFunctionTable& table) {
  if (!engine || !engine->EngineObject) return false;
  return gLibrary.Collections.Lookup(engine->EngineTypeName.c_str(), table);
}

// Forwards a call with a result: the module's result, or -1 when the call cannot be made or
// the module throws. Also used for the optional entries, which may be absent.
template <EntryId Id, typename... Args>
int32_t ForwardResult(CHEngineHandle handle, Args... args) noexcept {
  try {
    TCryptoEngineWithName* engine = FromHandle(handle);
    TEngineFunctionTable table;
    if (!TableOf(engine, table)) return -1;
    const auto function = Entry<Id>(table);
    if (!function) return -1;
    return function(engine->EngineObject, args...);
  } catch (...) {
    return -1;
  }
}

// Forwards a call without a result; a failure has no effect.
template <EntryId Id, typename... Args>
void ForwardVoid(CHEngineHandle handle, Args... args) noexcept {
  try {
    TCryptoEngineWithName* engine = FromHandle(handle);
    TEngineFunctionTable table;
    if (!TableOf(engine, table)) return;
    if (const auto function = Entry<Id>(table)) function(engine->EngineObject, args...);
  } catch (...) {
  }
}

constexpr int32_t kMaxEngineTypeLength = 100;

}  // namespace
}  // namespace vg::cipherhub

using namespace vg::cipherhub;

extern "C" {

void GetCryptoEngineTypes(int32_t index, char* buffer) {
  if (!buffer) return;
  const char* name = EnumeratedEngineType(index);
  std::strcpy(buffer, name ? name : "");
}

CHEngineHandle InitCryptoEngine(const char* typeName) {
  TCryptoEngineWithName* engine = nullptr;
  try {
    engine = new TCryptoEngineWithName;
    engine->EngineTypeName = typeName ? typeName : "";
    TEngineFunctionTable table;
    if (gLibrary.Collections.Lookup(typeName, table)) engine->EngineObject = Entry<kGetCryptObj>(table)(typeName);
    if (engine->EngineObject) return ToHandle(engine);
  } catch (...) {
  }
  delete engine;
  return nullptr;
}

void DoneCryptoEngine(CHEngineHandle handle) {
  TCryptoEngineWithName* engine = FromHandle(handle);
  if (!engine) return;
  try {
    gLibrary.Collections.Release(engine->EngineObject, engine->EngineTypeName.c_str());
  } catch (...) {
  }
  delete engine;
}

void GetCryptoEngineType(CHEngineHandle handle, char* buffer) {
  const TCryptoEngineWithName* engine = FromHandle(handle);
  if (!engine || !buffer) return;
  const size_t length = std::min<size_t>(engine->EngineTypeName.size(), kMaxEngineTypeLength - 1);
  std::memcpy(buffer, engine->EngineTypeName.data(), length);
  buffer[length] = '\0';
}

int32_t GetMaxCryptoEngineTypeLength(void) { return kMaxEngineTypeLength; }

int32_t GetMaxEncodeAddition(CHEngineHandle h) { return ForwardResult<kGetMaxEncodeAddition>(h); }
int32_t GetMaxSignatureLength(CHEngineHandle h) { return ForwardResult<kGetMaxSignatureLength>(h); }
int32_t GetMaxUIDLength(CHEngineHandle h) { return ForwardResult<kGetMaxUIDLength>(h); }
int32_t GetMaxCryptoParamNameLength(CHEngineHandle h) { return ForwardResult<kGetMaxCryptoParamNameLength>(h); }
int32_t GetMaxCryptoParamValueLength(CHEngineHandle h) { return ForwardResult<kGetMaxCryptoParamValueLength>(h); }
int32_t GetMaxErrorStringLength(CHEngineHandle h) { return ForwardResult<kGetMaxErrorStringLength>(h); }
int32_t GetCryptoParamNumber(CHEngineHandle h) { return ForwardResult<kGetCryptoParamNumber>(h); }

void GetCryptoParamName(CHEngineHandle h, int32_t number, char* buffer) {
  ForwardVoid<kGetCryptoParamName>(h, number, buffer);
}

void GetCryptoParamValue(CHEngineHandle h, int32_t number, char* buffer) {
  ForwardVoid<kGetCryptoParamValue>(h, number, buffer);
}

int32_t SetCryptoParamValue(CHEngineHandle h, int32_t number, const char* value) {
  try {
    // The module's maximum decides how much of the value it gets; a negative one refuses all.
    const int32_t maximum = ForwardResult<kGetMaxCryptoParamValueLength>(h);
    if (maximum < 0) return -1;
    std::string copy = value ? value : "";
    if (copy.size() > static_cast<size_t>(maximum)) copy.resize(static_cast<size_t>(maximum));
    return ForwardResult<kSetCryptoParamValue>(h, number, static_cast<const char*>(copy.c_str()));
  } catch (...) {
    return -1;
  }
}

int32_t GetEncodeUIDBySignUID(CHEngineHandle h, const char* signUID, char* encodeUID) {
  return ForwardResult<kGetEncodeUIDBySignUID>(h, signUID, encodeUID);
}

void GetCryptoErrorString(CHEngineHandle h, int32_t code, char* buffer) {
  ForwardVoid<kGetCryptoErrorString>(h, code, buffer);
}

int32_t EncodeData(CHEngineHandle h, char* data, int32_t* length, const char* recipientUID) {
  return ForwardResult<kEncodeData>(h, data, length, recipientUID);
}

int32_t DecodeData(CHEngineHandle h, char* data, int32_t* length, char* senderUID) {
  return ForwardResult<kDecodeData>(h, data, length, senderUID);
}

int32_t SignData(CHEngineHandle h, const char* data, int32_t length, char* signature, int32_t* signatureLength,
                 const char* signer) {
  return ForwardResult<kSignData>(h, data, length, signature, signatureLength, signer);
}

int32_t VerifyData(CHEngineHandle h, const char* data, int32_t length, const char* signature, int32_t signatureLength,
                   char* signerUID) {
  return ForwardResult<kVerifyData>(h, data, length, signature, signatureLength, signerUID);
}

int32_t GetCurrentUserUID(CHEngineHandle h, char* buffer) { return ForwardResult<kGetCurrentUserUID>(h, buffer); }
int32_t GenerateNewSSK(CHEngineHandle h) { return ForwardResult<kGenerateNewSSK>(h); }
int32_t GenerateNewSEK(CHEngineHandle h) { return ForwardResult<kGenerateNewSEK>(h); }
int32_t IsDifferentKeys(CHEngineHandle h) { return ForwardResult<kIsDifferentKeys>(h); }
void SetPasswordRequestFunc(CHEngineHandle h, CHPasswordRequestFunc func) { ForwardVoid<kSetPasswordRequestFunc>(h, func); }
int32_t GetMaxPasswordLength(CHEngineHandle h) { return ForwardResult<kGetMaxPasswordLength>(h); }
int32_t IncludePublicKey(CHEngineHandle h, intptr_t a1) { return ForwardResult<kIncludePublicKey>(h, a1); }
int32_t IncludePublicEncodeKey(CHEngineHandle h, intptr_t a1) { return ForwardResult<kIncludePublicEncodeKey>(h, a1); }
int32_t SignFile(CHEngineHandle h, intptr_t a1) { return ForwardResult<kSignFile>(h, a1); }
int32_t VerifyFile(CHEngineHandle h, intptr_t a1, intptr_t a2) { return ForwardResult<kVerifyFile>(h, a1, a2); }
int32_t RemoveSignaturesFromFile(CHEngineHandle h, intptr_t a1) { return ForwardResult<kRemoveSignaturesFromFile>(h, a1); }
void GetLastErrorMessage(CHEngineHandle h, char* buffer) { ForwardVoid<kGetLastErrorMessage>(h, buffer); }

void SetRootPath(CHEngineHandle h, const char* rootPath) {
  try {
    {
      // Taken so that a module search running on another thread never sees the list change.
      std::lock_guard<std::recursive_mutex> guard(gLibrary.Lock);
      gLibrary.Root.SetRoot(rootPath);
    }
    ForwardVoid<kSetRootPath>(h, rootPath);
  } catch (...) {
    // A different root was already set: the module is not told about this one.
  }
}

int32_t TransSignatureFromFileToTM(CHEngineHandle h) { return ForwardResult<kTransSignatureFromFileToTM>(h); }
int32_t TransPrivateKeyFromFileToTM(CHEngineHandle h) { return ForwardResult<kTransPrivateKeyFromFileToTM>(h); }
void SetTMRequestFunc(CHEngineHandle h, CHTMRequestFunc func) { ForwardVoid<kSetTMRequestFunc>(h, func); }
void ClearCash(CHEngineHandle h) { ForwardVoid<kClearCash>(h); }
int32_t RemoteGenerateStart(CHEngineHandle h, intptr_t a1) { return ForwardResult<kRemoteGenerateStart>(h, a1); }
void SetRemoteGeneratePath(CHEngineHandle h, intptr_t a1) { ForwardVoid<kSetRemoteGeneratePath>(h, a1); }
int32_t AddSign(CHEngineHandle h, intptr_t a1, intptr_t a2, intptr_t a3) { return ForwardResult<kAddSign>(h, a1, a2, a3); }
int32_t RemoveSign(CHEngineHandle h, intptr_t a1, intptr_t a2, intptr_t a3) {
  return ForwardResult<kRemoveSign>(h, a1, a2, a3);
}
int32_t GetMaxSignAddition(CHEngineHandle h) { return ForwardResult<kGetMaxSignAddition>(h); }
int32_t GetPublicKeyTransfer(CHEngineHandle h, intptr_t a1, intptr_t a2) {
  return ForwardResult<kGetPublicKeyTransfer>(h, a1, a2);
}
int32_t RemoteGenerateFinish(CHEngineHandle h, intptr_t a1) { return ForwardResult<kRemoteGenerateFinish>(h, a1); }
int32_t SavePublicKeyFromTransfer(CHEngineHandle h, intptr_t a1, intptr_t a2) {
  return ForwardResult<kSavePublicKeyFromTransfer>(h, a1, a2);
}
int32_t GetMaxPublicKeyTransferSize(CHEngineHandle h) { return ForwardResult<kGetMaxPublicKeyTransferSize>(h); }
int32_t IncludePublicKeyTransfer(CHEngineHandle h, intptr_t a1) { return ForwardResult<kIncludePublicKeyTransfer>(h, a1); }
int32_t ExcludeSelfPublicKeyTransfer(CHEngineHandle h, intptr_t a1) {
  return ForwardResult<kExcludeSelfPublicKeyTransfer>(h, a1);
}
int32_t GetMaxFilePathLength(CHEngineHandle h) { return ForwardResult<kGetMaxFilePathLength>(h); }
int32_t GetRemoteGenType(CHEngineHandle h) { return ForwardResult<kGetRemoteGenType>(h); }
int32_t SaveSignedDataToFile(CHEngineHandle h, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5) {
  return ForwardResult<kSaveSignedDataToFile>(h, a1, a2, a3, a4, a5);
}
int32_t GetPublicKeyTransferByFile(CHEngineHandle h, intptr_t a1, intptr_t a2) {
  return ForwardResult<kGetPublicKeyTransferByFile>(h, a1, a2);
}
int32_t GetMaxReportSize(CHEngineHandle h) { return ForwardResult<kGetMaxReportSize>(h); }
int32_t GetReport(CHEngineHandle h, const char* uid, char* buffer) { return ForwardResult<kGetReport>(h, uid, buffer); }
int32_t GetMaxAdditionEx(CHEngineHandle h, intptr_t a1) { return ForwardResult<kGetMaxAdditionEx>(h, a1); }
int32_t GetUIDByPublicKeyTransfer(CHEngineHandle h, intptr_t a1, intptr_t a2) {
  return ForwardResult<kGetUIDByPublicKeyTransfer>(h, a1, a2);
}
int32_t UpdateCertificateCash(CHEngineHandle h, const char* text) { return ForwardResult<kUpdateCertificateCash>(h, text); }
int32_t GetMaxPublicKeyPropertiesLength(CHEngineHandle h) { return ForwardResult<kGetMaxPublicKeyPropertiesLength>(h); }
int32_t GetPublicKeyProperties(CHEngineHandle h, intptr_t a1, intptr_t a2) {
  return ForwardResult<kGetPublicKeyProperties>(h, a1, a2);
}
int32_t RemoteGenerateStartEx(CHEngineHandle h, intptr_t a1, intptr_t a2, intptr_t a3) {
  return ForwardResult<kRemoteGenerateStartEx>(h, a1, a2, a3);
}
int32_t RemoteGenerateFinishEx(CHEngineHandle h, intptr_t a1, intptr_t a2) {
  return ForwardResult<kRemoteGenerateFinishEx>(h, a1, a2);
}
int32_t GetPublicKeyPropertiesByTransfer(CHEngineHandle h, intptr_t a1, intptr_t a2) {
  return ForwardResult<kGetPublicKeyPropertiesByTransfer>(h, a1, a2);
}
int32_t GetPublicKeyPropertiesByFile(CHEngineHandle h, intptr_t a1, intptr_t a2) {
  return ForwardResult<kGetPublicKeyPropertiesByFile>(h, a1, a2);
}
int32_t IncludeCACertificateFromTransfer(CHEngineHandle h, intptr_t a1) {
  return ForwardResult<kIncludeCACertificateFromTransfer>(h, a1);
}
int32_t CreateDirStructure(CHEngineHandle h, intptr_t a1, intptr_t a2) { return ForwardResult<kCreateDirStructure>(h, a1, a2); }
int32_t RemoveCertificate(CHEngineHandle h, intptr_t a1) { return ForwardResult<kRemoveCertificate>(h, a1); }
int32_t VerifySignWOCheckValidity(CHEngineHandle h, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5) {
  return ForwardResult<kVerifySignWOCheckValidity>(h, a1, a2, a3, a4, a5);
}
int32_t CertAndRequestTransferMatch(CHEngineHandle h, intptr_t a1, intptr_t a2, intptr_t a3) {
  return ForwardResult<kCertAndRequestTransferMatch>(h, a1, a2, a3);
}
int32_t IncludeCRL(CHEngineHandle h, intptr_t a1) { return ForwardResult<kIncludeCRL>(h, a1); }
int32_t ConvertTransferToSignedRequest(CHEngineHandle h, intptr_t a1) {
  return ForwardResult<kConvertTransferToSignedRequest>(h, a1);
}

int32_t GetCryptoEngineStatus(const char* typeName) {
  try {
    return gLibrary.Collections.Status(typeName);
  } catch (...) {
    return -1;
  }
}

int32_t HashData(CHEngineHandle h, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5) {
  return ForwardResult<kHashData>(h, a1, a2, a3, a4, a5);
}
int32_t ShowCertificate(CHEngineHandle h, intptr_t a1) { return ForwardResult<kShowCertificate>(h, a1); }
int32_t GetPureSign(CHEngineHandle h, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5) {
  return ForwardResult<kGetPureSign>(h, a1, a2, a3, a4, a5);
}
int32_t GetUIDByCertIdent(CHEngineHandle h, intptr_t a1, intptr_t a2) { return ForwardResult<kGetUIDByCertIdent>(h, a1, a2); }
int32_t InstallCertsInMyStore(CHEngineHandle h, intptr_t a1) { return ForwardResult<kInstallCertsInMyStore>(h, a1); }
int32_t RegisterOIDInfo(CHEngineHandle h, intptr_t a1, intptr_t a2) { return ForwardResult<kRegisterOIDInfo>(h, a1, a2); }
int32_t GetParamInfo(CHEngineHandle h, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4) {
  return ForwardResult<kGetParamInfo>(h, a1, a2, a3, a4);
}

int32_t GenerateNewSEKMDM(CHEngineHandle) { return -1; }

int32_t Import(CHEngineHandle h, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4) {
  return ForwardResult<kImport>(h, a1, a2, a3, a4);
}

int32_t CheckEngineCompatibles(const char* typeNameA, const char* typeNameB) {
  try {
    if (!typeNameA || !typeNameB) return 0;
    if (std::strcmp(typeNameA, typeNameB) == 0) return 1;
    TEngineFunctionTable tableA, tableB;
    if (!gLibrary.Collections.Lookup(typeNameA, tableA) || !gLibrary.Collections.Lookup(typeNameB, tableB)) return 0;
    const auto checkA = Entry<kCheckCompatibles>(tableA);
    const auto checkB = Entry<kCheckCompatibles>(tableB);
    if (!checkA || !checkB) return 0;
    return checkA(typeNameB) == 1 && checkB(typeNameA) == 1 ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t ExportObject(CHEngineHandle h, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5, intptr_t a6) {
  return ForwardResult<kExportObject>(h, a1, a2, a3, a4, a5, a6);
}

void SetDllRoot(const char* rootPath) {
  try {
    std::lock_guard<std::recursive_mutex> guard(gLibrary.Lock);
    gLibrary.Root.SetRoot(rootPath);
  } catch (...) {
  }
}

}  // extern "C"
