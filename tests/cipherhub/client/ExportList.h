/* The names of all cipherhub exports, in ordinal order, for clients that bind them by name. */
#ifndef CHUB_TEST_EXPORT_LIST_H
#define CHUB_TEST_EXPORT_LIST_H
#define CH_EXPORTS(X)                                                                                          \
  X(GetCryptoEngineTypes) X(InitCryptoEngine) X(DoneCryptoEngine) X(GetCryptoEngineType)                      \
  X(GetMaxCryptoEngineTypeLength) X(GetMaxEncodeAddition) X(GetMaxSignatureLength) X(GetMaxUIDLength)         \
  X(GetMaxCryptoParamNameLength) X(GetMaxCryptoParamValueLength) X(GetMaxErrorStringLength)                   \
  X(GetCryptoParamNumber) X(GetCryptoParamName) X(GetCryptoParamValue) X(SetCryptoParamValue)                \
  X(GetEncodeUIDBySignUID) X(GetCryptoErrorString) X(EncodeData) X(DecodeData) X(SignData) X(VerifyData)      \
  X(GetCurrentUserUID) X(GenerateNewSSK) X(GenerateNewSEK) X(IsDifferentKeys) X(SetPasswordRequestFunc)       \
  X(GetMaxPasswordLength) X(IncludePublicKey) X(IncludePublicEncodeKey) X(SignFile) X(VerifyFile)             \
  X(RemoveSignaturesFromFile) X(GetLastErrorMessage) X(SetRootPath) X(TransSignatureFromFileToTM)             \
  X(TransPrivateKeyFromFileToTM) X(SetTMRequestFunc) X(ClearCash) X(RemoteGenerateStart)                      \
  X(SetRemoteGeneratePath) X(AddSign) X(RemoveSign) X(GetMaxSignAddition) X(GetPublicKeyTransfer)             \
  X(RemoteGenerateFinish) X(SavePublicKeyFromTransfer) X(GetMaxPublicKeyTransferSize)                         \
  X(IncludePublicKeyTransfer) X(ExcludeSelfPublicKeyTransfer) X(GetMaxFilePathLength) X(GetRemoteGenType)    \
  X(SaveSignedDataToFile) X(GetPublicKeyTransferByFile) X(GetMaxReportSize) X(GetReport) X(GetMaxAdditionEx) \
  X(GetUIDByPublicKeyTransfer) X(UpdateCertificateCash) X(GetMaxPublicKeyPropertiesLength)                    \
  X(GetPublicKeyProperties) X(RemoteGenerateStartEx) X(RemoteGenerateFinishEx)                                \
  X(GetPublicKeyPropertiesByTransfer) X(GetPublicKeyPropertiesByFile) X(IncludeCACertificateFromTransfer)     \
  X(CreateDirStructure) X(RemoveCertificate) X(VerifySignWOCheckValidity) X(CertAndRequestTransferMatch)     \
  X(IncludeCRL) X(ConvertTransferToSignedRequest) X(GetCryptoEngineStatus) X(HashData) X(ShowCertificate)     \
  X(GetPureSign) X(GetUIDByCertIdent) X(InstallCertsInMyStore) X(RegisterOIDInfo) X(GetParamInfo)            \
  X(GenerateNewSEKMDM) X(Import) X(CheckEngineCompatibles) X(ExportObject) X(SetDllRoot)

#endif
