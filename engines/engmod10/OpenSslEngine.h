#pragma once
// The "OpenSSL" engine: X.509 identities, detached CMS signatures (SHA-256) and CMS
// AuthEnvelopedData (AES-256-GCM) through libcrypto. One object serves any number of threads.
// Texts in and out (parameters, UIDs, messages) are Windows-1251; paths are converted to UTF-8
// for the file system.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Cache.h"
#include "Certificates.h"
#include "Errors.h"
#include "Ssl.h"

namespace engmod10 {

// The password prompt the caller registers: fills buffer (size bytes, NUL included) and returns
// -1 when a password was entered, 0 when the user refused.
using PasswordCallback = int32_t (*)(char* buffer, int32_t size);

class OpenSslEngine {
 public:
  static constexpr const char* kEngineType = "OpenSSL";

  // Parameter numbers as callers use them (from 1).
  enum Param : int32_t {
    kCertificateFile = 1,
    kPrivateKeyFile,
    kCaFile,
    kSubscribersDir,
    kPartnerUid,
    kParamCount = kPartnerUid,
  };

  static constexpr int32_t kMaxParamNameLength = 64;
  static constexpr int32_t kMaxParamValueLength = 1024;
  static constexpr int32_t kMaxErrorStringLength = 512;
  static constexpr int32_t kMaxPasswordLength = 256;
  static constexpr int32_t kMaxReportSize = 1024 * 1024;
  // The growth of a ciphertext over its plain data. A recipient whose certificate would need
  // more is refused, so this bound holds for every call.
  static constexpr int32_t kMaxEncodeAddition = 4096;
  // Floor of the signature bound; the bound grows only for unusually large own certificates.
  static constexpr int32_t kMinSignatureBound = 8192;

  OpenSslEngine();
  OpenSslEngine(const OpenSslEngine&) = delete;
  OpenSslEngine& operator=(const OpenSslEngine&) = delete;

  static const char* ParamName(int32_t number);  // null out of range
  std::string ParamValue(int32_t number) const;  // empty out of range
  ErrorCode SetParam(int32_t number, std::string_view value);
  void SetRootPath(std::string_view root);
  void SetPasswordCallback(PasswordCallback callback);

  // A true upper bound of SignData's output for the current own certificate.
  int32_t MaxSignatureLength();

  // Each operation returns kOk or the failure's code, whose details LastErrorMessage() gives.
  // signer: empty, or the own UID.
  ErrorCode Sign(const uint8_t* data, size_t length, std::string_view signer, std::vector<uint8_t>& signature);
  ErrorCode Verify(const uint8_t* data, size_t length, const uint8_t* signature, size_t signatureLength,
                   std::string& signerUid);
  // recipient: empty for the partner.
  ErrorCode Encode(const uint8_t* data, size_t length, std::string_view recipient, std::vector<uint8_t>& out);
  // The format carries no sender identity: sender comes back empty.
  ErrorCode Decode(const uint8_t* data, size_t length, std::vector<uint8_t>& out, std::string& sender);
  ErrorCode CurrentUserUid(std::string& uid);
  ErrorCode EncodeUidBySignUid(std::string_view signUid, std::string& encodeUid);
  // uid null: "ABONENTSLIST:" and one subscriber UID per line; else a report on that certificate.
  ErrorCode Report(const char* uid, std::string& report);
  ErrorCode UpdateCertificateCache();
  void ClearCache();

  // The last failure of the calling thread on this engine (or of any thread when the calling
  // thread had none): what went wrong and OpenSSL's own error text, Windows-1251.
  std::string LastErrorMessage() const;

  // For tests: the clock that judges certificate validity.
  void SetClockForTesting(time_t (*now)()) { now_ = now; }

 private:
  struct Own {
    CertPtr cert;
    std::string certPath;
    std::string keyPath;
  };
  // The engine's view of the configuration, rebuilt when parameters change or the cache is cleared.
  struct State {
    uint64_t generation = 0;
    uint64_t paramsVersion = 0;
    std::shared_ptr<const Own> own;
    SharedKey key;
    TrustPtr trust;
    SubscribersPtr subscribers;
  };

  template <class F>
  ErrorCode Guarded(F&& body);
  // Records the failure's details for LastErrorMessage.
  void Fail(const std::string& detailUtf8);

  std::string ResolvePath(const std::string& paramCp1251) const;
  std::string Param(int32_t number) const;
  std::shared_ptr<const Own> OwnIdentity();
  SharedKey OwnKey(const Own& own);
  SharedKey LoadKey(const std::string& path);
  TrustPtr TrustStoreOrThrow();
  SubscribersPtr SubscribersOrEmpty(bool rescan);
  // The certificate for a UID: own, subscriber or learned; raises kUnknownUid.
  Peer FindPeer(const std::string& uid, bool& isOwn);
  // Brings the cached state up to date with the module cache and returns a copy of it.
  State Snapshot();
  template <class T>
  void Store(T State::*field, const T& value, uint64_t paramsVersion);

  time_t Now() const { return now_(); }

  mutable std::mutex mutex_;
  std::array<std::string, kParamCount> params_;
  std::string root_;
  PasswordCallback password_ = nullptr;
  State state_;
  uint64_t paramsVersion_ = 1;
  std::string lastError_;
  uint64_t id_;
  time_t (*now_)();
};

}  // namespace engmod10
