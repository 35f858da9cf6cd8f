/*
 * A scripted stand-in for the crypto library, for driving the engine object into the corners
 * the emulation engine never reaches: odd size answers, error codes without text, refused
 * parameters. It records every call in a log the tests read back, and answers according to
 * knobs the tests set. Built in variants that leave out one export.
 */
#define CIPHERHUB_BUILDING_LIBRARY
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "cipherhub/cipherhub.h"

/* The build names the export marking of its system (a DLL's dllexport). */
#ifndef FAKE_API
#define FAKE_API __attribute__((visibility("default")))
#endif

enum { kLogSize = 16384, kParamCount = 3 };

static char gLog[kLogSize];
static int gEngineObjects[16];
static int gNextEngine;

/* Knobs, reset by FakeHub_Reset. */
static int gResult;          /* result of the data calls and GetEncodeUIDBySignUID */
static int gRefuseParam;     /* parameter number SetCryptoParamValue refuses (with 4), 0 none */
static int gMaxUID;          /* GetMaxUIDLength answer */
static int gMaxError;        /* GetMaxErrorStringLength answer */
static int gMaxValue;        /* GetMaxCryptoParamValueLength answer */
static int gMaxSignature;    /* GetMaxSignatureLength answer */
static int gAcceptAnyIndex;  /* SetCryptoParamValue accepts numbers outside 1..3 too */
static char gErrorText[256]; /* text of every nonzero code; "" gives none */
static char gUID[256];       /* UID written by DecodeData, VerifyData and GetEncodeUIDBySignUID */

static const char* const kNames[kParamCount] = {"Alpha", "Beta", "Gamma"};
static const char* const kDefaults[kParamCount] = {"a", "b", ""};
static char gValues[kParamCount][64];

__attribute__((format(printf, 1, 2))) static void Log(const char* format, ...) {
  size_t used = strlen(gLog);
  if (used + 1 >= sizeof gLog) return;
  va_list args;
  va_start(args, format);
  vsnprintf(gLog + used, sizeof gLog - used, format, args);
  va_end(args);
}

static const char* Shown(const char* text) { return text ? text : "NULL"; }

/* Writes text cut to size - 1 characters; records what was asked of the buffer. */
static void Put(char* buffer, int size, const char* text) {
  if (!buffer || size <= 0) return;
  size_t n = strlen(text);
  if (n > (size_t)size - 1) n = (size_t)size - 1;
  memcpy(buffer, text, n);
  buffer[n] = '\0';
}

FAKE_API void FakeHub_Reset(void) {
  gLog[0] = '\0';
  gResult = 0;
  gRefuseParam = 0;
  gMaxUID = 32;
  gMaxError = 64;
  gMaxValue = 16;
  gMaxSignature = 48;
  gAcceptAnyIndex = 0;
  strcpy(gErrorText, "fake error text");
  strcpy(gUID, "fake-uid");
  for (int i = 0; i < kParamCount; ++i) strcpy(gValues[i], kDefaults[i]);
}

FAKE_API const char* FakeHub_Log(void) { return gLog; }
FAKE_API void FakeHub_ClearLog(void) { gLog[0] = '\0'; }

FAKE_API void FakeHub_SetNumber(const char* knob, int value) {
  if (strcmp(knob, "result") == 0) gResult = value;
  if (strcmp(knob, "refuse_param") == 0) gRefuseParam = value;
  if (strcmp(knob, "max_uid") == 0) gMaxUID = value;
  if (strcmp(knob, "max_error") == 0) gMaxError = value;
  if (strcmp(knob, "max_value") == 0) gMaxValue = value;
  if (strcmp(knob, "max_signature") == 0) gMaxSignature = value;
  if (strcmp(knob, "accept_any_index") == 0) gAcceptAnyIndex = value;
}

FAKE_API void FakeHub_SetText(const char* knob, const char* value) {
  if (strcmp(knob, "error_text") == 0) snprintf(gErrorText, sizeof gErrorText, "%s", value);
  if (strcmp(knob, "uid") == 0) snprintf(gUID, sizeof gUID, "%s", value);
}

__attribute__((constructor)) static void FakeHubLoaded(void) { FakeHub_Reset(); }

static int Known(CHEngineHandle engine) { return engine != NULL; }

void GetCryptoEngineTypes(int32_t index, char* buffer) {
  if (!buffer) return;
  Put(buffer, 100, index == 1 ? "Fake/1" : index == 2 ? "Fake/2" : "");
}

CHEngineHandle InitCryptoEngine(const char* typeName) {
  Log("InitCryptoEngine(%s);", Shown(typeName));
  if (!typeName || (strcmp(typeName, "Fake/1") != 0 && strcmp(typeName, "Fake/2") != 0)) return NULL;
  for (int i = 0; i < kParamCount; ++i) strcpy(gValues[i], kDefaults[i]);
  return (CHEngineHandle)&gEngineObjects[gNextEngine++ % 16];
}

void DoneCryptoEngine(CHEngineHandle engine) { Log("DoneCryptoEngine;"); }
int32_t GetMaxCryptoEngineTypeLength(void) { return 100; }
int32_t GetMaxEncodeAddition(CHEngineHandle engine) { return Known(engine) ? 10 : -1; }
int32_t GetMaxSignatureLength(CHEngineHandle engine) { return Known(engine) ? gMaxSignature : -1; }
int32_t GetMaxUIDLength(CHEngineHandle engine) {
  Log("GetMaxUIDLength;");
  return gMaxUID;
}
int32_t GetMaxCryptoParamNameLength(CHEngineHandle engine) { return 32; }
int32_t GetMaxCryptoParamValueLength(CHEngineHandle engine) { return gMaxValue; }
int32_t GetMaxErrorStringLength(CHEngineHandle engine) { return gMaxError; }
int32_t GetCryptoParamNumber(CHEngineHandle engine) { return kParamCount; }

void GetCryptoParamName(CHEngineHandle engine, int32_t number, char* buffer) {
  if (number >= 1 && number <= kParamCount) Put(buffer, 32, kNames[number - 1]);
}

void GetCryptoParamValue(CHEngineHandle engine, int32_t number, char* buffer) {
  if (number >= 1 && number <= kParamCount) Put(buffer, gMaxValue, gValues[number - 1]);
}

int32_t SetCryptoParamValue(CHEngineHandle engine, int32_t number, const char* value) {
  Log("SetCryptoParamValue(%d,%s);", (int)number, Shown(value));
  if (number == gRefuseParam) return 4;
  if (number < 1 || number > kParamCount) return gAcceptAnyIndex ? 0 : 3;
  snprintf(gValues[number - 1], sizeof gValues[number - 1], "%s", value ? value : "");
  return 0;
}

int32_t GetEncodeUIDBySignUID(CHEngineHandle engine, const char* signUID, char* encodeUID) {
  Log("GetEncodeUIDBySignUID(%s);", Shown(signUID));
  if (gResult == 0) Put(encodeUID, gMaxUID, gUID);
  return gResult;
}

void GetCryptoErrorString(CHEngineHandle engine, int32_t code, char* buffer) {
  Log("GetCryptoErrorString(%d);", (int)code);
  Put(buffer, gMaxError, gErrorText);
}

int32_t EncodeData(CHEngineHandle engine, char* data, int32_t* length, const char* recipientUID) {
  Log("EncodeData(%s,%d);", Shown(recipientUID), length ? (int)*length : -1);
  if (gResult == 0 && length) *length += 1;
  return gResult;
}

int32_t DecodeData(CHEngineHandle engine, char* data, int32_t* length, char* senderUID) {
  Log("DecodeData(%d);", length ? (int)*length : -1);
  if (gResult == 0) Put(senderUID, gMaxUID, gUID);
  return gResult;
}

#ifndef FAKE_WITHOUT_SIGNDATA
int32_t SignData(CHEngineHandle engine, const char* data, int32_t length, char* signature, int32_t* signatureLength,
                 const char* signer) {
  Log("SignData(%d,%s);", signatureLength ? (int)*signatureLength : -1, signer ? (*signer ? signer : "\"\"") : "NULL");
  if (gResult == 0 && signatureLength) *signatureLength = 3;
  return gResult;
}
#endif

int32_t VerifyData(CHEngineHandle engine, const char* data, int32_t length, const char* signature,
                   int32_t signatureLength, char* signerUID) {
  Log("VerifyData(%d);", (int)signatureLength);
  if (gResult == 0) Put(signerUID, gMaxUID, gUID);
  return gResult;
}

int32_t GetCurrentUserUID(CHEngineHandle engine, char* buffer) {
  Put(buffer, gMaxUID, gUID);
  return 0;
}

void SetPasswordRequestFunc(CHEngineHandle engine, CHPasswordRequestFunc func) {
  Log("SetPasswordRequestFunc(%s);", func ? "func" : "NULL");
}

void SetRootPath(CHEngineHandle engine, const char* rootPath) { Log("SetRootPath(%s);", Shown(rootPath)); }

#ifndef FAKE_WITHOUT_TMREQUEST
void SetTMRequestFunc(CHEngineHandle engine, CHTMRequestFunc func) {
  Log("SetTMRequestFunc(%s);", func ? "func" : "NULL");
}
#endif

int32_t GetMaxReportSize(CHEngineHandle engine) { return 256; }
int32_t GetReport(CHEngineHandle engine, const char* uid, char* buffer) {
  Put(buffer, 256, "ABONENTSLIST:");
  return 0;
}
void ClearCash(CHEngineHandle engine) { Log("ClearCash;"); }
int32_t UpdateCertificateCash(CHEngineHandle engine, const char* text) {
  Log("UpdateCertificateCash(%s);", Shown(text));
  return gResult;
}
int32_t GetCryptoEngineStatus(const char* typeName) { return typeName && strcmp(typeName, "Fake/1") == 0; }
