#include "Certificates.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Cp1251.h"

namespace engmod10 {
namespace fs = std::filesystem;

namespace {

// A certificate or key file is small; anything larger is not one and is not read into memory.
constexpr std::uintmax_t kMaxFileSize = 4 * 1024 * 1024;

}  // namespace

std::string ReadSmallFile(const std::string& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (ec) throw EngineError(kFileError, path + ": " + ec.message());
  if (size > kMaxFileSize) throw EngineError(kFileError, path + ": the file is too large");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EngineError(kFileError, path + ": cannot be opened");
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw EngineError(kFileError, path + ": read error");
  return bytes;
}

namespace {

std::string NameText(const X509_NAME* name) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio) return {};
  X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio.get(), &data);
  return Utf8ToCp1251(std::string(data, n > 0 ? static_cast<size_t>(n) : 0));
}

std::string Hex(const unsigned char* p, size_t n, bool colons) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    if (colons && i) s += ':';
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

time_t ToTimeT(const ASN1_TIME* t) {
  struct tm tm {};
  if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return 0;
  const int64_t days = DaysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  return static_cast<time_t>(days * 86400 + tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec);
}

std::string TimeText(time_t t) {
  const int64_t days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
  const int64_t secs = t - days * 86400;
  // Civil date from days since 1970 (inverse of DaysFromCivil).
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u %02lld:%02lld:%02lld UTC", static_cast<long long>(y), m, d,
                static_cast<long long>(secs / 3600), static_cast<long long>(secs / 60 % 60),
                static_cast<long long>(secs % 60));
  return buffer;
}

std::string UidOf(X509* cert) {
  const X509_NAME* name = X509_get_subject_name(cert);
  int index = -1, last = -1;
  while ((index = X509_NAME_get_index_by_NID(name, NID_commonName, index)) >= 0) last = index;
  if (last < 0) return {};
  unsigned char* utf8 = nullptr;
  const int n = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, last)));
  if (n < 0) return {};
  std::string uid = Utf8ToCp1251(std::string(reinterpret_cast<char*>(utf8), static_cast<size_t>(n)));
  OPENSSL_free(utf8);
  // A UID travels as one line of a list and in fixed buffers: control characters and
  // over-long names make it unusable.
  if (uid.size() >= static_cast<size_t>(kMaxUidLength)) return {};
  if (std::any_of(uid.begin(), uid.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })) return {};
  return uid;
}

CertPtr MakeCertificate(X509* cert, const std::string& file) {
  auto c = std::make_shared<Certificate>();
  X509_up_ref(cert);
  c->x509 = ShareX509(cert);
  c->uid = UidOf(cert);
  c->file = file;
  const int der = i2d_X509(cert, nullptr);
  c->derLength = der > 0 ? static_cast<size_t>(der) : 0;
  return c;
}

std::vector<CertPtr> ReadCertificateFile(const std::string& path) {
  const std::string bytes = ReadSmallFile(path);
  std::vector<CertPtr> certs;
  ERR_clear_error();
  if (bytes.find("-----BEGIN") != std::string::npos) {
    BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    if (!bio) ThrowOpenSsl(kInternalError, "BIO_new_mem_buf");
    while (X509* x = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
      certs.push_back(MakeCertificate(x, path));
      X509_free(x);
    }
    // Reaching the end of the PEM text is how the loop ends; any other failure is a broken file.
    const unsigned long e = ERR_peek_last_error();
    if (e && !(ERR_GET_LIB(e) == ERR_LIB_PEM && ERR_GET_REASON(e) == PEM_R_NO_START_LINE))
      ThrowOpenSsl(kBadCertificate, path);
    ERR_clear_error();
  } else {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(bytes.size()));
    if (!x) ThrowOpenSsl(kBadCertificate, path);
    certs.push_back(MakeCertificate(x, path));
    X509_free(x);
  }
  if (certs.empty()) throw EngineError(kBadCertificate, path + ": no certificate in the file");
  return certs;
}

TrustPtr ReadTrustStore(const std::string& path) {
  auto trust = std::make_shared<TrustStore>();
  trust->file = path;
  trust->authorities = ReadCertificateFile(path);
  trust->store = SharedStore(X509_STORE_new(), SslFree{});
  if (!trust->store) ThrowOpenSsl(kInternalError, "X509_STORE_new");
  for (const auto& ca : trust->authorities)
    if (X509_STORE_add_cert(trust->store.get(), ca->x509.get()) != 1) ThrowOpenSsl(kBadCertificate, path);
  return trust;
}

ChainCheck CheckChain(const TrustStore& trust, X509* cert, STACK_OF(X509) * untrusted) {
  ChainCheck result;
  StoreCtxPtr ctx(X509_STORE_CTX_new());
  if (!ctx || X509_STORE_CTX_init(ctx.get(), trust.store.get(), cert, untrusted) != 1) {
    result.code = kInternalError;
    result.detail = "X509_STORE_CTX_init: " + TakeOpenSslErrors();
    return result;
  }
  // Time is judged per use (CheckAt), so a cached result stays right as the clock moves on.
  // A configured CA need not be a self-signed root.
  X509_VERIFY_PARAM_set_flags(X509_STORE_CTX_get0_param(ctx.get()),
                              X509_V_FLAG_NO_CHECK_TIME | X509_V_FLAG_PARTIAL_CHAIN);
  if (X509_verify_cert(ctx.get()) != 1) {
    const int err = X509_STORE_CTX_get_error(ctx.get());
    result.code = kCertificateUntrusted;
    result.detail = std::string("certificate verify error: ") + X509_verify_cert_error_string(err);
    ERR_clear_error();
    return result;
  }
  STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
  result.from = 0;
  result.until = static_cast<time_t>(INT64_MAX);
  for (int i = 0; i < sk_X509_num(chain); ++i) {
    X509* c = sk_X509_value(chain, i);
    result.from = std::max(result.from, ToTimeT(X509_get0_notBefore(c)));
    result.until = std::min(result.until, ToTimeT(X509_get0_notAfter(c)));
  }
  result.code = kOk;
  return result;
}

ErrorCode CheckAt(const ChainCheck& check, time_t now) {
  if (check.code != kOk) return check.code;
  if (now < check.from) return kCertificateNotYetValid;
  if (now > check.until) return kCertificateExpired;
  return kOk;
}

SubscribersPtr ReadSubscribers(const std::string& dir, const TrustPtr& trust,
                               const std::function<std::vector<CertPtr>(const std::string&)>& readFile) {
  auto set = std::make_shared<SubscriberSet>();
  set->dir = dir;
  set->stack.reset(sk_X509_new_null());
  if (!set->stack) ThrowOpenSsl(kInternalError, "sk_X509_new_null");
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string ext = it->path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if ((ext == ".pem" || ext == ".crt" || ext == ".cer" || ext == ".der") && it->is_regular_file())
      files.push_back(it->path());
  }
  if (ec) throw EngineError(kSubscribersError, dir + ": " + ec.message());
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    std::vector<CertPtr> certs;
    try {
      certs = readFile(file.string());
    } catch (const EngineError& e) {
      set->problems.push_back(e.what());
      continue;
    }
    for (const auto& cert : certs) {
      if (cert->uid.empty()) {
        set->problems.push_back(file.string() + ": a certificate without a usable common name");
        continue;
      }
      Peer peer{cert, {}};
      if (trust) {
        peer.check = CheckChain(*trust, cert->x509.get(), nullptr);
      } else {
        peer.check.code = kNoCaCertificate;
        peer.check.detail = "no CA certificate configured";
      }
      X509_up_ref(cert->x509.get());
      sk_X509_push(set->stack.get(), cert->x509.get());
      auto [it, inserted] = set->byUid.emplace(cert->uid, peer);
      if (!inserted) {
        // A renewed certificate usually sits beside the old one: the one issued last wins.
        if (ToTimeT(X509_get0_notBefore(cert->x509.get())) >
            ToTimeT(X509_get0_notBefore(it->second.cert->x509.get())))
          it->second = peer;
        set->problems.push_back(file.string() + ": UID \"" + Cp1251ToUtf8(cert->uid) + "\" appears more than once");
      }
    }
  }
  return set;
}

std::string CertificateReport(const Certificate& cert, const std::string& stateText) {
  X509* x = cert.x509.get();
  std::string serial;
  if (const ASN1_INTEGER* sn = X509_get0_serialNumber(x)) serial = Hex(sn->data, static_cast<size_t>(sn->length), false);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int mdLength = 0;
  X509_digest(x, EVP_sha256(), md, &mdLength);
  const std::string crlf = "\r\n";
  std::string r;
  r += "UID: " + cert.uid + crlf;
  r += Utf8ToCp1251("Владелец: ") + NameText(X509_get_subject_name(x)) + crlf;
  r += Utf8ToCp1251("Издатель: ") + NameText(X509_get_issuer_name(x)) + crlf;
  r += Utf8ToCp1251("Серийный номер: ") + serial + crlf;
  r += Utf8ToCp1251("Действителен с: ") + TimeText(ToTimeT(X509_get0_notBefore(x))) + crlf;
  r += Utf8ToCp1251("Действителен по: ") + TimeText(ToTimeT(X509_get0_notAfter(x))) + crlf;
  r += Utf8ToCp1251("Отпечаток SHA-256: ") + Hex(md, mdLength, true) + crlf;
  if (!cert.file.empty()) r += Utf8ToCp1251("Файл: ") + Utf8ToCp1251(cert.file) + crlf;
  r += Utf8ToCp1251("Состояние: ") + stateText;
  return r;
}

}  // namespace engmod10
