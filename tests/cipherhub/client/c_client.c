/* A C client of cipherhub that knows nothing but the public header and the loader.
 *   c_client demo  CIPHERHUB_SO          full round trip with the emulation engine
 *   c_client where CIPHERHUB_SO ROOT TYPE  sets ROOT ("-": none), opens TYPE, prints GetReport(NULL)
 * Exit status 0 when every check held. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ExportList.h"
#include "cipherhub/cipherhub.h"
#include "loader.h"

static void* gLibrary;
static int gFailures;


#define CH_POINTER(name) static __typeof__(&name) p##name;
CH_EXPORTS(CH_POINTER)

#define CHECK(cond)                                              \
  do {                                                           \
    if (!(cond)) {                                               \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++gFailures;                                               \
    }                                                            \
  } while (0)

static int Bind(const char* path) {
  int missing = 0, count = 0;
  gLibrary = LoadHub(path);
  if (!gLibrary) {
    fprintf(stderr, "cannot load %s: %s\n", path, LoaderError());
    return 0;
  }
#define CH_BIND(name)                               \
  *(void**)(&p##name) = HubSymbol(gLibrary, #name); \
  ++count;                                          \
  if (!p##name) {                                   \
    fprintf(stderr, "missing export %s\n", #name);  \
    ++missing;                                      \
  }
  CH_EXPORTS(CH_BIND)
  printf("exports resolved: %d of %d\n", count - missing, count);
  return missing == 0 && count == 84;
}

/* Number of the parameter with this name, 0 when the engine has none. */
static int32_t ParamNumber(CHEngineHandle engine, const char* name) {
  char buffer[512];
  int32_t i, n = pGetCryptoParamNumber(engine);
  if (pGetMaxCryptoParamNameLength(engine) > (int32_t)sizeof buffer) return 0;
  for (i = 1; i <= n; ++i) {
    buffer[0] = '\0';
    pGetCryptoParamName(engine, i, buffer);
    if (strcmp(buffer, name) == 0) return i;
  }
  return 0;
}

static CHEngineHandle OpenAs(const char* type, const char* uid, const char* partner) {
  CHEngineHandle engine = pInitCryptoEngine(type);
  if (!engine) return NULL;
  if (pSetCryptoParamValue(engine, ParamNumber(engine, "UID"), uid) != 0 ||
      (partner && pSetCryptoParamValue(engine, ParamNumber(engine, "Partner"), partner) != 0)) {
    pDoneCryptoEngine(engine);
    return NULL;
  }
  return engine;
}

static int Demo(void) {
  char name[100], uid[256], text[512];
  const char* message = "Pay 100 to account 42";
  const int32_t messageLength = (int32_t)strlen(message);
  int32_t i, count = 0, signatureLength, length, code;
  char* signature;
  char* data;
  CHEngineHandle alice, bob;

  /* Engine types. */
  CHECK(pGetMaxCryptoEngineTypeLength() == 100);
  for (i = 1; i <= 100; ++i) {
    pGetCryptoEngineTypes(i, name);
    if (!name[0]) break;
    printf("type %d: %s\n", (int)i, name);
    ++count;
  }
  CHECK(count == 20);
  CHECK(pGetCryptoEngineStatus("Emulation/1.0") == 1);

  /* Open "Emulation/1.0" as alice, talking to bob. */
  alice = OpenAs("Emulation/1.0", "alice", "bob");
  CHECK(alice != NULL);
  if (!alice) return 0;
  pGetCryptoEngineType(alice, name);
  CHECK(strcmp(name, "Emulation/1.0") == 0);
  CHECK(pGetCurrentUserUID(alice, uid) == 0 && strcmp(uid, "alice") == 0);

  /* Sign and verify. */
  signatureLength = pGetMaxSignatureLength(alice);
  CHECK(signatureLength > 0);
  signature = (char*)malloc((size_t)signatureLength);
  CHECK(pSignData(alice, message, messageLength, signature, &signatureLength, "") == 0);
  uid[0] = '\0';
  CHECK(pVerifyData(alice, message, messageLength, signature, signatureLength, uid) == 0);
  CHECK(strcmp(uid, "alice") == 0);
  printf("signed %d bytes, signature %d bytes, signer %s\n", (int)messageLength, (int)signatureLength, uid);
  code = pVerifyData(alice, "Pay 900 to account 42", messageLength, signature, signatureLength, uid);
  CHECK(code != 0);
  pGetCryptoErrorString(alice, code, text);
  printf("altered data: code %d: %s\n", (int)code, text);
  free(signature);

  /* Encrypt for the partner, decrypt as the partner. */
  length = messageLength;
  data = (char*)malloc((size_t)(length + pGetMaxEncodeAddition(alice)));
  memcpy(data, message, (size_t)length);
  CHECK(pEncodeData(alice, data, &length, NULL) == 0);
  CHECK(length > messageLength && length <= messageLength + pGetMaxEncodeAddition(alice));
  bob = OpenAs("Emulation/2.0", "bob", NULL);
  CHECK(bob != NULL);
  if (bob) {
    uid[0] = '\0';
    CHECK(pDecodeData(bob, data, &length, uid) == 0);
    CHECK(length == messageLength && memcmp(data, message, (size_t)length) == 0);
    CHECK(strcmp(uid, "alice") == 0);
    printf("decrypted %d bytes from %s\n", (int)length, uid);
    pDoneCryptoEngine(bob);
  }
  free(data);
  CHECK(pCheckEngineCompatibles("Emulation/1.0", "Emulation/2.0") == 1);

  /* Every failure gives -1, 0 or no effect. */
  CHECK(pInitCryptoEngine("openssl") == NULL);
  CHECK(pInitCryptoEngine("") == NULL);
  CHECK(pInitCryptoEngine(NULL) == NULL);
  CHECK(pInitCryptoEngine("OpenSSL") == NULL); /* no module installed */
  CHECK(pGetCryptoEngineStatus(NULL) == 0);
  CHECK(pGetCryptoEngineStatus("Emulation/1.0 ") == 0);
  CHECK(pGetMaxSignatureLength(NULL) == -1);
  CHECK(pSignData(NULL, message, messageLength, text, &length, "") == -1);
  CHECK(pSetCryptoParamValue(NULL, 1, "x") == -1);
  strcpy(text, "untouched");
  pGetCryptoParamName(NULL, 1, text);
  pGetCryptoErrorString(NULL, 1, text);
  CHECK(strcmp(text, "untouched") == 0);
  pGetCryptoEngineTypes(0, text);
  CHECK(text[0] == '\0');
  strcpy(text, "untouched");
  pGetCryptoEngineTypes(21, text);
  CHECK(text[0] == '\0');
  pGetCryptoEngineTypes(1, NULL);
  CHECK(pHashData(alice, 1, 2, 3, 4, 5) == -1); /* the emulation has no HashData */
  CHECK(pGenerateNewSEKMDM(alice) == -1);
  CHECK(pGenerateNewSEKMDM(NULL) == -1);
  CHECK(pCheckEngineCompatibles(NULL, "Emulation/1.0") == 0);
  CHECK(pCheckEngineCompatibles("Emulation/1.0", "OpenSSL") == 0);
  pDoneCryptoEngine(NULL);

  pDoneCryptoEngine(alice);
  return 1;
}

static int Where(const char* root, const char* type) {
  char report[8192];
  CHEngineHandle engine;
  if (strcmp(root, "-") != 0) pSetDllRoot(root);
  engine = pInitCryptoEngine(type);
  if (!engine) {
    printf("none\n");
    return 1;
  }
  report[0] = '\0';
  CHECK(pGetReport(engine, NULL, report) == 0);
  printf("%s\n", report);
  pDoneCryptoEngine(engine);
  return 1;
}

int main(int argc, char** argv) {
  int ok;
  if (argc < 3 || (strcmp(argv[1], "where") == 0 && argc < 5)) {
    fprintf(stderr, "usage: %s demo CIPHERHUB_SO | where CIPHERHUB_SO ROOT TYPE\n", argv[0]);
    return 2;
  }
  if (!Bind(argv[2])) return 1;
  ok = strcmp(argv[1], "where") == 0 ? Where(argv[3], argv[4]) : Demo();
  UnloadHub(gLibrary);
  if (!ok || gFailures) {
    fprintf(stderr, "%d check(s) failed\n", gFailures);
    return 1;
  }
  printf("OK\n");
  return 0;
}
