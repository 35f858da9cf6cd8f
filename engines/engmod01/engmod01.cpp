// The emulation engine: deterministic stand-ins for signatures and encryption, with no
// security claim, so that every path of the system can run without a real crypto engine.
//
// Signature: "EMS" + version digit, signer length (1 byte), signer UID, check value (8 bytes
// for version 1, 16 for version 2) over the signer and the data.
// Encryption: "EME" + version digit, sender length and UID, recipient length and UID, check
// value over sender, recipient and plain data, then the data masked with a keystream derived
// from the recipient and the check value.
// Both engine types read both formats, so "Emulation/1.0" and "Emulation/2.0" work together.
#define CHM_IMPLEMENTATION
#include "cipherhub/engine_module.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "EmulationCodes.h"

namespace {

using namespace emulation;

constexpr int32_t kMaxUIDLength = 64;             // buffer size, NUL included
constexpr size_t kMaxUIDChars = kMaxUIDLength - 1;
constexpr int32_t kMaxParamNameLength = 32;
constexpr int32_t kMaxParamValueLength = 1024;
constexpr int32_t kMaxErrorStringLength = 256;
constexpr int32_t kMaxPasswordLength = 64;
constexpr int32_t kMaxReportSize = 4096;
constexpr int32_t kMaxFilePathLength = 4096;
constexpr size_t kMagicLength = 4;

constexpr uint8_t kKeyMediumShow = 0;
constexpr uint8_t kKeyMediumHide = 1;

const char* const kTypeName1 = "Emulation/1.0";
const char* const kTypeName2 = "Emulation/2.0";

const char* const kParamNames[kParamCount] = {"UID", "Partner", "Fail", "Password", "TouchMemory", "Subscribers"};
const char* const kFailOperations[] = {"Sign", "Verify", "Encode", "Decode", "Init", "UID", "Report"};

size_t CheckLength(int version) { return version == 2 ? 16 : 8; }

// ---- deterministic check values -------------------------------------------------------------

uint64_t Fmix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

// Two independent multiply-xor lanes over length-prefixed fields, taken eight bytes at a time
// (little-endian, the last word zero-filled), finalised into 8 or 16 bytes. Every step is
// invertible, so any changed byte changes the value.
class CheckValue {
 public:
  explicit CheckValue(std::string_view domain) { Add(domain); }
  void Add(std::string_view field) {
    const size_t n = field.size();
    Word(n);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) Word(Load(field.data() + i, 8));
    if (i < n) Word(Load(field.data() + i, n - i));
  }
  void Write(unsigned char* out, size_t length) const {
    const uint64_t lanes[2] = {Fmix(a_ ^ (b_ << 1)), Fmix(b_ ^ 0x9e3779b97f4a7c15ULL ^ a_)};
    for (size_t i = 0; i < length; ++i) out[i] = static_cast<unsigned char>(lanes[i / 8] >> (8 * (i % 8)));
  }

 private:
  static uint64_t Load(const char* p, size_t count) {
    uint64_t w = 0;
    for (size_t k = 0; k < count; ++k) w |= static_cast<uint64_t>(static_cast<unsigned char>(p[k])) << (8 * k);
    return w;
  }
  void Word(uint64_t w) {
    // The shifts carry high bits down, which multiplication alone never does.
    a_ = (a_ ^ w) * 0x100000001b3ULL;
    a_ ^= a_ >> 29;
    b_ = (b_ ^ w) * 0xff51afd7ed558ccdULL + 0x2545f4914f6cdd1dULL;
    b_ ^= b_ >> 31;
  }
  uint64_t a_ = 0xcbf29ce484222325ULL;
  uint64_t b_ = 0x84222325cbf29ce4ULL;
};

void Mask(unsigned char* data, size_t length, std::string_view recipient, const unsigned char* check, size_t checkLength) {
  CheckValue seedValue("emulated-key");
  seedValue.Add(recipient);
  seedValue.Add(std::string_view(reinterpret_cast<const char*>(check), checkLength));
  unsigned char seedBytes[8];
  seedValue.Write(seedBytes, 8);
  uint64_t seed = 0;
  for (int i = 0; i < 8; ++i) seed |= static_cast<uint64_t>(seedBytes[i]) << (8 * i);
  // One mixed word masks eight bytes.
  for (size_t at = 0; at < length; at += 8) {
    const uint64_t block = Fmix(seed + (at / 8 + 1) * 0x9e3779b97f4a7c15ULL);
    const size_t n = std::min<size_t>(8, length - at);
    for (size_t i = 0; i < n; ++i) data[at + i] ^= static_cast<unsigned char>(block >> (8 * i));
  }
}

void SignatureCheck(int version, std::string_view signer, std::string_view data, unsigned char* out) {
  CheckValue value("emulated-signature");
  value.Add(signer);
  value.Add(data);
  value.Write(out, CheckLength(version));
}

void EncryptionCheck(int version, std::string_view sender, std::string_view recipient, std::string_view plain,
                     unsigned char* out) {
  CheckValue value("emulated-encryption");
  value.Add(sender);
  value.Add(recipient);
  value.Add(plain);
  value.Write(out, CheckLength(version));
}

int VersionOfMagic(const unsigned char* bytes, const char* prefix) {
  if (std::memcmp(bytes, prefix, 3) != 0) return 0;
  return bytes[3] == '1' ? 1 : bytes[3] == '2' ? 2 : 0;
}

// ---- engine objects -------------------------------------------------------------------------

struct Settings {
  std::string uid = "emulation-user";
  std::string partner;
  std::string fail;
  std::string password;
  std::string touchMemory = "0";
  std::string subscribers;
};

struct Engine {
  int version = 1;
  std::string typeName;

  std::mutex mutex;  // guards everything below
  Settings settings;
  CHPasswordRequestFunc passwordFunc = nullptr;
  CHTMRequestFunc keyMediumFunc = nullptr;
  bool keyUnlocked = false;
  unsigned passwordGeneration = 0;
  std::string rootPath;
  std::string lastError;

  std::mutex unlockMutex;  // one password prompt at a time per engine
};

Engine* AsEngine(CHEngineObject object) { return static_cast<Engine*>(object); }

Settings Snapshot(Engine& engine) {
  std::lock_guard<std::mutex> guard(engine.mutex);
  return engine.settings;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool FailRequested(const Settings& settings, std::string_view operation) {
  return !settings.fail.empty() && EqualsNoCase(settings.fail, operation);
}

const char* CodeText(int32_t code) {
  switch (code) {
    case kOk: return "No error";
    case kBadArgument: return "Invalid argument (null pointer, negative length or UID too long)";
    case kBufferTooSmall: return "The output buffer is too small";
    case kUnknownParameter: return "No parameter with this number";
    case kBadParameterValue: return "Invalid parameter value";
    case kValueTooLong: return "Parameter value too long";
    case kNoRecipient: return "No recipient: none given and parameter \"Partner\" is empty";
    case kNotRecipient: return "The data is encrypted for another recipient";
    case kNotEncrypted: return "The data is not encrypted by the emulation engine";
    case kDataCorrupt: return "Integrity check failed: the encrypted data was changed";
    case kNotSignature: return "Not a signature of the emulation engine";
    case kBadSignature: return "The signature does not match the data";
    case kUnknownSigner: return "No signature key for the requested signer";
    case kNoPasswordFunction: return "A key password is needed but no password function is registered";
    case kPasswordCancelled: return "Password entry was cancelled";
    case kWrongPassword: return "Wrong key password";
    case kNoKeyMediumFunction: return "The key medium is needed but no key-medium function is registered";
    case kInjectedFailure: return "Failure requested by parameter \"Fail\"";
    case kUnknownUID: return "Unknown UID";
    case kNotSupported: return "Operation not supported by the emulation engine";
    case kInternalError: return "Internal error of the emulation engine";
    default: return nullptr;
  }
}

int32_t Failure(Engine& engine, const char* operation, int32_t code) {
  const char* text = CodeText(code);
  std::lock_guard<std::mutex> guard(engine.mutex);
  engine.lastError = std::string(operation) + ": " + (text ? text : "error");
  return code;
}

// Writes text cut to size - 1 characters and a NUL; nothing for a null buffer.
void WriteText(char* buffer, size_t size, std::string_view text) {
  if (!buffer || size == 0) return;
  const size_t n = std::min(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

bool ValidUID(std::string_view uid) {
  if (uid.empty() || uid.size() > kMaxUIDChars) return false;
  return std::none_of(uid.begin(), uid.end(), [](char c) { return c == ';' || c == '\r' || c == '\n'; });
}

std::vector<std::string> SplitSubscribers(const std::string& list) {
  std::vector<std::string> uids;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) uids.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return uids;
}

std::string* SettingOf(Settings& settings, int32_t number) {
  switch (number) {
    case kParamUID: return &settings.uid;
    case kParamPartner: return &settings.partner;
    case kParamFail: return &settings.fail;
    case kParamPassword: return &settings.password;
    case kParamTouchMemory: return &settings.touchMemory;
    case kParamSubscribers: return &settings.subscribers;
    default: return nullptr;
  }
}

int32_t ValidateParameter(int32_t number, const std::string& value) {
  switch (number) {
    case kParamUID: return ValidUID(value) ? kOk : kBadParameterValue;
    case kParamPartner: return value.empty() || ValidUID(value) ? kOk : kBadParameterValue;
    case kParamFail:
      if (value.empty()) return kOk;
      for (const char* op : kFailOperations)
        if (EqualsNoCase(value, op)) return kOk;
      return kBadParameterValue;
    case kParamPassword: return value.size() < static_cast<size_t>(kMaxPasswordLength) ? kOk : kBadParameterValue;
    case kParamTouchMemory: return value.empty() || value == "0" || value == "1" ? kOk : kBadParameterValue;
    case kParamSubscribers:
      for (const auto& uid : SplitSubscribers(value))
        if (!ValidUID(uid)) return kBadParameterValue;
      return kOk;
    default: return kUnknownParameter;
  }
}

// Unlocks the signing key when "Password" is set: asks once through the password function
// and remembers a matching answer until the password changes or the cache is cleared.
int32_t UnlockSigningKey(Engine& engine, const std::string& password) {
  if (password.empty()) return kOk;
  std::lock_guard<std::mutex> prompt(engine.unlockMutex);
  CHPasswordRequestFunc ask;
  unsigned generation;
  {
    std::lock_guard<std::mutex> guard(engine.mutex);
    if (engine.keyUnlocked) return kOk;
    ask = engine.passwordFunc;
    generation = engine.passwordGeneration;
  }
  if (!ask) return kNoPasswordFunction;
  char entered[kMaxPasswordLength] = {};
  if (ask(entered, kMaxPasswordLength) == 0) return kPasswordCancelled;
  entered[kMaxPasswordLength - 1] = '\0';
  if (password != entered) return kWrongPassword;
  std::lock_guard<std::mutex> guard(engine.mutex);
  if (engine.passwordGeneration == generation) engine.keyUnlocked = true;
  return kOk;
}

// Runs an entry body, turning anything thrown into kInternalError.
template <typename Body>
int32_t Guarded(CHEngineObject object, const char* operation, Body body) {
  Engine* engine = AsEngine(object);
  if (!engine) return kBadArgument;
  try {
    const int32_t code = body(*engine);
    return code == kOk ? kOk : Failure(*engine, operation, code);
  } catch (...) {
    try {
      return Failure(*engine, operation, kInternalError);
    } catch (...) {
      return kInternalError;
    }
  }
}

int32_t Sign(Engine& engine, const char* data, int32_t length, char* signature, int32_t* signatureLength,
             const char* signer) {
  if ((!data && length > 0) || length < 0 || !signature || !signatureLength) return kBadArgument;
  const Settings settings = Snapshot(engine);
  if (FailRequested(settings, "Sign")) return kInjectedFailure;
  if (signer && *signer && settings.uid != signer) return kUnknownSigner;
  const size_t checkLength = CheckLength(engine.version);
  const size_t needed = kMagicLength + 1 + settings.uid.size() + checkLength;
  const size_t capacity = *signatureLength > 0 ? static_cast<size_t>(*signatureLength)
                                               : kMagicLength + 1 + kMaxUIDChars + checkLength;
  if (capacity < needed) return kBufferTooSmall;

  const bool keyMedium = settings.touchMemory == "1";
  CHTMRequestFunc medium;
  {
    std::lock_guard<std::mutex> guard(engine.mutex);
    medium = engine.keyMediumFunc;
  }
  if (keyMedium && !medium) return kNoKeyMediumFunction;
  if (keyMedium) medium(kKeyMediumShow);
  struct HideMedium {
    CHTMRequestFunc func;
    ~HideMedium() {
      if (func) func(kKeyMediumHide);
    }
  } hide{keyMedium ? medium : nullptr};

  if (const int32_t code = UnlockSigningKey(engine, settings.password); code != kOk) return code;

  unsigned char* out = reinterpret_cast<unsigned char*>(signature);
  std::memcpy(out, engine.version == 2 ? "EMS2" : "EMS1", kMagicLength);
  out[kMagicLength] = static_cast<unsigned char>(settings.uid.size());
  std::memcpy(out + kMagicLength + 1, settings.uid.data(), settings.uid.size());
  SignatureCheck(engine.version, settings.uid, std::string_view(data ? data : "", static_cast<size_t>(length)),
                 out + kMagicLength + 1 + settings.uid.size());
  *signatureLength = static_cast<int32_t>(needed);
  return kOk;
}

int32_t Verify(Engine& engine, const char* data, int32_t length, const char* signature, int32_t signatureLength,
               char* signerUID) {
  if ((!data && length > 0) || length < 0 || (!signature && signatureLength > 0)) return kBadArgument;
  if (FailRequested(Snapshot(engine), "Verify")) return kInjectedFailure;
  const unsigned char* sig = reinterpret_cast<const unsigned char*>(signature);
  if (signatureLength < static_cast<int32_t>(kMagicLength + 1)) return kNotSignature;
  const int version = VersionOfMagic(sig, "EMS");
  if (version == 0) return kNotSignature;
  const size_t signerLength = sig[kMagicLength];
  const size_t checkLength = CheckLength(version);
  if (signerLength == 0 || static_cast<size_t>(signatureLength) != kMagicLength + 1 + signerLength + checkLength)
    return kNotSignature;
  const std::string_view signer(signature + kMagicLength + 1, signerLength);
  unsigned char expected[16];
  SignatureCheck(version, signer, std::string_view(data ? data : "", static_cast<size_t>(length)), expected);
  if (std::memcmp(expected, sig + kMagicLength + 1 + signerLength, checkLength) != 0) return kBadSignature;
  WriteText(signerUID, kMaxUIDLength, signer);
  return kOk;
}

int32_t Encode(Engine& engine, char* data, int32_t* length, const char* recipientUID) {
  if (!data || !length || *length < 0) return kBadArgument;
  const Settings settings = Snapshot(engine);
  if (FailRequested(settings, "Encode")) return kInjectedFailure;
  const std::string recipient = recipientUID && *recipientUID ? recipientUID : settings.partner;
  if (recipient.empty()) return kNoRecipient;
  if (recipient.size() > kMaxUIDChars) return kBadArgument;
  const size_t checkLength = CheckLength(engine.version);
  const size_t header = kMagicLength + 1 + settings.uid.size() + 1 + recipient.size() + checkLength;
  const size_t plainLength = static_cast<size_t>(*length);
  if (plainLength > static_cast<size_t>(INT32_MAX) - header) return kBadArgument;

  unsigned char* bytes = reinterpret_cast<unsigned char*>(data);
  unsigned char check[16];
  EncryptionCheck(engine.version, settings.uid, recipient, std::string_view(data, plainLength), check);
  std::memmove(bytes + header, bytes, plainLength);
  unsigned char* p = bytes;
  std::memcpy(p, engine.version == 2 ? "EME2" : "EME1", kMagicLength);
  p += kMagicLength;
  *p++ = static_cast<unsigned char>(settings.uid.size());
  std::memcpy(p, settings.uid.data(), settings.uid.size());
  p += settings.uid.size();
  *p++ = static_cast<unsigned char>(recipient.size());
  std::memcpy(p, recipient.data(), recipient.size());
  p += recipient.size();
  std::memcpy(p, check, checkLength);
  Mask(bytes + header, plainLength, recipient, check, checkLength);
  *length = static_cast<int32_t>(header + plainLength);
  return kOk;
}

int32_t Decode(Engine& engine, char* data, int32_t* length, char* senderUID) {
  if (!data || !length || *length < 0) return kBadArgument;
  const Settings settings = Snapshot(engine);
  if (FailRequested(settings, "Decode")) return kInjectedFailure;
  unsigned char* bytes = reinterpret_cast<unsigned char*>(data);
  const size_t total = static_cast<size_t>(*length);
  if (total < kMagicLength + 2) return kNotEncrypted;
  const int version = VersionOfMagic(bytes, "EME");
  if (version == 0) return kNotEncrypted;
  size_t pos = kMagicLength;
  const size_t senderLength = bytes[pos++];
  if (senderLength == 0 || pos + senderLength + 1 > total) return kNotEncrypted;
  const std::string sender(data + pos, senderLength);
  pos += senderLength;
  const size_t recipientLength = bytes[pos++];
  const size_t checkLength = CheckLength(version);
  if (recipientLength == 0 || pos + recipientLength + checkLength > total) return kNotEncrypted;
  const std::string recipient(data + pos, recipientLength);
  pos += recipientLength;
  if (recipient != settings.uid) return kNotRecipient;
  unsigned char check[16];
  std::memcpy(check, bytes + pos, checkLength);
  pos += checkLength;

  std::vector<unsigned char> plain(bytes + pos, bytes + total);
  Mask(plain.data(), plain.size(), recipient, check, checkLength);
  unsigned char expected[16];
  EncryptionCheck(version, sender, recipient,
                  std::string_view(reinterpret_cast<const char*>(plain.data()), plain.size()), expected);
  if (std::memcmp(expected, check, checkLength) != 0) return kDataCorrupt;
  if (!plain.empty()) std::memcpy(bytes, plain.data(), plain.size());
  *length = static_cast<int32_t>(plain.size());
  WriteText(senderUID, kMaxUIDLength, sender);
  return kOk;
}

std::string Fingerprint(std::string_view uid) {
  CheckValue value("emulated-public-key");
  value.Add(uid);
  unsigned char bytes[8];
  value.Write(bytes, 8);
  char hex[17];
  for (int i = 0; i < 8; ++i) std::snprintf(hex + 2 * i, 3, "%02X", bytes[i]);
  return std::string(hex, 16);
}

int32_t Report(Engine& engine, const char* uid, char* buffer) {
  if (!buffer) return kBadArgument;
  const Settings settings = Snapshot(engine);
  if (FailRequested(settings, "Report")) return kInjectedFailure;
  const std::vector<std::string> subscribers = SplitSubscribers(settings.subscribers);
  std::string text;
  if (!uid) {
    text = "ABONENTSLIST:";
    for (size_t i = 0; i < subscribers.size(); ++i) text += (i ? "\r\n" : "") + subscribers[i];
  } else {
    const bool own = settings.uid == uid;
    const bool known = own || settings.partner == uid ||
                       std::find(subscribers.begin(), subscribers.end(), uid) != subscribers.end();
    if (!known) return kUnknownUID;
    text = std::string("UID: ") + uid + "\r\nEngine: " + engine.typeName + "\r\nKey: emulated, fingerprint " +
           Fingerprint(uid) + "\r\nOwn key: " + (own ? "yes" : "no");
  }
  if (text.size() >= static_cast<size_t>(kMaxReportSize)) return kBufferTooSmall;
  WriteText(buffer, kMaxReportSize, text);
  return kOk;
}

int32_t NotSupported(CHEngineObject object, const char* operation) {
  return Guarded(object, operation, [](Engine&) { return static_cast<int32_t>(kNotSupported); });
}

}  // namespace

// ---- entries --------------------------------------------------------------------------------

CHEngineObject GetCryptObj(const char* typeName) {
  if (!typeName) return nullptr;
  int version = 0;
  if (std::strcmp(typeName, kTypeName1) == 0) version = 1;
  if (std::strcmp(typeName, kTypeName2) == 0) version = 2;
  if (version == 0) return nullptr;
  Engine* engine = new (std::nothrow) Engine;
  if (!engine) return nullptr;
  engine->version = version;
  try {
    engine->typeName = typeName;
  } catch (...) {
    delete engine;
    return nullptr;
  }
  return engine;
}

int32_t DoneEngine(CHEngineObject engine) {
  delete AsEngine(engine);
  return 0;
}

int32_t GetMaxEncodeAddition(CHEngineObject engine) {
  const Engine* e = AsEngine(engine);
  if (!e) return -1;
  return static_cast<int32_t>(kMagicLength + 1 + kMaxUIDChars + 1 + kMaxUIDChars + CheckLength(e->version));
}

int32_t GetMaxSignatureLength(CHEngineObject engine) {
  const Engine* e = AsEngine(engine);
  if (!e) return -1;
  return static_cast<int32_t>(kMagicLength + 1 + kMaxUIDChars + CheckLength(e->version));
}

int32_t GetMaxUIDLength(CHEngineObject) { return kMaxUIDLength; }
int32_t GetMaxCryptoParamNameLength(CHEngineObject) { return kMaxParamNameLength; }
int32_t GetMaxCryptoParamValueLength(CHEngineObject) { return kMaxParamValueLength; }
int32_t GetMaxErrorStringLength(CHEngineObject) { return kMaxErrorStringLength; }
int32_t GetCryptoParamNumber(CHEngineObject) { return kParamCount; }

void GetCryptoParamName(CHEngineObject engine, int32_t number, char* buffer) {
  if (!engine || number < 1 || number > kParamCount) return;
  WriteText(buffer, kMaxParamNameLength, kParamNames[number - 1]);
}

void GetCryptoParamValue(CHEngineObject engine, int32_t number, char* buffer) {
  Engine* e = AsEngine(engine);
  if (!e || !buffer) return;
  try {
    std::lock_guard<std::mutex> guard(e->mutex);
    if (const std::string* value = SettingOf(e->settings, number)) WriteText(buffer, kMaxParamValueLength, *value);
  } catch (...) {
  }
}

int32_t SetCryptoParamValue(CHEngineObject engine, int32_t number, const char* value) {
  return Guarded(engine, "SetCryptoParamValue", [&](Engine& e) -> int32_t {
    if (!value) return kBadArgument;
    const std::string text(value);
    if (number < 1 || number > kParamCount) return kUnknownParameter;
    if (text.size() >= static_cast<size_t>(kMaxParamValueLength)) return kValueTooLong;
    if (number != kParamFail && FailRequested(Snapshot(e), "Init")) return kInjectedFailure;
    if (const int32_t code = ValidateParameter(number, text); code != kOk) return code;
    std::lock_guard<std::mutex> guard(e.mutex);
    *SettingOf(e.settings, number) = text;
    if (number == kParamPassword) {
      e.keyUnlocked = false;
      ++e.passwordGeneration;
    }
    return kOk;
  });
}

int32_t GetEncodeUIDBySignUID(CHEngineObject engine, const char* signUID, char* encodeUID) {
  return Guarded(engine, "GetEncodeUIDBySignUID", [&](Engine&) -> int32_t {
    if (!signUID || !encodeUID || !ValidUID(signUID)) return kBadArgument;
    // The emulation signs and encrypts under one identity.
    WriteText(encodeUID, kMaxUIDLength, signUID);
    return kOk;
  });
}

void GetCryptoErrorString(CHEngineObject engine, int32_t code, char* buffer) {
  if (!engine || !buffer) return;
  const char* text = CodeText(code);
  WriteText(buffer, kMaxErrorStringLength, text ? text : "");
}

int32_t EncodeData(CHEngineObject engine, char* data, int32_t* length, const char* recipientUID) {
  return Guarded(engine, "EncodeData", [&](Engine& e) { return Encode(e, data, length, recipientUID); });
}

int32_t DecodeData(CHEngineObject engine, char* data, int32_t* length, char* senderUID) {
  return Guarded(engine, "DecodeData", [&](Engine& e) { return Decode(e, data, length, senderUID); });
}

int32_t SignData(CHEngineObject engine, const char* data, int32_t length, char* signature, int32_t* signatureLength,
                 const char* signer) {
  return Guarded(engine, "SignData",
                 [&](Engine& e) { return Sign(e, data, length, signature, signatureLength, signer); });
}

int32_t VerifyData(CHEngineObject engine, const char* data, int32_t length, const char* signature,
                   int32_t signatureLength, char* signerUID) {
  return Guarded(engine, "VerifyData",
                 [&](Engine& e) { return Verify(e, data, length, signature, signatureLength, signerUID); });
}

int32_t GetCurrentUserUID(CHEngineObject engine, char* buffer) {
  return Guarded(engine, "GetCurrentUserUID", [&](Engine& e) -> int32_t {
    if (!buffer) return kBadArgument;
    const Settings settings = Snapshot(e);
    if (FailRequested(settings, "UID")) return kInjectedFailure;
    WriteText(buffer, kMaxUIDLength, settings.uid);
    return kOk;
  });
}

int32_t GenerateNewSSK(CHEngineObject engine) { return NotSupported(engine, "GenerateNewSSK"); }
int32_t GenerateNewSEK(CHEngineObject engine) { return NotSupported(engine, "GenerateNewSEK"); }
// One identity signs and encrypts, so the keys never differ.
int32_t IsDifferentKeys(CHEngineObject engine) { return engine ? 0 : kBadArgument; }

void SetPasswordRequestFunc(CHEngineObject engine, CHPasswordRequestFunc func) {
  Engine* e = AsEngine(engine);
  if (!e) return;
  std::lock_guard<std::mutex> guard(e->mutex);
  e->passwordFunc = func;
}

int32_t GetMaxPasswordLength(CHEngineObject) { return kMaxPasswordLength; }
int32_t IncludePublicKey(CHEngineObject engine, intptr_t) { return NotSupported(engine, "IncludePublicKey"); }
int32_t IncludePublicEncodeKey(CHEngineObject engine, intptr_t) { return NotSupported(engine, "IncludePublicEncodeKey"); }
int32_t SignFile(CHEngineObject engine, intptr_t) { return NotSupported(engine, "SignFile"); }
int32_t VerifyFile(CHEngineObject engine, intptr_t, intptr_t) { return NotSupported(engine, "VerifyFile"); }
int32_t RemoveSignaturesFromFile(CHEngineObject engine, intptr_t) {
  return NotSupported(engine, "RemoveSignaturesFromFile");
}

void GetLastErrorMessage(CHEngineObject engine, char* buffer) {
  Engine* e = AsEngine(engine);
  if (!e || !buffer) return;
  try {
    std::lock_guard<std::mutex> guard(e->mutex);
    WriteText(buffer, kMaxErrorStringLength, e->lastError);
  } catch (...) {
  }
}

void SetRootPath(CHEngineObject engine, const char* rootPath) {
  Engine* e = AsEngine(engine);
  if (!e) return;
  try {
    std::lock_guard<std::mutex> guard(e->mutex);
    e->rootPath = rootPath ? rootPath : "";
  } catch (...) {
  }
}

int32_t TransSignatureFromFileToTM(CHEngineObject engine) { return NotSupported(engine, "TransSignatureFromFileToTM"); }
int32_t TransPrivateKeyFromFileToTM(CHEngineObject engine) { return NotSupported(engine, "TransPrivateKeyFromFileToTM"); }

void SetTMRequestFunc(CHEngineObject engine, CHTMRequestFunc func) {
  Engine* e = AsEngine(engine);
  if (!e) return;
  std::lock_guard<std::mutex> guard(e->mutex);
  e->keyMediumFunc = func;
}

// Forgets the unlocked signing key, so the next signature asks for the password again.
void ClearCash(CHEngineObject engine) {
  Engine* e = AsEngine(engine);
  if (!e) return;
  std::lock_guard<std::mutex> guard(e->mutex);
  e->keyUnlocked = false;
}

int32_t RemoteGenerateStart(CHEngineObject engine, intptr_t) { return NotSupported(engine, "RemoteGenerateStart"); }
void SetRemoteGeneratePath(CHEngineObject, intptr_t) {}
int32_t AddSign(CHEngineObject engine, intptr_t, intptr_t, intptr_t) { return NotSupported(engine, "AddSign"); }
int32_t RemoveSign(CHEngineObject engine, intptr_t, intptr_t, intptr_t) { return NotSupported(engine, "RemoveSign"); }
int32_t GetMaxSignAddition(CHEngineObject) { return 0; }
int32_t GetPublicKeyTransfer(CHEngineObject engine, intptr_t, intptr_t) {
  return NotSupported(engine, "GetPublicKeyTransfer");
}
int32_t RemoteGenerateFinish(CHEngineObject engine, intptr_t) { return NotSupported(engine, "RemoteGenerateFinish"); }
int32_t SavePublicKeyFromTransfer(CHEngineObject engine, intptr_t, intptr_t) {
  return NotSupported(engine, "SavePublicKeyFromTransfer");
}
int32_t GetMaxPublicKeyTransferSize(CHEngineObject) { return 0; }
int32_t IncludePublicKeyTransfer(CHEngineObject engine, intptr_t) {
  return NotSupported(engine, "IncludePublicKeyTransfer");
}
int32_t ExcludeSelfPublicKeyTransfer(CHEngineObject engine, intptr_t) {
  return NotSupported(engine, "ExcludeSelfPublicKeyTransfer");
}
int32_t GetMaxFilePathLength(CHEngineObject) { return kMaxFilePathLength; }
int32_t GetRemoteGenType(CHEngineObject) { return 0; }
int32_t SaveSignedDataToFile(CHEngineObject engine, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t) {
  return NotSupported(engine, "SaveSignedDataToFile");
}
int32_t GetPublicKeyTransferByFile(CHEngineObject engine, intptr_t, intptr_t) {
  return NotSupported(engine, "GetPublicKeyTransferByFile");
}
int32_t GetMaxReportSize(CHEngineObject) { return kMaxReportSize; }

int32_t GetReport(CHEngineObject engine, const char* uid, char* buffer) {
  return Guarded(engine, "GetReport", [&](Engine& e) { return Report(e, uid, buffer); });
}

int32_t GetMaxAdditionEx(CHEngineObject engine, intptr_t) { return GetMaxEncodeAddition(engine); }
int32_t GetUIDByPublicKeyTransfer(CHEngineObject engine, intptr_t, intptr_t) {
  return NotSupported(engine, "GetUIDByPublicKeyTransfer");
}
// The emulation keeps no certificate cache: there is nothing to refresh.
int32_t UpdateCertificateCash(CHEngineObject engine, const char*) { return engine ? 0 : kBadArgument; }
int32_t GetMaxPublicKeyPropertiesLength(CHEngineObject) { return 0; }
int32_t GetPublicKeyProperties(CHEngineObject engine, intptr_t, intptr_t) {
  return NotSupported(engine, "GetPublicKeyProperties");
}
int32_t RemoteGenerateStartEx(CHEngineObject engine, intptr_t, intptr_t, intptr_t) {
  return NotSupported(engine, "RemoteGenerateStartEx");
}
int32_t RemoteGenerateFinishEx(CHEngineObject engine, intptr_t, intptr_t) {
  return NotSupported(engine, "RemoteGenerateFinishEx");
}
int32_t GetPublicKeyPropertiesByTransfer(CHEngineObject engine, intptr_t, intptr_t) {
  return NotSupported(engine, "GetPublicKeyPropertiesByTransfer");
}
int32_t GetPublicKeyPropertiesByFile(CHEngineObject engine, intptr_t, intptr_t) {
  return NotSupported(engine, "GetPublicKeyPropertiesByFile");
}
int32_t IncludeCACertificateFromTransfer(CHEngineObject engine, intptr_t) {
  return NotSupported(engine, "IncludeCACertificateFromTransfer");
}
int32_t CreateDirStructure(CHEngineObject engine, intptr_t, intptr_t) { return NotSupported(engine, "CreateDirStructure"); }
int32_t RemoveCertificate(CHEngineObject engine, intptr_t) { return NotSupported(engine, "RemoveCertificate"); }
int32_t VerifySignWOCheckValidity(CHEngineObject engine, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t) {
  return NotSupported(engine, "VerifySignWOCheckValidity");
}
int32_t CertAndRequestTransferMatch(CHEngineObject engine, intptr_t, intptr_t, intptr_t) {
  return NotSupported(engine, "CertAndRequestTransferMatch");
}
int32_t IncludeCRL(CHEngineObject engine, intptr_t) { return NotSupported(engine, "IncludeCRL"); }
int32_t ConvertTransferToSignedRequest(CHEngineObject engine, intptr_t) {
  return NotSupported(engine, "ConvertTransferToSignedRequest");
}

int32_t CheckCompatibles(const char* otherTypeName) {
  if (!otherTypeName) return 0;
  return std::strcmp(otherTypeName, kTypeName1) == 0 || std::strcmp(otherTypeName, kTypeName2) == 0 ? 1 : 0;
}
