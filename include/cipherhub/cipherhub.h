/*
 * cipherhub: one flat C interface to many cryptographic engines.
 *
 * A caller names an engine by its engine type name (for example "Emulation/1.0"); the library
 * loads the engine module that serves that name on first use and forwards every call to it.
 * The library does no cryptography of its own.
 *
 * Conventions of every function below:
 *  - Texts are NUL-terminated 8-bit strings (Windows-1251 in this system).
 *  - Output buffers belong to the caller; size them with the matching GetMax... function:
 *      engine type names ............ GetMaxCryptoEngineTypeLength (always 100)
 *      error texts .................. GetMaxErrorStringLength
 *      user identifiers (UIDs) ...... GetMaxUIDLength
 *      parameter names / values ..... GetMaxCryptoParamNameLength / GetMaxCryptoParamValueLength
 *      signatures ................... GetMaxSignatureLength
 *      encrypted data (in place) .... plain length + GetMaxEncodeAddition
 *      reports ...................... GetMaxReportSize
 *  - Results: 0 is success, any other value an error code of the engine that
 *    GetCryptoErrorString describes. -1 is also the library's own failure (null or unusable
 *    handle, unknown engine, missing or incomplete module, a C++ exception thrown inside the
 *    module); the two cannot be told apart.
 *  - Functions without a result have no effect when they fail.
 *  - Nothing ever throws out of the library. A hardware fault inside an engine module (for
 *    instance a bad memory access) cannot be recovered safely on this platform: the library
 *    installs no signal handlers and such a fault ends the process.
 *  - Every function may be called from any thread, also concurrently on one handle; the library
 *    holds no lock while an engine runs. A handle must not be freed while another thread uses it.
 *  - Arguments the library does not interpret are passed to the module as machine words
 *    (intptr_t) unchanged; their meaning is the engine module's.
 *
 * Usual order: GetCryptoEngineTypes (any time) -> optionally SetDllRoot -> InitCryptoEngine ->
 * SetRootPath, SetPasswordRequestFunc, SetTMRequestFunc and parameter calls -> data calls ->
 * DoneCryptoEngine.
 */
#ifndef CIPHERHUB_CIPHERHUB_H
#define CIPHERHUB_CIPHERHUB_H

#include <stdint.h>

#if defined(CIPHERHUB_BUILDING_LIBRARY)
/* The build names the export marking of its system in CIPHERHUB_EXPORT (a DLL's dllexport). */
#ifdef CIPHERHUB_EXPORT
#define CIPHERHUB_API CIPHERHUB_EXPORT
#else
#define CIPHERHUB_API __attribute__((visibility("default")))
#endif
#else
#define CIPHERHUB_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Engine handle: created by InitCryptoEngine, released only by DoneCryptoEngine. NULL = none. */
typedef struct CHEngineOpaque* CHEngineHandle;

#ifndef CIPHERHUB_CALLBACK_TYPES
#define CIPHERHUB_CALLBACK_TYPES
/* Password prompt: fills buffer (size bytes including the NUL) and returns -1 when a password
   was entered, 0 otherwise. Called back from inside engine calls, on the calling thread. */
typedef int32_t (*CHPasswordRequestFunc)(char* buffer, int32_t size);
/* Key-medium prompt: code 0 shows the "attach key medium" prompt, 1 hides it, other codes do
   nothing; the result is always 13. Called back from inside engine calls. */
typedef int32_t (*CHTMRequestFunc)(uint8_t code);
#endif

/* 1: writes the engine type name number index (1..20) into buffer, or "" outside that range; NULL buffer: nothing. */
CIPHERHUB_API void GetCryptoEngineTypes(int32_t index, char* buffer);
/* 2: opens an engine of the named type; returns its handle, or NULL when the type is unknown or unavailable. */
CIPHERHUB_API CHEngineHandle InitCryptoEngine(const char* typeName);
/* 3: releases the engine and frees the handle; the module stays loaded. */
CIPHERHUB_API void DoneCryptoEngine(CHEngineHandle engine);
/* 4: copies the handle's engine type name (at most 99 characters and a NUL) into buffer. */
CIPHERHUB_API void GetCryptoEngineType(CHEngineHandle engine, char* buffer);
/* 5: size of an engine type name buffer: always 100. */
CIPHERHUB_API int32_t GetMaxCryptoEngineTypeLength(void);
/* 6: how many bytes EncodeData may add to the plain data. */
CIPHERHUB_API int32_t GetMaxEncodeAddition(CHEngineHandle engine);
/* 7: size of a signature buffer for SignData. */
CIPHERHUB_API int32_t GetMaxSignatureLength(CHEngineHandle engine);
/* 8: size of a UID buffer. */
CIPHERHUB_API int32_t GetMaxUIDLength(CHEngineHandle engine);
/* 9: size of a parameter name buffer. */
CIPHERHUB_API int32_t GetMaxCryptoParamNameLength(CHEngineHandle engine);
/* 10: size of a parameter value buffer; longer values given to SetCryptoParamValue are cut to it. */
CIPHERHUB_API int32_t GetMaxCryptoParamValueLength(CHEngineHandle engine);
/* 11: size of an error text buffer. */
CIPHERHUB_API int32_t GetMaxErrorStringLength(CHEngineHandle engine);
/* 12: number of engine parameters (numbered from 1). */
CIPHERHUB_API int32_t GetCryptoParamNumber(CHEngineHandle engine);
/* 13: writes the name of parameter number (from 1) into buffer. */
CIPHERHUB_API void GetCryptoParamName(CHEngineHandle engine, int32_t number, char* buffer);
/* 14: writes the current value of parameter number (from 1) into buffer. */
CIPHERHUB_API void GetCryptoParamValue(CHEngineHandle engine, int32_t number, char* buffer);
/* 15: sets parameter number (from 1), the value cut to GetMaxCryptoParamValueLength characters. */
CIPHERHUB_API int32_t SetCryptoParamValue(CHEngineHandle engine, int32_t number, const char* value);
/* 16: writes the encryption UID belonging to a signature UID into buffer. */
CIPHERHUB_API int32_t GetEncodeUIDBySignUID(CHEngineHandle engine, const char* signUID, char* encodeUID);
/* 17: writes the text of an engine error code into buffer. */
CIPHERHUB_API void GetCryptoErrorString(CHEngineHandle engine, int32_t code, char* buffer);
/* 18: encrypts data in place for recipientUID (NULL or "": the engine's configured partner); *length in: plain, out: encrypted. */
CIPHERHUB_API int32_t EncodeData(CHEngineHandle engine, char* data, int32_t* length, const char* recipientUID);
/* 19: decrypts data in place; *length in: encrypted, out: plain; the sender's UID goes to senderUID. */
CIPHERHUB_API int32_t DecodeData(CHEngineHandle engine, char* data, int32_t* length, char* senderUID);
/* 20: signs data; *signatureLength in: buffer size, out: signature length; signer "" = the engine's own identity. */
CIPHERHUB_API int32_t SignData(CHEngineHandle engine, const char* data, int32_t length, char* signature,
                               int32_t* signatureLength, const char* signer);
/* 21: verifies a signature of data; the signer's UID goes to signerUID. */
CIPHERHUB_API int32_t VerifyData(CHEngineHandle engine, const char* data, int32_t length, const char* signature,
                                 int32_t signatureLength, char* signerUID);
/* 22: writes the engine's own UID into buffer. */
CIPHERHUB_API int32_t GetCurrentUserUID(CHEngineHandle engine, char* buffer);
/* 23: asks the engine to generate a new signature key. */
CIPHERHUB_API int32_t GenerateNewSSK(CHEngineHandle engine);
/* 24: asks the engine to generate a new encryption key. */
CIPHERHUB_API int32_t GenerateNewSEK(CHEngineHandle engine);
/* 25: asks the engine whether its signature and encryption keys differ. */
CIPHERHUB_API int32_t IsDifferentKeys(CHEngineHandle engine);
/* 26: registers the password prompt the engine calls when it needs a key password. */
CIPHERHUB_API void SetPasswordRequestFunc(CHEngineHandle engine, CHPasswordRequestFunc func);
/* 27: size of the password buffer the engine hands its password prompt. */
CIPHERHUB_API int32_t GetMaxPasswordLength(CHEngineHandle engine);
/* 28: engine-defined: includes a public key. */
CIPHERHUB_API int32_t IncludePublicKey(CHEngineHandle engine, intptr_t a1);
/* 29: engine-defined: includes a public encryption key. */
CIPHERHUB_API int32_t IncludePublicEncodeKey(CHEngineHandle engine, intptr_t a1);
/* 30: engine-defined: signs a file. */
CIPHERHUB_API int32_t SignFile(CHEngineHandle engine, intptr_t a1);
/* 31: engine-defined: verifies a signed file. */
CIPHERHUB_API int32_t VerifyFile(CHEngineHandle engine, intptr_t a1, intptr_t a2);
/* 32: engine-defined: removes the signatures from a file. */
CIPHERHUB_API int32_t RemoveSignaturesFromFile(CHEngineHandle engine, intptr_t a1);
/* 33: writes the engine's last error text into buffer (GetMaxErrorStringLength bytes). */
CIPHERHUB_API void GetLastErrorMessage(CHEngineHandle engine, char* buffer);
/* 34: sets the library root (once per process; a different second root is ignored) and tells the engine. */
CIPHERHUB_API void SetRootPath(CHEngineHandle engine, const char* rootPath);
/* 35: engine-defined: moves the signature key from a file to the key medium. */
CIPHERHUB_API int32_t TransSignatureFromFileToTM(CHEngineHandle engine);
/* 36: engine-defined: moves the private key from a file to the key medium. */
CIPHERHUB_API int32_t TransPrivateKeyFromFileToTM(CHEngineHandle engine);
/* 37: registers the key-medium prompt the engine calls when it needs the key medium. */
CIPHERHUB_API void SetTMRequestFunc(CHEngineHandle engine, CHTMRequestFunc func);
/* 38: makes the engine forget cached keys, passwords and certificates. */
CIPHERHUB_API void ClearCash(CHEngineHandle engine);
/* 39: engine-defined: starts a remote key generation. */
CIPHERHUB_API int32_t RemoteGenerateStart(CHEngineHandle engine, intptr_t a1);
/* 40: engine-defined: sets the remote key generation path. */
CIPHERHUB_API void SetRemoteGeneratePath(CHEngineHandle engine, intptr_t a1);
/* 41: engine-defined: adds a signature. */
CIPHERHUB_API int32_t AddSign(CHEngineHandle engine, intptr_t a1, intptr_t a2, intptr_t a3);
/* 42: engine-defined: removes a signature. */
CIPHERHUB_API int32_t RemoveSign(CHEngineHandle engine, intptr_t a1, intptr_t a2, intptr_t a3);
/* 43: engine-defined: maximum size added by AddSign. */
CIPHERHUB_API int32_t GetMaxSignAddition(CHEngineHandle engine);
/* 44: engine-defined: writes the own public key transfer. */
CIPHERHUB_API int32_t GetPublicKeyTransfer(CHEngineHandle engine, intptr_t a1, intptr_t a2);
/* 45: engine-defined: finishes a remote key generation. */
CIPHERHUB_API int32_t RemoteGenerateFinish(CHEngineHandle engine, intptr_t a1);
/* 46: engine-defined: saves a public key from a transfer. */
CIPHERHUB_API int32_t SavePublicKeyFromTransfer(CHEngineHandle engine, intptr_t a1, intptr_t a2);
/* 47: engine-defined: size of a public key transfer. */
CIPHERHUB_API int32_t GetMaxPublicKeyTransferSize(CHEngineHandle engine);
/* 48: engine-defined: includes a public key transfer. */
CIPHERHUB_API int32_t IncludePublicKeyTransfer(CHEngineHandle engine, intptr_t a1);
/* 49: engine-defined: excludes the own public key transfer. */
CIPHERHUB_API int32_t ExcludeSelfPublicKeyTransfer(CHEngineHandle engine, intptr_t a1);
/* 50: engine-defined: size of a file path buffer. */
CIPHERHUB_API int32_t GetMaxFilePathLength(CHEngineHandle engine);
/* 51: engine-defined: kind of remote key generation. */
CIPHERHUB_API int32_t GetRemoteGenType(CHEngineHandle engine);
/* 52: engine-defined: saves signed data to a file. */
CIPHERHUB_API int32_t SaveSignedDataToFile(CHEngineHandle engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4,
                                           intptr_t a5);
/* 53: engine-defined: reads a public key transfer from a file. */
CIPHERHUB_API int32_t GetPublicKeyTransferByFile(CHEngineHandle engine, intptr_t a1, intptr_t a2);
/* 54: size of a report buffer for GetReport. */
CIPHERHUB_API int32_t GetMaxReportSize(CHEngineHandle engine);
/* 55: writes a report on the key of uid into buffer; NULL uid: "ABONENTSLIST:" and the known subscribers. */
CIPHERHUB_API int32_t GetReport(CHEngineHandle engine, const char* uid, char* buffer);
/* 56: engine-defined: maximum addition of an extended operation. */
CIPHERHUB_API int32_t GetMaxAdditionEx(CHEngineHandle engine, intptr_t a1);
/* 57: engine-defined: UID named by a public key transfer. */
CIPHERHUB_API int32_t GetUIDByPublicKeyTransfer(CHEngineHandle engine, intptr_t a1, intptr_t a2);
/* 58: refreshes the engine's certificate cache from the given text. */
CIPHERHUB_API int32_t UpdateCertificateCash(CHEngineHandle engine, const char* text);
/* 59: engine-defined: size of a public key properties buffer. */
CIPHERHUB_API int32_t GetMaxPublicKeyPropertiesLength(CHEngineHandle engine);
/* 60: engine-defined: properties of a public key. */
CIPHERHUB_API int32_t GetPublicKeyProperties(CHEngineHandle engine, intptr_t a1, intptr_t a2);
/* 61: engine-defined: starts an extended remote key generation. */
CIPHERHUB_API int32_t RemoteGenerateStartEx(CHEngineHandle engine, intptr_t a1, intptr_t a2, intptr_t a3);
/* 62: engine-defined: finishes an extended remote key generation. */
CIPHERHUB_API int32_t RemoteGenerateFinishEx(CHEngineHandle engine, intptr_t a1, intptr_t a2);
/* 63: engine-defined: properties of a public key transfer. */
CIPHERHUB_API int32_t GetPublicKeyPropertiesByTransfer(CHEngineHandle engine, intptr_t a1, intptr_t a2);
/* 64: engine-defined: properties of a public key file. */
CIPHERHUB_API int32_t GetPublicKeyPropertiesByFile(CHEngineHandle engine, intptr_t a1, intptr_t a2);
/* 65: engine-defined: includes a CA certificate from a transfer. */
CIPHERHUB_API int32_t IncludeCACertificateFromTransfer(CHEngineHandle engine, intptr_t a1);
/* 66: engine-defined: creates the engine's directory structure. */
CIPHERHUB_API int32_t CreateDirStructure(CHEngineHandle engine, intptr_t a1, intptr_t a2);
/* 67: engine-defined: removes a certificate. */
CIPHERHUB_API int32_t RemoveCertificate(CHEngineHandle engine, intptr_t a1);
/* 68: engine-defined: verifies a signature without checking the certificate's validity. */
CIPHERHUB_API int32_t VerifySignWOCheckValidity(CHEngineHandle engine, intptr_t a1, intptr_t a2, intptr_t a3,
                                                intptr_t a4, intptr_t a5);
/* 69: engine-defined: checks that a certificate and a request transfer match. */
CIPHERHUB_API int32_t CertAndRequestTransferMatch(CHEngineHandle engine, intptr_t a1, intptr_t a2, intptr_t a3);
/* 70: engine-defined: includes a certificate revocation list. */
CIPHERHUB_API int32_t IncludeCRL(CHEngineHandle engine, intptr_t a1);
/* 71: engine-defined: converts a transfer into a signed request. */
CIPHERHUB_API int32_t ConvertTransferToSignedRequest(CHEngineHandle engine, intptr_t a1);
/* 72: 1 when the type's module loads and is complete, 0 when unknown or unavailable, -1 on an internal failure. */
CIPHERHUB_API int32_t GetCryptoEngineStatus(const char* typeName);
/* 73: optional engine function: hashes data (-1 when the module lacks it). */
CIPHERHUB_API int32_t HashData(CHEngineHandle engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5);
/* 74: optional engine function: shows a certificate (-1 when the module lacks it). */
CIPHERHUB_API int32_t ShowCertificate(CHEngineHandle engine, intptr_t a1);
/* 75: optional engine function: pure signature of data (-1 when the module lacks it). */
CIPHERHUB_API int32_t GetPureSign(CHEngineHandle engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4,
                                  intptr_t a5);
/* 76: optional engine function: UID by certificate identifier (-1 when the module lacks it). */
CIPHERHUB_API int32_t GetUIDByCertIdent(CHEngineHandle engine, intptr_t a1, intptr_t a2);
/* 77: optional engine function: installs certificates in the user's store (-1 when the module lacks it). */
CIPHERHUB_API int32_t InstallCertsInMyStore(CHEngineHandle engine, intptr_t a1);
/* 78: optional engine function: registers object identifier information (-1 when the module lacks it). */
CIPHERHUB_API int32_t RegisterOIDInfo(CHEngineHandle engine, intptr_t a1, intptr_t a2);
/* 79: optional engine function: parameter information (-1 when the module lacks it). */
CIPHERHUB_API int32_t GetParamInfo(CHEngineHandle engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4);
/* 80: always -1; touches nothing. */
CIPHERHUB_API int32_t GenerateNewSEKMDM(CHEngineHandle engine);
/* 81: optional engine function: imports an object (-1 when the module lacks it). */
CIPHERHUB_API int32_t Import(CHEngineHandle engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4);
/* 82: 1 when engines of the two types can work together (equal texts always), else 0. */
CIPHERHUB_API int32_t CheckEngineCompatibles(const char* typeNameA, const char* typeNameB);
/* 83: optional engine function: exports an object (-1 when the module lacks it). */
CIPHERHUB_API int32_t ExportObject(CHEngineHandle engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4,
                                   intptr_t a5, intptr_t a6);
/* 84: sets the library root (once per process; a different second root is ignored). */
CIPHERHUB_API void SetDllRoot(const char* rootPath);

#ifdef __cplusplus
}
#endif

#endif /* CIPHERHUB_CIPHERHUB_H */
