#pragma once
// Result codes of the "OpenSSL" engine and their Russian descriptions (Windows-1251).
#include <cstdint>
#include <stdexcept>
#include <string>

namespace engmod10 {

enum ErrorCode : int32_t {
  kOk = 0,
  kNotSupported = 1,
  kInvalidArgument = 2,
  kBufferTooSmall = 3,
  kUnknownParameter = 4,
  kNoOwnCertificate = 5,
  kFileError = 6,
  kBadCertificate = 7,
  kBadPrivateKey = 8,
  kKeyMismatch = 9,
  kPasswordRefused = 10,
  kWrongPassword = 11,
  kNoCaCertificate = 12,
  kUnknownUid = 13,
  kNoPartner = 14,
  kSignFailed = 15,
  kBadSignatureFormat = 16,
  kSignatureMissing = 17,
  kSignatureInvalid = 18,
  kCertificateUntrusted = 19,
  kCertificateExpired = 20,
  kCertificateNotYetValid = 21,
  kCertificateUnusable = 22,
  kEncryptFailed = 23,
  kBadEncryptedFormat = 24,
  kNotForThisRecipient = 25,
  kDataCorrupted = 26,
  kForeignSigner = 27,
  kSubscribersError = 28,
  kInternalError = 29,
  kLastErrorCode = kInternalError,
};

// The description of a code, or an empty text for a code the engine never returns.
const std::string& ErrorText(int32_t code);

// How the engine's operations fail inside; the export layer turns it into the result code.
class EngineError : public std::runtime_error {
 public:
  // detail: UTF-8 text for the last-error message (OpenSSL's own error text is appended to it).
  EngineError(ErrorCode code, const std::string& detail) : std::runtime_error(detail), code_(code) {}
  ErrorCode Code() const { return code_; }

 private:
  ErrorCode code_;
};

// Raises an EngineError whose detail carries the thread's pending OpenSSL errors (and clears them).
[[noreturn]] void ThrowOpenSsl(ErrorCode code, const std::string& detail);

// The thread's pending OpenSSL errors as one line, and the queue emptied.
std::string TakeOpenSslErrors();

}  // namespace engmod10
