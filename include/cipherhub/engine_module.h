/*
 * The contract between cipherhub and an engine module.
 *
 * An engine module is a shared library that wraps one cryptographic engine. cipherhub loads it
 * by file name on the first use of one of its engine type names, resolves the entries below by
 * their exact names and keeps the module loaded until cipherhub itself is unloaded.
 *
 * Writing a module: define CHM_IMPLEMENTATION before including this header in the file that
 * defines the entries; the header then declares every entry with C linkage and default
 * visibility, so the compiler checks each definition against the signature cipherhub calls.
 * Build the rest of the module with hidden visibility. Without CHM_IMPLEMENTATION the header
 * declares only the types (this is how cipherhub uses it).
 *
 * Required and optional entries: a module must export the 68 entries marked REQUIRED; if one of
 * them is missing, every engine type the module serves is unavailable (InitCryptoEngine gives
 * NULL, GetCryptoEngineStatus 0), even for the functions it does export. The 11 entries marked
 * OPTIONAL may be left out: cipherhub then answers the matching export with -1
 * (CheckEngineCompatibles with 0) and GetCryptoEngineType itself.
 *
 * Engine object: GetCryptObj creates one per cipherhub handle; it is any non-NULL pointer-sized
 * value of the module's choosing, handed back unchanged as the first argument of every entry
 * except GetCryptObj and CheckCompatibles. DoneEngine releases it; it is not used afterwards.
 *
 * Texts: NUL-terminated 8-bit strings (Windows-1251 in this system).
 *
 * Buffers and lengths: every output buffer belongs to the caller. Its size is the answer of the
 * matching GetMax... entry, in bytes, terminating NUL included, so a module writes at most that
 * many bytes (for texts: at most size - 1 characters and the NUL):
 *     GetCryptoParamName ................... GetMaxCryptoParamNameLength
 *     GetCryptoParamValue .................. GetMaxCryptoParamValueLength
 *     GetCryptoErrorString, GetLastErrorMessage .. GetMaxErrorStringLength
 *     UID outputs (DecodeData, VerifyData, GetCurrentUserUID, GetEncodeUIDBySignUID) .. GetMaxUIDLength
 *     SignData signature ................... GetMaxSignatureLength
 *     EncodeData data (in place) ........... *length + GetMaxEncodeAddition
 *     GetReport ............................ GetMaxReportSize
 *     password prompt buffer (module-owned)  GetMaxPasswordLength
 * cipherhub cuts a value given to SetCryptoParamValue to GetMaxCryptoParamValueLength characters
 * before the module sees it; callers size value buffers with the same number, so a module that
 * wants every accepted value to read back whole accepts at most one character fewer.
 * Callers may pass NULL for an output they do not want; a module must then skip that output.
 *
 * Results: 0 is success; any other value is an error code of the module that its
 * GetCryptoErrorString can describe. cipherhub passes codes through unchanged and uses -1 for
 * its own failures, so a module should not use -1 as an error code of its own.
 *
 * Threads: entries can be called from several threads at once, also for one engine object;
 * cipherhub holds no lock while an entry runs, and a module must synchronise itself.
 * The password and key-medium prompts are called by the module on the thread that called the
 * entry, and they may block for as long as the user takes.
 *
 * Failures: an entry should report failures through its result and never throw. cipherhub turns
 * a C++ exception escaping an entry into the failure result (-1 or no effect), but cannot undo
 * whatever the module left half done; a hardware fault inside a module ends the process.
 *
 * Arguments that the system leaves to the modules are passed as machine words (intptr_t),
 * exactly as the caller gave them to cipherhub; their meaning is the module's own.
 *
 * Search: cipherhub looks for a module beside the running program, then in the root's "EXE",
 * "SYSTEM" and "USER" subdirectories, then through the system's library search, then beside
 * cipherhub itself. A module's own dependent libraries are found through the module's run path
 * (link it with a run path of $ORIGIN to keep them beside it).
 */
#ifndef CIPHERHUB_ENGINE_MODULE_H
#define CIPHERHUB_ENGINE_MODULE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque engine object created by GetCryptObj; NULL means "no engine". */
typedef void* CHEngineObject;

#ifndef CIPHERHUB_CALLBACK_TYPES
#define CIPHERHUB_CALLBACK_TYPES
/* Password prompt registered by the caller: the module passes its own buffer and that buffer's
   size in bytes (NUL included). Result -1: a password was entered and copied into the buffer,
   NUL-terminated; 0: no password (cancelled, or size < 1 or buffer NULL), buffer untouched. */
typedef int32_t (*CHPasswordRequestFunc)(char* buffer, int32_t size);
/* Key-medium prompt registered by the caller: code 0 asks to show the "attach key medium"
   prompt, 1 to hide it; nested show/hide pairs only count; other codes do nothing. Result 13. */
typedef int32_t (*CHTMRequestFunc)(uint8_t code);
#endif

#ifdef __cplusplus
}
#endif

/* The build names the export marking of its system in CHM_EXPORT (a DLL's dllexport). */
#ifndef CHM_EXPORT
#define CHM_EXPORT __attribute__((visibility("default")))
#endif
#if defined(CHM_IMPLEMENTATION)
#define CHM_DECLARE(ret, name, params) CHM_EXPORT ret name params;
#else
#define CHM_DECLARE(ret, name, params)
#endif

/* Declares the pointer type CHM_<name>_fn of one entry and, for module sources, its prototype. */
#define CHM_ENTRY(ret, name, params) \
  typedef ret(*CHM_##name##_fn) params; \
  CHM_DECLARE(ret, name, params)

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Engine objects ---------------------------------------------------------------------- */

/* 1 REQUIRED. Creates an engine object for typeName, the caller's text exactly as given to
   InitCryptoEngine (a module serving two type names tells them apart by it). NULL: no engine. */
CHM_ENTRY(CHEngineObject, GetCryptObj, (const char* typeName))
/* 2 REQUIRED. Releases the engine object; the result is not used. */
CHM_ENTRY(int32_t, DoneEngine, (CHEngineObject engine))
/* 3 OPTIONAL, never called: cipherhub answers GetCryptoEngineType itself. */
CHM_ENTRY(void, GetCryptoEngineType, (CHEngineObject engine, char* buffer))

/* ---- Sizes ------------------------------------------------------------------------------- */

/* 4 REQUIRED. Most bytes EncodeData adds to the plain data. */
CHM_ENTRY(int32_t, GetMaxEncodeAddition, (CHEngineObject engine))
/* 5 REQUIRED. Size of a signature buffer. */
CHM_ENTRY(int32_t, GetMaxSignatureLength, (CHEngineObject engine))
/* 6 REQUIRED. Size of a UID buffer. */
CHM_ENTRY(int32_t, GetMaxUIDLength, (CHEngineObject engine))
/* 7 REQUIRED. Size of a parameter name buffer. */
CHM_ENTRY(int32_t, GetMaxCryptoParamNameLength, (CHEngineObject engine))
/* 8 REQUIRED. Size of a parameter value buffer and the cut-off of SetCryptoParamValue. A negative
   answer makes cipherhub refuse every SetCryptoParamValue without calling the module. */
CHM_ENTRY(int32_t, GetMaxCryptoParamValueLength, (CHEngineObject engine))
/* 9 REQUIRED. Size of an error text buffer. */
CHM_ENTRY(int32_t, GetMaxErrorStringLength, (CHEngineObject engine))
/* 10 REQUIRED. Number of engine parameters; they are numbered from 1. */
CHM_ENTRY(int32_t, GetCryptoParamNumber, (CHEngineObject engine))

/* ---- Parameters and identities ----------------------------------------------------------- */

/* 11 REQUIRED. Writes the name of parameter number (from 1); an unknown number writes nothing. */
CHM_ENTRY(void, GetCryptoParamName, (CHEngineObject engine, int32_t number, char* buffer))
/* 12 REQUIRED. Writes the current value of parameter number (from 1); unknown: nothing. */
CHM_ENTRY(void, GetCryptoParamValue, (CHEngineObject engine, int32_t number, char* buffer))
/* 13 REQUIRED. Sets parameter number (from 1) to value (never NULL; already cut, see above). */
CHM_ENTRY(int32_t, SetCryptoParamValue, (CHEngineObject engine, int32_t number, const char* value))
/* 14 REQUIRED. Writes the encryption UID that belongs to the signature UID signUID. */
CHM_ENTRY(int32_t, GetEncodeUIDBySignUID, (CHEngineObject engine, const char* signUID, char* encodeUID))
/* 15 REQUIRED. Writes the text of error code `code` ("" when the module has none). */
CHM_ENTRY(void, GetCryptoErrorString, (CHEngineObject engine, int32_t code, char* buffer))

/* ---- Data operations ----------------------------------------------------------------------- */

/* 16 REQUIRED. Encrypts data in place for recipientUID (NULL or "": the engine's configured
   partner). The buffer holds *length plain bytes and has room for GetMaxEncodeAddition more;
   on success *length becomes the encrypted length. */
CHM_ENTRY(int32_t, EncodeData, (CHEngineObject engine, char* data, int32_t* length, const char* recipientUID))
/* 17 REQUIRED. Decrypts data in place (*length in: encrypted, out: plain) and writes the sender's
   UID into senderUID. Must fail on bytes that are not the engine's encryption. */
CHM_ENTRY(int32_t, DecodeData, (CHEngineObject engine, char* data, int32_t* length, char* senderUID))
/* 18 REQUIRED. Signs `length` bytes of data into signature. *signatureLength in: the buffer size
   (a value below 1 means a buffer of GetMaxSignatureLength bytes), out: the signature length.
   signer names the key to sign with; "" or NULL means the engine's own identity. */
CHM_ENTRY(int32_t, SignData, (CHEngineObject engine, const char* data, int32_t length, char* signature,
                              int32_t* signatureLength, const char* signer))
/* 19 REQUIRED. Verifies signature (signatureLength bytes) of `length` bytes of data and writes
   the signer's UID into signerUID. Nonzero when the signature does not fit the data. */
CHM_ENTRY(int32_t, VerifyData, (CHEngineObject engine, const char* data, int32_t length, const char* signature,
                                int32_t signatureLength, char* signerUID))
/* 20 REQUIRED. Writes the engine's own UID. */
CHM_ENTRY(int32_t, GetCurrentUserUID, (CHEngineObject engine, char* buffer))

/* ---- Keys, prompts and housekeeping -------------------------------------------------------- */

/* 21 REQUIRED. Generates a new signature key. */
CHM_ENTRY(int32_t, GenerateNewSSK, (CHEngineObject engine))
/* 22 REQUIRED. Generates a new encryption key. */
CHM_ENTRY(int32_t, GenerateNewSEK, (CHEngineObject engine))
/* 23 REQUIRED. Tells whether the signature and the encryption keys differ. */
CHM_ENTRY(int32_t, IsDifferentKeys, (CHEngineObject engine))
/* 24 REQUIRED. Registers the password prompt (NULL: none). */
CHM_ENTRY(void, SetPasswordRequestFunc, (CHEngineObject engine, CHPasswordRequestFunc func))
/* 25 REQUIRED. Size of the buffer the module hands its password prompt. */
CHM_ENTRY(int32_t, GetMaxPasswordLength, (CHEngineObject engine))
/* 26 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, IncludePublicKey, (CHEngineObject engine, intptr_t a1))
/* 27 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, IncludePublicEncodeKey, (CHEngineObject engine, intptr_t a1))
/* 28 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, SignFile, (CHEngineObject engine, intptr_t a1))
/* 29 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, VerifyFile, (CHEngineObject engine, intptr_t a1, intptr_t a2))
/* 30 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, RemoveSignaturesFromFile, (CHEngineObject engine, intptr_t a1))
/* 31 REQUIRED. Writes the engine's last error text (GetMaxErrorStringLength bytes). */
CHM_ENTRY(void, GetLastErrorMessage, (CHEngineObject engine, char* buffer))
/* 32 REQUIRED. Tells the engine the installation root (the text the caller gave, possibly NULL);
   called only when cipherhub accepted it as its own root. */
CHM_ENTRY(void, SetRootPath, (CHEngineObject engine, const char* rootPath))
/* 33 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, TransSignatureFromFileToTM, (CHEngineObject engine))
/* 34 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, TransPrivateKeyFromFileToTM, (CHEngineObject engine))
/* 35 REQUIRED. Registers the key-medium prompt (NULL: none). */
CHM_ENTRY(void, SetTMRequestFunc, (CHEngineObject engine, CHTMRequestFunc func))
/* 36 REQUIRED. Forgets cached keys, passwords and certificates. */
CHM_ENTRY(void, ClearCash, (CHEngineObject engine))
/* 37 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, RemoteGenerateStart, (CHEngineObject engine, intptr_t a1))
/* 38 REQUIRED. Module-defined. */
CHM_ENTRY(void, SetRemoteGeneratePath, (CHEngineObject engine, intptr_t a1))
/* 39 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, AddSign, (CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3))
/* 40 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, RemoveSign, (CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3))
/* 41 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, GetMaxSignAddition, (CHEngineObject engine))
/* 42 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, GetPublicKeyTransfer, (CHEngineObject engine, intptr_t a1, intptr_t a2))
/* 43 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, RemoteGenerateFinish, (CHEngineObject engine, intptr_t a1))
/* 44 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, SavePublicKeyFromTransfer, (CHEngineObject engine, intptr_t a1, intptr_t a2))
/* 45 REQUIRED. Module-defined size. */
CHM_ENTRY(int32_t, GetMaxPublicKeyTransferSize, (CHEngineObject engine))
/* 46 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, IncludePublicKeyTransfer, (CHEngineObject engine, intptr_t a1))
/* 47 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, ExcludeSelfPublicKeyTransfer, (CHEngineObject engine, intptr_t a1))
/* 48 REQUIRED. Module-defined size. */
CHM_ENTRY(int32_t, GetMaxFilePathLength, (CHEngineObject engine))
/* 49 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, GetRemoteGenType, (CHEngineObject engine))
/* 50 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, SaveSignedDataToFile,
          (CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5))
/* 51 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, GetPublicKeyTransferByFile, (CHEngineObject engine, intptr_t a1, intptr_t a2))
/* 52 REQUIRED. Size of a report buffer. */
CHM_ENTRY(int32_t, GetMaxReportSize, (CHEngineObject engine))
/* 53 REQUIRED. Writes a report on the key of uid. NULL uid: the text "ABONENTSLIST:" followed by
   the UIDs of the known subscribers, one per line (lines separated by CR LF). */
CHM_ENTRY(int32_t, GetReport, (CHEngineObject engine, const char* uid, char* buffer))
/* 54 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, GetMaxAdditionEx, (CHEngineObject engine, intptr_t a1))
/* 55 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, GetUIDByPublicKeyTransfer, (CHEngineObject engine, intptr_t a1, intptr_t a2))
/* 56 REQUIRED. Refreshes the certificate cache from a text (its meaning is the module's). */
CHM_ENTRY(int32_t, UpdateCertificateCash, (CHEngineObject engine, const char* text))
/* 57 REQUIRED. Module-defined size. */
CHM_ENTRY(int32_t, GetMaxPublicKeyPropertiesLength, (CHEngineObject engine))
/* 58 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, GetPublicKeyProperties, (CHEngineObject engine, intptr_t a1, intptr_t a2))
/* 59 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, RemoteGenerateStartEx, (CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3))
/* 60 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, RemoteGenerateFinishEx, (CHEngineObject engine, intptr_t a1, intptr_t a2))
/* 61 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, GetPublicKeyPropertiesByTransfer, (CHEngineObject engine, intptr_t a1, intptr_t a2))
/* 62 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, GetPublicKeyPropertiesByFile, (CHEngineObject engine, intptr_t a1, intptr_t a2))
/* 63 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, IncludeCACertificateFromTransfer, (CHEngineObject engine, intptr_t a1))
/* 64 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, CreateDirStructure, (CHEngineObject engine, intptr_t a1, intptr_t a2))
/* 65 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, RemoveCertificate, (CHEngineObject engine, intptr_t a1))
/* 66 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, VerifySignWOCheckValidity,
          (CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5))
/* 67 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, CertAndRequestTransferMatch, (CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3))
/* 68 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, IncludeCRL, (CHEngineObject engine, intptr_t a1))
/* 69 REQUIRED. Module-defined. */
CHM_ENTRY(int32_t, ConvertTransferToSignedRequest, (CHEngineObject engine, intptr_t a1))

/* ---- Optional entries ------------------------------------------------------------------------ */

/* 70 OPTIONAL. Module-defined. */
CHM_ENTRY(int32_t, HashData, (CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5))
/* 71 OPTIONAL. Module-defined. */
CHM_ENTRY(int32_t, GetPureSign, (CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5))
/* 72 OPTIONAL. Module-defined. */
CHM_ENTRY(int32_t, ShowCertificate, (CHEngineObject engine, intptr_t a1))
/* 73 OPTIONAL. Module-defined. */
CHM_ENTRY(int32_t, GetUIDByCertIdent, (CHEngineObject engine, intptr_t a1, intptr_t a2))
/* 74 OPTIONAL. Module-defined. */
CHM_ENTRY(int32_t, InstallCertsInMyStore, (CHEngineObject engine, intptr_t a1))
/* 75 OPTIONAL. Module-defined. */
CHM_ENTRY(int32_t, RegisterOIDInfo, (CHEngineObject engine, intptr_t a1, intptr_t a2))
/* 76 OPTIONAL. Module-defined. */
CHM_ENTRY(int32_t, GetParamInfo, (CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4))
/* 77 OPTIONAL. Module-defined. */
CHM_ENTRY(int32_t, Import, (CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4))
/* 78 OPTIONAL. No engine object: 1 when this module's engines can work with engines of type
   otherTypeName; any other value means no. cipherhub asks both modules and needs 1 from each. */
CHM_ENTRY(int32_t, CheckCompatibles, (const char* otherTypeName))
/* 79 OPTIONAL. Module-defined. */
CHM_ENTRY(int32_t, ExportObject,
          (CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5, intptr_t a6))

#ifdef __cplusplus
}
#endif

#endif /* CIPHERHUB_ENGINE_MODULE_H */
