#pragma once
// Certificates as the engine sees them: parsed once, named by their UID, checked against a trust store.
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Errors.h"
#include "Ssl.h"

namespace engmod10 {

// Longest UID the engine hands out, terminating NUL included.
constexpr int32_t kMaxUidLength = 256;

struct Certificate {
  SharedX509 x509;
  std::string uid;   // the subject's common name, Windows-1251; empty when the subject has none
  std::string file;  // where it was read from (UTF-8)
  size_t derLength = 0;
};
using CertPtr = std::shared_ptr<const Certificate>;

// The bytes of a certificate or key file (at most a few megabytes). Raises kFileError.
std::string ReadSmallFile(const std::string& path);

// Every certificate of a PEM file (one or more) or of a DER file. Raises kFileError or kBadCertificate.
std::vector<CertPtr> ReadCertificateFile(const std::string& path);

// Wraps a certificate already in memory (the signer of a verified signature).
CertPtr MakeCertificate(X509* cert, const std::string& file);

// The subject's common name as Windows-1251 text; empty when there is none.
std::string UidOf(X509* cert);

// A set of trusted CA certificates.
struct TrustStore {
  SharedStore store;
  std::string file;
  std::vector<CertPtr> authorities;
};
using TrustPtr = std::shared_ptr<const TrustStore>;

// Raises kFileError, kBadCertificate, or kNoCaCertificate when the file holds no certificate.
TrustPtr ReadTrustStore(const std::string& path);

// The outcome of building a certificate's chain to a trusted CA, time left aside; the chain is
// usable while the current time lies in [from, until].
struct ChainCheck {
  ErrorCode code = kCertificateUntrusted;
  std::string detail;
  time_t from = 0;
  time_t until = 0;
};

ChainCheck CheckChain(const TrustStore& trust, X509* cert, STACK_OF(X509) * untrusted);

// kOk, kCertificateExpired, kCertificateNotYetValid or the chain's own failure code.
ErrorCode CheckAt(const ChainCheck& check, time_t now);

// A peer certificate with its chain checked.
struct Peer {
  CertPtr cert;
  ChainCheck check;
};

// A directory of peer certificates, by UID.
struct SubscriberSet {
  std::string dir;
  std::map<std::string, Peer> byUid;
  std::vector<std::string> problems;  // files or certificates left out, and why (UTF-8)
  CertStackPtr stack;                 // every certificate, for signatures that carry none
};
using SubscribersPtr = std::shared_ptr<const SubscriberSet>;

// Reads every certificate file (.pem, .crt, .cer, .der) of dir through readFile; a UID found in
// several certificates keeps the one issued last. trust may be null (then no peer is usable).
SubscribersPtr ReadSubscribers(const std::string& dir, const TrustPtr& trust,
                               const std::function<std::vector<CertPtr>(const std::string&)>& readFile);

// Readable description of a certificate (Windows-1251, lines separated by CR LF).
std::string CertificateReport(const Certificate& cert, const std::string& stateText);

// Seconds since 1970 of an ASN.1 time; 0 when it cannot be read.
time_t ToTimeT(const ASN1_TIME* t);

// "YYYY-MM-DD HH:MM:SS UTC".
std::string TimeText(time_t t);

}  // namespace engmod10
