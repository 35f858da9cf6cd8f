#pragma once
// The fixed knowledge of the library: which engine type names exist, which module slot and
// file serves each, the order in which callers enumerate them, and the entry points a module
// offers.
#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "cipherhub/engine_module.h"

namespace vg::cipherhub {

// Every entry of a module, in table order, with whether the module must offer it.
#define VG_ENGINE_ENTRIES(X)                                                                              \
  X(GetCryptObj, true) X(DoneEngine, true) X(GetCryptoEngineType, false) X(GetMaxEncodeAddition, true)    \
  X(GetMaxSignatureLength, true) X(GetMaxUIDLength, true) X(GetMaxCryptoParamNameLength, true)             \
  X(GetMaxCryptoParamValueLength, true) X(GetMaxErrorStringLength, true) X(GetCryptoParamNumber, true)     \
  X(GetCryptoParamName, true) X(GetCryptoParamValue, true) X(SetCryptoParamValue, true)                    \
  X(GetEncodeUIDBySignUID, true) X(GetCryptoErrorString, true) X(EncodeData, true) X(DecodeData, true)     \
  X(SignData, true) X(VerifyData, true) X(GetCurrentUserUID, true) X(GenerateNewSSK, true)                 \
  X(GenerateNewSEK, true) X(IsDifferentKeys, true) X(SetPasswordRequestFunc, true)                         \
  X(GetMaxPasswordLength, true) X(IncludePublicKey, true) X(IncludePublicEncodeKey, true)                  \
  X(SignFile, true) X(VerifyFile, true) X(RemoveSignaturesFromFile, true) X(GetLastErrorMessage, true)     \
  X(SetRootPath, true) X(TransSignatureFromFileToTM, true) X(TransPrivateKeyFromFileToTM, true)            \
  X(SetTMRequestFunc, true) X(ClearCash, true) X(RemoteGenerateStart, true) X(SetRemoteGeneratePath, true) \
  X(AddSign, true) X(RemoveSign, true) X(GetMaxSignAddition, true) X(GetPublicKeyTransfer, true)           \
  X(RemoteGenerateFinish, true) X(SavePublicKeyFromTransfer, true) X(GetMaxPublicKeyTransferSize, true)    \
  X(IncludePublicKeyTransfer, true) X(ExcludeSelfPublicKeyTransfer, true) X(GetMaxFilePathLength, true)    \
  X(GetRemoteGenType, true) X(SaveSignedDataToFile, true) X(GetPublicKeyTransferByFile, true)              \
  X(GetMaxReportSize, true) X(GetReport, true) X(GetMaxAdditionEx, true) X(GetUIDByPublicKeyTransfer, true) \
  X(UpdateCertificateCash, true) X(GetMaxPublicKeyPropertiesLength, true) X(GetPublicKeyProperties, true)  \
  X(RemoteGenerateStartEx, true) X(RemoteGenerateFinishEx, true) X(GetPublicKeyPropertiesByTransfer, true) \
  X(GetPublicKeyPropertiesByFile, true) X(IncludeCACertificateFromTransfer, true)                          \
  X(CreateDirStructure, true) X(RemoveCertificate, true) X(VerifySignWOCheckValidity, true)                \
  X(CertAndRequestTransferMatch, true) X(IncludeCRL, true) X(ConvertTransferToSignedRequest, true)         \
  X(HashData, false) X(GetPureSign, false) X(ShowCertificate, false) X(GetUIDByCertIdent, false)           \
  X(InstallCertsInMyStore, false) X(RegisterOIDInfo, false) X(GetParamInfo, false) X(Import, false)       \
  X(CheckCompatibles, false) X(ExportObject, false)

enum EntryId : int {
#define VG_ENTRY_ID(name, required) k##name,
  VG_ENGINE_ENTRIES(VG_ENTRY_ID)
#undef VG_ENTRY_ID
  kEntryCount
};

struct TEntryInfo {
  const char* Name;
  bool Required;
};
extern const std::array<TEntryInfo, kEntryCount> kEntries;
inline constexpr int kRequiredEntryCount = 68;

// The entry addresses of one module, in table order; 0 where the module lacks the entry.
struct TEngineFunctionTable {
  std::array<void*, kEntryCount> Entries{};

  // Complete when every required entry is present.
  bool Complete() const noexcept;
};

// The pointer type of each entry, so callers get a typed function from a table.
template <EntryId Id>
struct EntryType;
#define VG_ENTRY_TYPE(name, required) \
  template <>                         \
  struct EntryType<k##name> {         \
    using type = CHM_##name##_fn;     \
  };
VG_ENGINE_ENTRIES(VG_ENTRY_TYPE)
#undef VG_ENTRY_TYPE

template <EntryId Id>
typename EntryType<Id>::type Entry(const TEngineFunctionTable& table) noexcept {
  return reinterpret_cast<typename EntryType<Id>::type>(table.Entries[Id]);
}

// One row of the engine type table: twenty names share eighteen module slots.
struct TEngineTypeRow {
  const char* Name;
  int Slot;  // 1..18
  const char* ModuleFile;
};
inline constexpr int kSlotCount = 18;
inline constexpr int kEngineTypeCount = 20;
extern const std::array<TEngineTypeRow, kEngineTypeCount> kEngineTypeTable;

// The row whose name equals typeName byte for byte, or nullptr.
const TEngineTypeRow* FindEngineType(const char* typeName) noexcept;

// The name callers see under number index (1..20) of GetCryptoEngineTypes, or nullptr.
const char* EnumeratedEngineType(int index) noexcept;

}  // namespace vg::cipherhub
