#pragma once
// Run-time binding of the crypto toolkit library (cipherhub or a library with the same
// interface): which file is loaded, the entry points taken from it, and one wrapper per entry
// point. A wrapper binds on demand and passes its arguments and the result through unchanged;
// interpreting results is the crypto engine object's business.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cipherhub/cipherhub.h"
#include "platform/SysUtils.h"

namespace vg {

// The library cannot be loaded, or lacks an entry point that is called.
class ELoadCipherhubError : public Exception {
 public:
  using Exception::Exception;
};

namespace chlib {

// The wrappers, in binding order. Each may raise ELoadCipherhubError.
void GetCryptoEngineTypes(int32_t index, char* buffer);
CHEngineHandle InitCryptoEngine(const char* typeName);
void DoneCryptoEngine(CHEngineHandle engine);
int32_t GetMaxCryptoEngineTypeLength();
int32_t GetMaxEncodeAddition(CHEngineHandle engine);
int32_t GetMaxSignatureLength(CHEngineHandle engine);
int32_t GetMaxUIDLength(CHEngineHandle engine);
int32_t GetMaxCryptoParamNameLength(CHEngineHandle engine);
int32_t GetMaxCryptoParamValueLength(CHEngineHandle engine);
int32_t GetMaxErrorStringLength(CHEngineHandle engine);
int32_t GetCryptoParamNumber(CHEngineHandle engine);
void GetCryptoParamName(CHEngineHandle engine, int32_t number, char* buffer);
void GetCryptoParamValue(CHEngineHandle engine, int32_t number, char* buffer);
int32_t SetCryptoParamValue(CHEngineHandle engine, int32_t number, const char* value);
int32_t GetEncodeUIDBySignUID(CHEngineHandle engine, const char* signUID, char* encodeUID);
void GetCryptoErrorString(CHEngineHandle engine, int32_t code, char* buffer);
int32_t EncodeData(CHEngineHandle engine, char* data, int32_t* length, const char* recipientUID);
int32_t DecodeData(CHEngineHandle engine, char* data, int32_t* length, char* senderUID);
int32_t SignData(CHEngineHandle engine, const char* data, int32_t length, char* signature, int32_t* signatureLength,
                 const char* signer);
int32_t VerifyData(CHEngineHandle engine, const char* data, int32_t length, const char* signature,
                   int32_t signatureLength, char* signerUID);
int32_t GetCurrentUserUID(CHEngineHandle engine, char* buffer);
void SetPasswordRequestFunc(CHEngineHandle engine, CHPasswordRequestFunc func);
void SetRootPath(CHEngineHandle engine, const char* rootPath);
void SetTMRequestFunc(CHEngineHandle engine, CHTMRequestFunc func);
int32_t GetMaxReportSize(CHEngineHandle engine);
int32_t GetReport(CHEngineHandle engine, const char* uid, char* buffer);
void ClearCash(CHEngineHandle engine);
int32_t UpdateCertificateCash(CHEngineHandle engine, const char* text);

// Not used by the tunnel itself: the tools ask it to tell which engine modules are present.
// Looked up after the entries above; a library without it only fails this call.
int32_t GetCryptoEngineStatus(const char* typeName);

// Number of bound entry points, and their export names in binding order.
inline constexpr int kEntryCount = 29;
const char* EntryName(int slot);

// Loads the library when it is not loaded yet, then looks up every entry point again.
// Raises ELoadCipherhubError when no candidate file loads. Only the wrappers need to call it.
void Bind();

// Frees the library. For the end of the program only: no engine handle may be in use.
void Unbind();

// True once a library is loaded.
bool IsLoaded();

// The files tried, in order, for a program with the given file name living in programDir:
// the tunnel program tries the alternative libraries around cipherhub by bare name through the
// system's library search; any other program prefers the cipherhub beside itself.
std::vector<std::string> LibraryCandidates(std::string_view programFileName, std::string_view programDir,
                                           const std::function<bool(const std::string&)>& fileExists);

// Replaces the candidate files for this process (tests and tools that drive a particular
// library file); an empty list goes back to the program's own rule. Only takes effect while no
// library is loaded.
void OverrideLibraryCandidates(std::vector<std::string> candidates);

}  // namespace chlib
}  // namespace vg
