#include "protection/CipherhubLib.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <mutex>

#include "platform/DynLib.h"
#include "platform/ProgramInfo.h"

namespace vg::chlib {
namespace {

enum Slot : int {
  kGetCryptoEngineTypes,
  kInitCryptoEngine,
  kDoneCryptoEngine,
  kGetMaxCryptoEngineTypeLength,
  kGetMaxEncodeAddition,
  kGetMaxSignatureLength,
  kGetMaxUIDLength,
  kGetMaxCryptoParamNameLength,
  kGetMaxCryptoParamValueLength,
  kGetMaxErrorStringLength,
  kGetCryptoParamNumber,
  kGetCryptoParamName,
  kGetCryptoParamValue,
  kSetCryptoParamValue,
  kGetEncodeUIDBySignUID,
  kGetCryptoErrorString,
  kEncodeData,
  kDecodeData,
  kSignData,
  kVerifyData,
  kGetCurrentUserUID,
  kSetPasswordRequestFunc,
  kSetRootPath,
  kSetTMRequestFunc,
  kGetMaxReportSize,
  kGetReport,
  kClearCash,
  kUpdateCertificateCash,
  kGetCryptoEngineStatus,
  kSlotCount
};
static_assert(kSlotCount == kEntryCount);

constexpr std::array<const char*, kSlotCount> kNames = {
    "GetCryptoEngineTypes",       "InitCryptoEngine",
    "DoneCryptoEngine",           "GetMaxCryptoEngineTypeLength",
    "GetMaxEncodeAddition",       "GetMaxSignatureLength",
    "GetMaxUIDLength",            "GetMaxCryptoParamNameLength",
    "GetMaxCryptoParamValueLength", "GetMaxErrorStringLength",
    "GetCryptoParamNumber",       "GetCryptoParamName",
    "GetCryptoParamValue",        "SetCryptoParamValue",
    "GetEncodeUIDBySignUID",      "GetCryptoErrorString",
    "EncodeData",                 "DecodeData",
    "SignData",                   "VerifyData",
    "GetCurrentUserUID",          "SetPasswordRequestFunc",
    "SetRootPath",                "SetTMRequestFunc",
    "GetMaxReportSize",           "GetReport",
    "ClearCash",                  "UpdateCertificateCash",
    "GetCryptoEngineStatus"};

// The load lock lives for the whole program; the handle and the slots are read without it,
// so they are atomics (lookups from several threads store the same values).
std::mutex gLoadLock;
std::atomic<platform::LibraryHandle> gLibrary{nullptr};
std::array<std::atomic<void*>, kSlotCount> gSlots{};
std::vector<std::string> gOverride;  // guarded by gLoadLock

const char* const kCipherhubName = "cipherhub.dll";

std::string Upper(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return out;
}

platform::LibraryHandle LoadFirst(const std::vector<std::string>& candidates) {
  for (const std::string& file : candidates)
    if (platform::LibraryHandle handle = platform::LoadLibraryFile(file)) return handle;
  return nullptr;
}

template <typename Fn>
Fn Resolve(Slot slot) {
  void* entry = gSlots[slot].load(std::memory_order_acquire);
  if (!entry) {
    Bind();
    entry = gSlots[slot].load(std::memory_order_acquire);
  }
  if (!entry)
    throw ELoadCipherhubError(Format("Unable to get \"%s\" procedure adress from cipherhub.dll library.",
                                     {kNames[slot]}));
  return reinterpret_cast<Fn>(entry);
}

}  // namespace

const char* EntryName(int slot) { return slot >= 0 && slot < kSlotCount ? kNames[slot] : nullptr; }

std::vector<std::string> LibraryCandidates(std::string_view programFileName, std::string_view programDir,
                                           const std::function<bool(const std::string&)>& fileExists) {
  if (Upper(programFileName) == Upper(platform::ProgramFileNameFor("VGPROXY.EXE"))) {
    return {platform::ModuleFileName("engalt1.dll"), platform::ModuleFileName(kCipherhubName),
            platform::ModuleFileName("engalt2.dll")};
  }
  const std::string besideProgram = platform::JoinPath(programDir, platform::ModuleFileName(kCipherhubName));
  if (fileExists && fileExists(besideProgram)) return {besideProgram};
  return {platform::ModuleFileName(kCipherhubName)};
}

void OverrideLibraryCandidates(std::vector<std::string> candidates) {
  std::lock_guard<std::mutex> guard(gLoadLock);
  gOverride = std::move(candidates);
}

bool IsLoaded() { return gLibrary.load(std::memory_order_acquire) != nullptr; }

void Bind() {
  platform::LibraryHandle library = nullptr;
  {
    std::lock_guard<std::mutex> guard(gLoadLock);
    library = gLibrary.load(std::memory_order_acquire);
    if (!library) {
      const std::vector<std::string> candidates =
          gOverride.empty() ? LibraryCandidates(platform::ProgramFileName(), platform::ProgramDir(),
                                                platform::LibraryFileExists)
                            : gOverride;
      library = LoadFirst(candidates);
      if (!library) throw ELoadCipherhubError("Unable to load crypto toolkit library cipherhub.dll");
      gLibrary.store(library, std::memory_order_release);
    }
  }
  for (int slot = 0; slot < kSlotCount; ++slot)
    gSlots[slot].store(platform::LibrarySymbol(library, kNames[slot]), std::memory_order_release);
}

void Unbind() {
  std::lock_guard<std::mutex> guard(gLoadLock);
  platform::LibraryHandle library = gLibrary.exchange(nullptr, std::memory_order_acq_rel);
  for (auto& slot : gSlots) slot.store(nullptr, std::memory_order_release);
  platform::FreeLibraryFile(library);
}

void GetCryptoEngineTypes(int32_t index, char* buffer) {
  Resolve<decltype(&::GetCryptoEngineTypes)>(kGetCryptoEngineTypes)(index, buffer);
}
CHEngineHandle InitCryptoEngine(const char* typeName) {
  return Resolve<decltype(&::InitCryptoEngine)>(kInitCryptoEngine)(typeName);
}
void DoneCryptoEngine(CHEngineHandle engine) {
  Resolve<decltype(&::DoneCryptoEngine)>(kDoneCryptoEngine)(engine);
}
int32_t GetMaxCryptoEngineTypeLength() {
  return Resolve<decltype(&::GetMaxCryptoEngineTypeLength)>(kGetMaxCryptoEngineTypeLength)();
}
int32_t GetMaxEncodeAddition(CHEngineHandle engine) {
  return Resolve<decltype(&::GetMaxEncodeAddition)>(kGetMaxEncodeAddition)(engine);
}
int32_t GetMaxSignatureLength(CHEngineHandle engine) {
  return Resolve<decltype(&::GetMaxSignatureLength)>(kGetMaxSignatureLength)(engine);
}
int32_t GetMaxUIDLength(CHEngineHandle engine) {
  return Resolve<decltype(&::GetMaxUIDLength)>(kGetMaxUIDLength)(engine);
}
int32_t GetMaxCryptoParamNameLength(CHEngineHandle engine) {
  return Resolve<decltype(&::GetMaxCryptoParamNameLength)>(kGetMaxCryptoParamNameLength)(engine);
}
int32_t GetMaxCryptoParamValueLength(CHEngineHandle engine) {
  return Resolve<decltype(&::GetMaxCryptoParamValueLength)>(kGetMaxCryptoParamValueLength)(engine);
}
int32_t GetMaxErrorStringLength(CHEngineHandle engine) {
  return Resolve<decltype(&::GetMaxErrorStringLength)>(kGetMaxErrorStringLength)(engine);
}
int32_t GetCryptoParamNumber(CHEngineHandle engine) {
  return Resolve<decltype(&::GetCryptoParamNumber)>(kGetCryptoParamNumber)(engine);
}
void GetCryptoParamName(CHEngineHandle engine, int32_t number, char* buffer) {
  Resolve<decltype(&::GetCryptoParamName)>(kGetCryptoParamName)(engine, number, buffer);
}
void GetCryptoParamValue(CHEngineHandle engine, int32_t number, char* buffer) {
  Resolve<decltype(&::GetCryptoParamValue)>(kGetCryptoParamValue)(engine, number, buffer);
}
int32_t SetCryptoParamValue(CHEngineHandle engine, int32_t number, const char* value) {
  return Resolve<decltype(&::SetCryptoParamValue)>(kSetCryptoParamValue)(engine, number, value);
}
int32_t GetEncodeUIDBySignUID(CHEngineHandle engine, const char* signUID, char* encodeUID) {
  return Resolve<decltype(&::GetEncodeUIDBySignUID)>(kGetEncodeUIDBySignUID)(engine, signUID, encodeUID);
}
void GetCryptoErrorString(CHEngineHandle engine, int32_t code, char* buffer) {
  Resolve<decltype(&::GetCryptoErrorString)>(kGetCryptoErrorString)(engine, code, buffer);
}
int32_t EncodeData(CHEngineHandle engine, char* data, int32_t* length, const char* recipientUID) {
  return Resolve<decltype(&::EncodeData)>(kEncodeData)(engine, data, length, recipientUID);
}
int32_t DecodeData(CHEngineHandle engine, char* data, int32_t* length, char* senderUID) {
  return Resolve<decltype(&::DecodeData)>(kDecodeData)(engine, data, length, senderUID);
}
int32_t SignData(CHEngineHandle engine, const char* data, int32_t length, char* signature, int32_t* signatureLength,
                 const char* signer) {
  return Resolve<decltype(&::SignData)>(kSignData)(engine, data, length, signature, signatureLength, signer);
}
int32_t VerifyData(CHEngineHandle engine, const char* data, int32_t length, const char* signature,
                   int32_t signatureLength, char* signerUID) {
  return Resolve<decltype(&::VerifyData)>(kVerifyData)(engine, data, length, signature, signatureLength, signerUID);
}
int32_t GetCurrentUserUID(CHEngineHandle engine, char* buffer) {
  return Resolve<decltype(&::GetCurrentUserUID)>(kGetCurrentUserUID)(engine, buffer);
}
void SetPasswordRequestFunc(CHEngineHandle engine, CHPasswordRequestFunc func) {
  Resolve<decltype(&::SetPasswordRequestFunc)>(kSetPasswordRequestFunc)(engine, func);
}
void SetRootPath(CHEngineHandle engine, const char* rootPath) {
  Resolve<decltype(&::SetRootPath)>(kSetRootPath)(engine, rootPath);
}
void SetTMRequestFunc(CHEngineHandle engine, CHTMRequestFunc func) {
  Resolve<decltype(&::SetTMRequestFunc)>(kSetTMRequestFunc)(engine, func);
}
int32_t GetMaxReportSize(CHEngineHandle engine) {
  return Resolve<decltype(&::GetMaxReportSize)>(kGetMaxReportSize)(engine);
}
int32_t GetReport(CHEngineHandle engine, const char* uid, char* buffer) {
  return Resolve<decltype(&::GetReport)>(kGetReport)(engine, uid, buffer);
}
void ClearCash(CHEngineHandle engine) { Resolve<decltype(&::ClearCash)>(kClearCash)(engine); }
int32_t UpdateCertificateCash(CHEngineHandle engine, const char* text) {
  return Resolve<decltype(&::UpdateCertificateCash)>(kUpdateCertificateCash)(engine, text);
}
int32_t GetCryptoEngineStatus(const char* typeName) {
  return Resolve<decltype(&::GetCryptoEngineStatus)>(kGetCryptoEngineStatus)(typeName);
}

}  // namespace vg::chlib
