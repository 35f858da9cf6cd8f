/* Test engine module. Built several times, each build with one deliberate flaw:
 *   MOCK_NO_CRL   lacks the required IncludeCRL,
 *   MOCK_MINIMAL  lacks GetCryptoEngineType and every optional entry,
 *   MOCK_THROW    throws a C++ exception from data functions and from DoneEngine.
 * Without a flaw it offers all 79 entries. It records what reaches it so tests can see
 * exactly what cipherhub forwarded; GetReport returns that record. */
#define CHM_IMPLEMENTATION
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cipherhub/engine_module.h"

#ifdef MOCK_THROW
void MockThrow(const char* what);
#define MAYBE_THROW(what) MockThrow(what)
#else
#define MAYBE_THROW(what) ((void)0)
#endif

typedef struct {
  char type[128];
  int32_t maxValue;
  char lastValue[4096];
  int setCalls;
  char lastRoot[1024];
  int rootCalls;
  CHPasswordRequestFunc password;
  CHTMRequestFunc medium;
  pthread_mutex_t mutex;
} MockEngine;

static int gLiveEngines;
/* The file this module was loaded from, as the system's loader knows it (mock_path_*.c). */
const char* MockModulePath(void);

static void CopyText(char* to, size_t size, const char* from) {
  size_t n = from ? strlen(from) : 0;
  if (n >= size) n = size - 1;
  if (n) memcpy(to, from, n);
  to[n] = '\0';
}

/* Folds the arguments into one number so a test sees their order: 1*a1 + 10*a2 + 100*a3 ... */
static int32_t Positional(int count, const intptr_t* args) {
  int32_t result = 0, weight = 1;
  int i;
  for (i = 0; i < count; ++i, weight *= 10) result += (int32_t)args[i] * weight;
  return result;
}

CHEngineObject GetCryptObj(const char* typeName) {
  MockEngine* e = (MockEngine*)calloc(1, sizeof(MockEngine));
  if (!e) return NULL;
  CopyText(e->type, sizeof e->type, typeName);
  e->maxValue = 16;
  pthread_mutex_init(&e->mutex, NULL);
  __atomic_fetch_add(&gLiveEngines, 1, __ATOMIC_SEQ_CST);
  return e;
}

int32_t DoneEngine(CHEngineObject engine) {
  MockEngine* e = (MockEngine*)engine;
  pthread_mutex_destroy(&e->mutex);
  free(e);
  __atomic_fetch_sub(&gLiveEngines, 1, __ATOMIC_SEQ_CST);
  MAYBE_THROW("DoneEngine");
  return 0;
}

#ifndef MOCK_MINIMAL
void GetCryptoEngineType(CHEngineObject engine, char* buffer) { CopyText(buffer, 100, "from the module"); }
#endif

int32_t GetMaxEncodeAddition(CHEngineObject engine) { return 8; }
int32_t GetMaxSignatureLength(CHEngineObject engine) { return 4; }
int32_t GetMaxUIDLength(CHEngineObject engine) { return 32; }
int32_t GetMaxCryptoParamNameLength(CHEngineObject engine) { return 16; }

int32_t GetMaxCryptoParamValueLength(CHEngineObject engine) {
  MockEngine* e = (MockEngine*)engine;
  int32_t value;
  pthread_mutex_lock(&e->mutex);
  value = e->maxValue;
  pthread_mutex_unlock(&e->mutex);
  return value;
}

int32_t GetMaxErrorStringLength(CHEngineObject engine) { return 64; }
int32_t GetCryptoParamNumber(CHEngineObject engine) { return 1; }
void GetCryptoParamName(CHEngineObject engine, int32_t number, char* buffer) { CopyText(buffer, 16, "Value"); }

void GetCryptoParamValue(CHEngineObject engine, int32_t number, char* buffer) {
  MockEngine* e = (MockEngine*)engine;
  pthread_mutex_lock(&e->mutex);
  CopyText(buffer, 4096, e->lastValue);
  pthread_mutex_unlock(&e->mutex);
}

int32_t SetCryptoParamValue(CHEngineObject engine, int32_t number, const char* value) {
  MockEngine* e = (MockEngine*)engine;
  pthread_mutex_lock(&e->mutex);
  CopyText(e->lastValue, sizeof e->lastValue, value);
  e->setCalls++;
  pthread_mutex_unlock(&e->mutex);
  return number == 1 ? 0 : 7;
}

int32_t GetEncodeUIDBySignUID(CHEngineObject engine, const char* signUID, char* encodeUID) {
  CopyText(encodeUID, 32, signUID);
  return 0;
}

void GetCryptoErrorString(CHEngineObject engine, int32_t code, char* buffer) {
  MAYBE_THROW("GetCryptoErrorString");
  snprintf(buffer, 64, "mock error %d", (int)code);
}

/* "Encrypts" by appending the recipient's first letter; enough to see the call arrive. */
int32_t EncodeData(CHEngineObject engine, char* data, int32_t* length, const char* recipientUID) {
  MAYBE_THROW("EncodeData");
  data[*length] = recipientUID && *recipientUID ? recipientUID[0] : '-';
  *length += 1;
  return 0;
}

int32_t DecodeData(CHEngineObject engine, char* data, int32_t* length, char* senderUID) {
  MAYBE_THROW("DecodeData");
  if (*length < 1) return 3;
  *length -= 1;
  CopyText(senderUID, 32, "mock-sender");
  return 0;
}

/* Signature: the byte sum of the data, 4 bytes. */
int32_t SignData(CHEngineObject engine, const char* data, int32_t length, char* signature, int32_t* signatureLength,
                 const char* signer) {
  uint32_t sum = 0;
  int32_t i;
  MAYBE_THROW("SignData");
  if (*signatureLength < 4) return 2;
  for (i = 0; i < length; ++i) sum += (unsigned char)data[i];
  memcpy(signature, &sum, 4);
  *signatureLength = 4;
  return 0;
}

int32_t VerifyData(CHEngineObject engine, const char* data, int32_t length, const char* signature,
                   int32_t signatureLength, char* signerUID) {
  uint32_t sum = 0, given;
  int32_t i;
  MAYBE_THROW("VerifyData");
  if (signatureLength != 4) return 4;
  for (i = 0; i < length; ++i) sum += (unsigned char)data[i];
  memcpy(&given, signature, 4);
  if (given != sum) return 5;
  CopyText(signerUID, 32, "mock-signer");
  return 0;
}

int32_t GetCurrentUserUID(CHEngineObject engine, char* buffer) {
  CopyText(buffer, 32, "mock-user");
  return 0;
}

int32_t GenerateNewSSK(CHEngineObject engine) { return 21; }
int32_t GenerateNewSEK(CHEngineObject engine) { return 22; }
int32_t IsDifferentKeys(CHEngineObject engine) { return 23; }

void SetPasswordRequestFunc(CHEngineObject engine, CHPasswordRequestFunc func) {
  MockEngine* e = (MockEngine*)engine;
  pthread_mutex_lock(&e->mutex);
  e->password = func;
  pthread_mutex_unlock(&e->mutex);
}

int32_t GetMaxPasswordLength(CHEngineObject engine) { return 25; }

/* Test control: sets the engine's maximum parameter value length. */
int32_t IncludePublicKey(CHEngineObject engine, intptr_t a1) {
  MockEngine* e = (MockEngine*)engine;
  pthread_mutex_lock(&e->mutex);
  e->maxValue = (int32_t)a1;
  pthread_mutex_unlock(&e->mutex);
  return 0;
}

int32_t IncludePublicEncodeKey(CHEngineObject engine, intptr_t a1) { return Positional(1, &a1); }
int32_t SignFile(CHEngineObject engine, intptr_t a1) { return Positional(1, &a1); }
int32_t VerifyFile(CHEngineObject engine, intptr_t a1, intptr_t a2) {
  intptr_t a[] = {a1, a2};
  return Positional(2, a);
}
int32_t RemoveSignaturesFromFile(CHEngineObject engine, intptr_t a1) { return Positional(1, &a1); }

void GetLastErrorMessage(CHEngineObject engine, char* buffer) { CopyText(buffer, 64, "mock last error"); }

void SetRootPath(CHEngineObject engine, const char* rootPath) {
  MockEngine* e = (MockEngine*)engine;
  pthread_mutex_lock(&e->mutex);
  CopyText(e->lastRoot, sizeof e->lastRoot, rootPath ? rootPath : "(null)");
  e->rootCalls++;
  pthread_mutex_unlock(&e->mutex);
}

int32_t TransSignatureFromFileToTM(CHEngineObject engine) { return 35; }
int32_t TransPrivateKeyFromFileToTM(CHEngineObject engine) { return 36; }

void SetTMRequestFunc(CHEngineObject engine, CHTMRequestFunc func) {
  MockEngine* e = (MockEngine*)engine;
  pthread_mutex_lock(&e->mutex);
  e->medium = func;
  pthread_mutex_unlock(&e->mutex);
}

void ClearCash(CHEngineObject engine) {}
int32_t RemoteGenerateStart(CHEngineObject engine, intptr_t a1) { return Positional(1, &a1); }
void SetRemoteGeneratePath(CHEngineObject engine, intptr_t a1) {}
int32_t AddSign(CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3) {
  intptr_t a[] = {a1, a2, a3};
  return Positional(3, a);
}
int32_t RemoveSign(CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3) {
  intptr_t a[] = {a3, a2, a1};
  return Positional(3, a);
}
int32_t GetMaxSignAddition(CHEngineObject engine) { return 43; }
int32_t GetPublicKeyTransfer(CHEngineObject engine, intptr_t a1, intptr_t a2) {
  intptr_t a[] = {a1, a2};
  return Positional(2, a);
}
int32_t RemoteGenerateFinish(CHEngineObject engine, intptr_t a1) { return Positional(1, &a1); }
int32_t SavePublicKeyFromTransfer(CHEngineObject engine, intptr_t a1, intptr_t a2) {
  intptr_t a[] = {a1, a2};
  return Positional(2, a);
}
int32_t GetMaxPublicKeyTransferSize(CHEngineObject engine) { return 47; }
int32_t IncludePublicKeyTransfer(CHEngineObject engine, intptr_t a1) { return Positional(1, &a1); }
int32_t ExcludeSelfPublicKeyTransfer(CHEngineObject engine, intptr_t a1) { return Positional(1, &a1); }
int32_t GetMaxFilePathLength(CHEngineObject engine) { return 50; }
int32_t GetRemoteGenType(CHEngineObject engine) { return 51; }
int32_t SaveSignedDataToFile(CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5) {
  intptr_t a[] = {a1, a2, a3, a4, a5};
  return Positional(5, a);
}
int32_t GetPublicKeyTransferByFile(CHEngineObject engine, intptr_t a1, intptr_t a2) {
  intptr_t a[] = {a1, a2};
  return Positional(2, a);
}
int32_t GetMaxReportSize(CHEngineObject engine) { return 8192; }

/* The record of what reached this engine, and where the module was loaded from. */
int32_t GetReport(CHEngineObject engine, const char* uid, char* buffer) {
  MockEngine* e = (MockEngine*)engine;
  pthread_mutex_lock(&e->mutex);
  snprintf(buffer, 8192, "type=%s;value=%s;setcalls=%d;root=%s;rootcalls=%d;live=%d;password=%d;medium=%d;where=%s",
           e->type, e->lastValue, e->setCalls, e->lastRoot, e->rootCalls,
           __atomic_load_n(&gLiveEngines, __ATOMIC_SEQ_CST), e->password != NULL, e->medium != NULL, MockModulePath());
  pthread_mutex_unlock(&e->mutex);
  return 0;
}

int32_t GetMaxAdditionEx(CHEngineObject engine, intptr_t a1) { return Positional(1, &a1); }
int32_t GetUIDByPublicKeyTransfer(CHEngineObject engine, intptr_t a1, intptr_t a2) {
  intptr_t a[] = {a1, a2};
  return Positional(2, a);
}
int32_t UpdateCertificateCash(CHEngineObject engine, const char* text) { return text ? (int32_t)strlen(text) : -7; }
int32_t GetMaxPublicKeyPropertiesLength(CHEngineObject engine) { return 59; }
int32_t GetPublicKeyProperties(CHEngineObject engine, intptr_t a1, intptr_t a2) {
  intptr_t a[] = {a1, a2};
  return Positional(2, a);
}
int32_t RemoteGenerateStartEx(CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3) {
  intptr_t a[] = {a1, a2, a3};
  return Positional(3, a);
}
int32_t RemoteGenerateFinishEx(CHEngineObject engine, intptr_t a1, intptr_t a2) {
  intptr_t a[] = {a1, a2};
  return Positional(2, a);
}
int32_t GetPublicKeyPropertiesByTransfer(CHEngineObject engine, intptr_t a1, intptr_t a2) {
  intptr_t a[] = {a1, a2};
  return Positional(2, a);
}
int32_t GetPublicKeyPropertiesByFile(CHEngineObject engine, intptr_t a1, intptr_t a2) {
  intptr_t a[] = {a1, a2};
  return Positional(2, a);
}
int32_t IncludeCACertificateFromTransfer(CHEngineObject engine, intptr_t a1) { return Positional(1, &a1); }
int32_t CreateDirStructure(CHEngineObject engine, intptr_t a1, intptr_t a2) {
  intptr_t a[] = {a1, a2};
  return Positional(2, a);
}
int32_t RemoveCertificate(CHEngineObject engine, intptr_t a1) { return Positional(1, &a1); }
int32_t VerifySignWOCheckValidity(CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4,
                                  intptr_t a5) {
  intptr_t a[] = {a1, a2, a3, a4, a5};
  return Positional(5, a);
}
int32_t CertAndRequestTransferMatch(CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3) {
  intptr_t a[] = {a1, a2, a3};
  return Positional(3, a);
}
#ifndef MOCK_NO_CRL
int32_t IncludeCRL(CHEngineObject engine, intptr_t a1) { return Positional(1, &a1); }
#endif
int32_t ConvertTransferToSignedRequest(CHEngineObject engine, intptr_t a1) { return Positional(1, &a1); }

#ifndef MOCK_MINIMAL
int32_t HashData(CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5) {
  intptr_t a[] = {a1, a2, a3, a4, a5};
  return Positional(5, a);
}
int32_t GetPureSign(CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5) {
  intptr_t a[] = {a5, a4, a3, a2, a1};
  return Positional(5, a);
}
int32_t ShowCertificate(CHEngineObject engine, intptr_t a1) { return Positional(1, &a1) + 7000; }
int32_t GetUIDByCertIdent(CHEngineObject engine, intptr_t a1, intptr_t a2) {
  intptr_t a[] = {a1, a2};
  return Positional(2, a) + 7000;
}
int32_t InstallCertsInMyStore(CHEngineObject engine, intptr_t a1) { return Positional(1, &a1) + 8000; }
int32_t RegisterOIDInfo(CHEngineObject engine, intptr_t a1, intptr_t a2) {
  intptr_t a[] = {a1, a2};
  return Positional(2, a) + 8000;
}
int32_t GetParamInfo(CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4) {
  intptr_t a[] = {a1, a2, a3, a4};
  return Positional(4, a);
}
int32_t Import(CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4) {
  intptr_t a[] = {a4, a3, a2, a1};
  return Positional(4, a);
}
/* Agrees with everything except names containing "LAN" (answers 2, which is not a yes) and
   "Verba" (answers 0). */
int32_t CheckCompatibles(const char* otherTypeName) {
  if (strstr(otherTypeName, "LAN")) return 2;
  if (strstr(otherTypeName, "Verba")) return 0;
  return 1;
}
int32_t ExportObject(CHEngineObject engine, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5,
                     intptr_t a6) {
  intptr_t a[] = {a1, a2, a3, a4, a5, a6};
  return Positional(6, a);
}
#endif
