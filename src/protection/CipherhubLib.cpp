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

// The bound entry points in binding order: the one list the slots and their names come from.
// clang-format off
#define VG_CIPHERHUB_ENTRIES(X)                                                                    \
  X(GetCryptoEngineTypes) X(InitCryptoEngine) X(DoneCryptoEngine) X(GetMaxCryptoEngineTypeLength)  \
  X(GetMaxEncodeAddition) X(GetMaxSignatureLength) X(GetMaxUIDLength)                              \
  X(GetMaxCryptoParamNameLength) X(GetMaxCryptoParamValueLength) X(GetMaxErrorStringLength)        \
  X(GetCryptoParamNumber) X(GetCryptoParamName) X(GetCryptoParamValue) X(SetCryptoParamValue)      \
  X(GetEncodeUIDBySignUID) X(GetCryptoErrorString) X(EncodeData) X(DecodeData) X(SignData)         \
  X(VerifyData) X(GetCurrentUserUID) X(SetPasswordRequestFunc) X(SetRootPath) X(SetTMRequestFunc)  \
  X(GetMaxReportSize) X(GetReport) X(ClearCash) X(UpdateCertificateCash) X(GetCryptoEngineStatus)
// clang-format on

enum Slot : int {
#define VG_SLOT(name) k##name,
  VG_CIPHERHUB_ENTRIES(VG_SLOT)
#undef VG_SLOT
      kSlotCount
};
static_assert(kSlotCount == kEntryCount);

constexpr std::array<const char*, kSlotCount> kNames = {
#define VG_NAME(name) #name,
    VG_CIPHERHUB_ENTRIES(VG_NAME)
#undef VG_NAME
};

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

// The entry point of that name, bound on demand, with the type the library's header declares.
#define VG_ENTRY(name) Resolve<decltype(&::name)>(k##name)

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

void GetCryptoEngineTypes(int32_t index, char* buffer) { VG_ENTRY(GetCryptoEngineTypes)(index, buffer); }
CHEngineHandle InitCryptoEngine(const char* typeName) { return VG_ENTRY(InitCryptoEngine)(typeName); }
void DoneCryptoEngine(CHEngineHandle engine) { VG_ENTRY(DoneCryptoEngine)(engine); }
int32_t GetMaxCryptoEngineTypeLength() { return VG_ENTRY(GetMaxCryptoEngineTypeLength)(); }
int32_t GetMaxEncodeAddition(CHEngineHandle engine) { return VG_ENTRY(GetMaxEncodeAddition)(engine); }
int32_t GetMaxSignatureLength(CHEngineHandle engine) { return VG_ENTRY(GetMaxSignatureLength)(engine); }
int32_t GetMaxUIDLength(CHEngineHandle engine) { return VG_ENTRY(GetMaxUIDLength)(engine); }
int32_t GetMaxCryptoParamNameLength(CHEngineHandle engine) { return VG_ENTRY(GetMaxCryptoParamNameLength)(engine); }
int32_t GetMaxCryptoParamValueLength(CHEngineHandle engine) { return VG_ENTRY(GetMaxCryptoParamValueLength)(engine); }
int32_t GetMaxErrorStringLength(CHEngineHandle engine) { return VG_ENTRY(GetMaxErrorStringLength)(engine); }
int32_t GetCryptoParamNumber(CHEngineHandle engine) { return VG_ENTRY(GetCryptoParamNumber)(engine); }
void GetCryptoParamName(CHEngineHandle engine, int32_t number, char* buffer) {
  VG_ENTRY(GetCryptoParamName)(engine, number, buffer);
}
void GetCryptoParamValue(CHEngineHandle engine, int32_t number, char* buffer) {
  VG_ENTRY(GetCryptoParamValue)(engine, number, buffer);
}
int32_t SetCryptoParamValue(CHEngineHandle engine, int32_t number, const char* value) {
  return VG_ENTRY(SetCryptoParamValue)(engine, number, value);
}
int32_t GetEncodeUIDBySignUID(CHEngineHandle engine, const char* signUID, char* encodeUID) {
  return VG_ENTRY(GetEncodeUIDBySignUID)(engine, signUID, encodeUID);
}
void GetCryptoErrorString(CHEngineHandle engine, int32_t code, char* buffer) {
  VG_ENTRY(GetCryptoErrorString)(engine, code, buffer);
}
int32_t EncodeData(CHEngineHandle engine, char* data, int32_t* length, const char* recipientUID) {
  return VG_ENTRY(EncodeData)(engine, data, length, recipientUID);
}
int32_t DecodeData(CHEngineHandle engine, char* data, int32_t* length, char* senderUID) {
  return VG_ENTRY(DecodeData)(engine, data, length, senderUID);
}
int32_t SignData(CHEngineHandle engine, const char* data, int32_t length, char* signature, int32_t* signatureLength,
                 const char* signer) {
  return VG_ENTRY(SignData)(engine, data, length, signature, signatureLength, signer);
}
int32_t VerifyData(CHEngineHandle engine, const char* data, int32_t length, const char* signature,
                   int32_t signatureLength, char* signerUID) {
  return VG_ENTRY(VerifyData)(engine, data, length, signature, signatureLength, signerUID);
}
int32_t GetCurrentUserUID(CHEngineHandle engine, char* buffer) { return VG_ENTRY(GetCurrentUserUID)(engine, buffer); }
void SetPasswordRequestFunc(CHEngineHandle engine, CHPasswordRequestFunc func) {
  VG_ENTRY(SetPasswordRequestFunc)(engine, func);
}
void SetRootPath(CHEngineHandle engine, const char* rootPath) { VG_ENTRY(SetRootPath)(engine, rootPath); }
void SetTMRequestFunc(CHEngineHandle engine, CHTMRequestFunc func) { VG_ENTRY(SetTMRequestFunc)(engine, func); }
int32_t GetMaxReportSize(CHEngineHandle engine) { return VG_ENTRY(GetMaxReportSize)(engine); }
int32_t GetReport(CHEngineHandle engine, const char* uid, char* buffer) {
  return VG_ENTRY(GetReport)(engine, uid, buffer);
}
void ClearCash(CHEngineHandle engine) { VG_ENTRY(ClearCash)(engine); }
int32_t UpdateCertificateCash(CHEngineHandle engine, const char* text) {
  return VG_ENTRY(UpdateCertificateCash)(engine, text);
}
int32_t GetCryptoEngineStatus(const char* typeName) { return VG_ENTRY(GetCryptoEngineStatus)(typeName); }

}  // namespace vg::chlib
