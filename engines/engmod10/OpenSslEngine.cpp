#include "OpenSslEngine.h"

#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <new>

#include "CmsProfile.h"
#include "Cp1251.h"

namespace engmod10 {
namespace {

constexpr const char* kParamNames[OpenSslEngine::kParamCount] = {
    "CertificateFile", "PrivateKeyFile", "CAFile", "SubscribersDir", "PartnerUID"};

// How often a wrong password may be typed before the call fails.
constexpr int kPasswordAttempts = 3;

std::atomic<uint64_t> g_nextEngineId{1};

// The last failure per thread, so that concurrent callers each read their own.
thread_local uint64_t t_lastErrorEngine = 0;
thread_local std::string t_lastError;

time_t SystemNow() { return std::time(nullptr); }

const unsigned char kEmpty[1] = {0};

BioPtr ReadOnlyBio(const uint8_t* data, size_t length) {
  if (length > static_cast<size_t>(INT_MAX)) throw EngineError(kInvalidArgument, "data longer than 2 GiB");
  BioPtr bio(BIO_new_mem_buf(length ? data : kEmpty, static_cast<int>(length)));
  if (!bio) ThrowOpenSsl(kInternalError, "BIO_new_mem_buf");
  return bio;
}

std::vector<uint8_t> ToDer(CMS_ContentInfo* cms, ErrorCode code) {
  const int n = i2d_CMS_ContentInfo(cms, nullptr);
  if (n <= 0) ThrowOpenSsl(code, "i2d_CMS_ContentInfo");
  std::vector<uint8_t> der(static_cast<size_t>(n));
  unsigned char* p = der.data();
  if (i2d_CMS_ContentInfo(cms, &p) != n) ThrowOpenSsl(code, "i2d_CMS_ContentInfo");
  return der;
}

// A complete DER CMS structure, nothing before or after it.
CmsPtr ParseCms(const uint8_t* data, size_t length, ErrorCode code, const char* what) {
  if (length > static_cast<size_t>(LONG_MAX)) throw EngineError(code, what);
  const unsigned char* p = data;
  CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(length)));
  if (!cms) ThrowOpenSsl(code, std::string(what) + ": not a DER CMS structure");
  if (p != data + length) throw EngineError(code, std::string(what) + ": bytes after the CMS structure");
  // libcrypto accepts some encodings that are not DER and checks signatures over its own
  // re-encoding; only the exact DER form of what was parsed is taken.
  const int n = i2d_CMS_ContentInfo(cms.get(), nullptr);
  if (n < 0 || static_cast<size_t>(n) != length) throw EngineError(code, std::string(what) + ": not in DER form");
  std::vector<uint8_t> again(length);
  unsigned char* out = again.data();
  if (i2d_CMS_ContentInfo(cms.get(), &out) != n || std::memcmp(again.data(), data, length) != 0)
    throw EngineError(code, std::string(what) + ": not in DER form");
  return cms;
}

int TypeOf(CMS_ContentInfo* cms) { return OBJ_obj2nid(CMS_get0_type(cms)); }

// Key usage is only binding when the certificate states one.
bool AllowsUsage(X509* cert, uint32_t wanted) {
  if (!(X509_get_extension_flags(cert) & EXFLAG_KUSAGE)) return true;
  return (X509_get_key_usage(cert) & wanted) != 0;
}

// Names match case-insensitively in X.509; a copy that differs in a single byte is still a
// modified one.
bool SameEncoding(const X509_NAME* a, const X509_NAME* b) {
  unsigned char* da = nullptr;
  unsigned char* db = nullptr;
  const int na = i2d_X509_NAME(a, &da);
  const int nb = i2d_X509_NAME(b, &db);
  const bool same = na > 0 && na == nb && std::memcmp(da, db, static_cast<size_t>(na)) == 0;
  OPENSSL_free(da);
  OPENSSL_free(db);
  return same;
}

// An output BIO that appends to a vector reserved beforehand: the memory BIO copies and wipes
// its whole buffer at every growth step, which dominates large messages.
int SinkWrite(BIO* bio, const char* data, int n) {
  if (n <= 0) return 0;
  try {
    auto* out = static_cast<std::vector<uint8_t>*>(BIO_get_data(bio));
    const size_t at = out->size();
    out->resize(at + static_cast<size_t>(n));
    std::memcpy(out->data() + at, data, static_cast<size_t>(n));
  } catch (...) {
    return -1;
  }
  return n;
}

long SinkCtrl(BIO*, int cmd, long, void*) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }

int SinkCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BioPtr VectorSink(std::vector<uint8_t>& out) {
  static const std::unique_ptr<BIO_METHOD, void (*)(BIO_METHOD*)> method(
      [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "engmod10 vector sink");
        if (m) {
          BIO_meth_set_write(m, SinkWrite);
          BIO_meth_set_ctrl(m, SinkCtrl);
          BIO_meth_set_create(m, SinkCreate);
        }
        return m;
      }(),
      BIO_meth_free);
  if (!method) ThrowOpenSsl(kInternalError, "BIO_meth_new");
  BioPtr bio(BIO_new(method.get()));
  if (!bio) ThrowOpenSsl(kInternalError, "BIO_new");
  BIO_set_data(bio.get(), &out);
  return bio;
}

int LastReason() {
  const unsigned long e = ERR_peek_last_error();
  return e ? ERR_GET_REASON(e) : 0;
}

struct PasswordSource {
  const std::string* password = nullptr;  // null: report that a password is needed
  bool asked = false;
};

int PemPassword(char* buf, int size, int, void* u) {
  auto* source = static_cast<PasswordSource*>(u);
  source->asked = true;
  if (!source->password) return -1;
  const int n = static_cast<int>(std::min<size_t>(source->password->size(), static_cast<size_t>(size)));
  std::copy_n(source->password->data(), n, buf);
  return n;
}

EVP_PKEY* ReadKey(const std::string& bytes, PasswordSource& source) {
  ERR_clear_error();
  BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  if (!bio) return nullptr;
  if (bytes.find("-----BEGIN") != std::string::npos)
    return PEM_read_bio_PrivateKey(bio.get(), nullptr, PemPassword, &source);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  return d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(bytes.size()));
}

}  // namespace

OpenSslEngine::OpenSslEngine() : id_(g_nextEngineId.fetch_add(1)), now_(&SystemNow) {}

const char* OpenSslEngine::ParamName(int32_t number) {
  if (number < 1 || number > kParamCount) return nullptr;
  return kParamNames[number - 1];
}

std::string OpenSslEngine::ParamValue(int32_t number) const {
  if (number < 1 || number > kParamCount) return {};
  std::lock_guard lock(mutex_);
  return params_[number - 1];
}

std::string OpenSslEngine::Param(int32_t number) const { return ParamValue(number); }

ErrorCode OpenSslEngine::SetParam(int32_t number, std::string_view value) {
  if (number < 1 || number > kParamCount) {
    Fail("parameter number " + std::to_string(number));
    return kUnknownParameter;
  }
  if (value.size() >= static_cast<size_t>(kMaxParamValueLength)) {
    Fail(std::string(kParamNames[number - 1]) + ": value too long");
    return kInvalidArgument;
  }
  std::lock_guard lock(mutex_);
  params_[number - 1] = std::string(value);
  ++paramsVersion_;
  state_ = State{};
  return kOk;
}

void OpenSslEngine::SetRootPath(std::string_view root) {
  std::lock_guard lock(mutex_);
  root_ = std::string(root);
  ++paramsVersion_;
  state_ = State{};
}

void OpenSslEngine::SetPasswordCallback(PasswordCallback callback) {
  std::lock_guard lock(mutex_);
  password_ = callback;
}

void OpenSslEngine::Fail(const std::string& detailUtf8) {
  std::string text = Utf8ToCp1251(detailUtf8);
  if (text.size() >= static_cast<size_t>(kMaxErrorStringLength)) text.resize(kMaxErrorStringLength - 1);
  t_lastErrorEngine = id_;
  t_lastError = text;
  std::lock_guard lock(mutex_);
  lastError_ = std::move(text);
}

std::string OpenSslEngine::LastErrorMessage() const {
  if (t_lastErrorEngine == id_) return t_lastError;
  std::lock_guard lock(mutex_);
  return lastError_;
}

template <class F>
ErrorCode OpenSslEngine::Guarded(F&& body) {
  ErrorCode code = kOk;
  try {
    body();
  } catch (const EngineError& e) {
    code = e.Code();
    Fail(e.what());
  } catch (const std::bad_alloc&) {
    code = kInternalError;
    Fail("out of memory");
  } catch (const std::exception& e) {
    code = kInternalError;
    Fail(e.what());
  }
  ERR_clear_error();
  return code;
}

std::string OpenSslEngine::ResolvePath(const std::string& paramCp1251) const {
  const std::filesystem::path path(Cp1251ToUtf8(paramCp1251));
  std::string root;
  {
    std::lock_guard lock(mutex_);
    root = root_;
  }
  if (path.is_absolute() || root.empty()) return path.string();
  return (std::filesystem::path(Cp1251ToUtf8(root)) / path).string();
}

OpenSslEngine::State OpenSslEngine::Snapshot() {
  const uint64_t generation = ModuleCache::Instance().Generation();
  std::lock_guard lock(mutex_);
  if (state_.generation != generation) {
    state_ = State{};
    state_.generation = generation;
  }
  State copy = state_;
  copy.paramsVersion = paramsVersion_;
  return copy;
}

template <class T>
void OpenSslEngine::Store(T State::*field, const T& value, uint64_t paramsVersion) {
  std::lock_guard lock(mutex_);
  // Parameters changed meanwhile: what was loaded belongs to the old ones.
  if (paramsVersion != paramsVersion_) return;
  if (state_.generation != ModuleCache::Instance().Generation()) return;
  state_.*field = value;
}

std::shared_ptr<const OpenSslEngine::Own> OpenSslEngine::OwnIdentity() {
  const State st = Snapshot();
  if (st.own) return st.own;
  const std::string certParam = Param(kCertificateFile);
  if (certParam.empty()) throw EngineError(kNoOwnCertificate, "parameter CertificateFile is empty");
  auto own = std::make_shared<Own>();
  own->certPath = ResolvePath(certParam);
  const auto certs = ModuleCache::Instance().CertificateFile(own->certPath);
  own->cert = certs->front();
  if (own->cert->uid.empty())
    throw EngineError(kCertificateUnusable, own->certPath + ": the subject has no usable common name");
  const std::string keyParam = Param(kPrivateKeyFile);
  own->keyPath = keyParam.empty() ? own->certPath : ResolvePath(keyParam);
  std::shared_ptr<const Own> result = own;
  Store(&State::own, result, st.paramsVersion);
  return result;
}

SharedKey OpenSslEngine::LoadKey(const std::string& path) {
  const std::string bytes = ReadSmallFile(path);
  PasswordSource probe;
  if (EVP_PKEY* key = ReadKey(bytes, probe)) return ShareKey(key);
  if (!probe.asked) ThrowOpenSsl(kBadPrivateKey, path);
  PasswordCallback callback;
  {
    std::lock_guard lock(mutex_);
    callback = password_;
  }
  if (!callback) throw EngineError(kPasswordRefused, path + ": the key is encrypted and no password prompt is registered");
  for (int attempt = 0; attempt < kPasswordAttempts; ++attempt) {
    std::vector<char> buffer(kMaxPasswordLength, '\0');
    const int32_t answer = callback(buffer.data(), kMaxPasswordLength);
    buffer.back() = '\0';
    std::string password(buffer.data());
    OPENSSL_cleanse(buffer.data(), buffer.size());
    if (answer == 0) {
      OPENSSL_cleanse(password.data(), password.size());
      throw EngineError(kPasswordRefused, path + ": the password prompt was cancelled");
    }
    // The prompt gives Windows-1251 text; a key encrypted on a UTF-8 terminal wants UTF-8 bytes.
    std::string variants[2] = {password, Cp1251ToUtf8(password)};
    const int count = variants[1] == variants[0] ? 1 : 2;
    EVP_PKEY* key = nullptr;
    for (int i = 0; i < count && !key; ++i) {
      PasswordSource source{&variants[i], false};
      key = ReadKey(bytes, source);
    }
    for (auto& v : variants) OPENSSL_cleanse(v.data(), v.size());
    OPENSSL_cleanse(password.data(), password.size());
    if (key) return ShareKey(key);
  }
  ThrowOpenSsl(kWrongPassword, path);
}

SharedKey OpenSslEngine::OwnKey(const Own& own) {
  const State st = Snapshot();
  if (st.key && st.own.get() == &own) return st.key;
  SharedKey key = ModuleCache::Instance().PrivateKey(own.keyPath, [&] { return LoadKey(own.keyPath); });
  if (X509_check_private_key(own.cert->x509.get(), key.get()) != 1)
    ThrowOpenSsl(kKeyMismatch, own.keyPath + " does not belong to " + own.certPath);
  if (st.own.get() == &own) Store(&State::key, key, st.paramsVersion);
  return key;
}

TrustPtr OpenSslEngine::TrustStoreOrThrow() {
  const State st = Snapshot();
  if (st.trust) return st.trust;
  const std::string caParam = Param(kCaFile);
  if (caParam.empty()) throw EngineError(kNoCaCertificate, "parameter CAFile is empty");
  TrustPtr trust = ModuleCache::Instance().Trust(ResolvePath(caParam));
  Store(&State::trust, trust, st.paramsVersion);
  return trust;
}

SubscribersPtr OpenSslEngine::SubscribersOrEmpty(bool rescan) {
  const State st = Snapshot();
  if (st.subscribers && !rescan) return st.subscribers;
  const std::string dirParam = Param(kSubscribersDir);
  SubscribersPtr set;
  if (dirParam.empty()) {
    auto empty = std::make_shared<SubscriberSet>();
    empty->stack.reset(sk_X509_new_null());
    set = empty;
  } else {
    // Peers are listed even while the CA is missing; they are unusable until it is set.
    TrustPtr trust;
    try {
      trust = TrustStoreOrThrow();
    } catch (const EngineError&) {
      ERR_clear_error();
    }
    set = ModuleCache::Instance().Subscribers(ResolvePath(dirParam), trust, rescan);
  }
  Store(&State::subscribers, set, st.paramsVersion);
  return set;
}

Peer OpenSslEngine::FindPeer(const std::string& uid, bool& isOwn) {
  isOwn = false;
  try {
    auto own = OwnIdentity();
    if (own->cert->uid == uid) {
      isOwn = true;
      ChainCheck check;
      check.code = kOk;
      check.from = ToTimeT(X509_get0_notBefore(own->cert->x509.get()));
      check.until = ToTimeT(X509_get0_notAfter(own->cert->x509.get()));
      return Peer{own->cert, check};
    }
  } catch (const EngineError& e) {
    if (e.Code() != kNoOwnCertificate) throw;
  }
  SubscribersPtr subscribers = SubscribersOrEmpty(false);
  auto it = subscribers->byUid.find(uid);
  if (it != subscribers->byUid.end()) return it->second;
  TrustPtr trust;
  try {
    trust = TrustStoreOrThrow();
  } catch (const EngineError&) {
    ERR_clear_error();
  }
  if (trust)
    if (auto learned = ModuleCache::Instance().Learned(trust->file, uid)) return *learned;
  throw EngineError(kUnknownUid, "no certificate for UID \"" + Cp1251ToUtf8(uid) + "\"");
}

int32_t OpenSslEngine::MaxSignatureLength() {
  int64_t bound = kMinSignatureBound;
  try {
    auto own = OwnIdentity();
    // The signature embeds the certificate, names its issuer and serial again, and adds the
    // signature value and less than a kilobyte of fixed structure and attributes.
    const int sig = EVP_PKEY_get_size(X509_get0_pubkey(own->cert->x509.get()));
    bound = std::max<int64_t>(bound, 2 * static_cast<int64_t>(own->cert->derLength) + std::max(sig, 0) + 1024);
  } catch (const std::exception&) {
    ERR_clear_error();
  }
  return static_cast<int32_t>(std::min<int64_t>(bound, INT32_MAX));
}

ErrorCode OpenSslEngine::Sign(const uint8_t* data, size_t length, std::string_view signer,
                              std::vector<uint8_t>& signature) {
  return Guarded([&] {
    auto own = OwnIdentity();
    if (!signer.empty() && signer != own->cert->uid)
      throw EngineError(kForeignSigner, "signer \"" + Cp1251ToUtf8(std::string(signer)) + "\" is not the own UID");
    X509* cert = own->cert->x509.get();
    if (!AllowsUsage(cert, KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION))
      throw EngineError(kCertificateUnusable, own->certPath + ": key usage forbids signing");
    SharedKey key = OwnKey(*own);
    BioPtr in = ReadOnlyBio(data, length);
    constexpr unsigned flags = CMS_DETACHED | CMS_BINARY | CMS_NOSMIMECAP | CMS_PARTIAL;
    CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
    if (!cms) ThrowOpenSsl(kSignFailed, "CMS_sign");
    if (!CMS_add1_signer(cms.get(), cert, key.get(), EVP_sha256(), flags)) ThrowOpenSsl(kSignFailed, "CMS_add1_signer");
    if (CMS_final(cms.get(), in.get(), nullptr, flags) != 1) ThrowOpenSsl(kSignFailed, "CMS_final");
    signature = ToDer(cms.get(), kSignFailed);
  });
}

ErrorCode OpenSslEngine::Verify(const uint8_t* data, size_t length, const uint8_t* sig, size_t sigLength,
                                std::string& signerUid) {
  return Guarded([&] {
    signerUid.clear();
    if (sigLength == 0 || !sig) throw EngineError(kSignatureMissing, "empty signature");
    CmsPtr cms = ParseCms(sig, sigLength, kBadSignatureFormat, "signature");
    if (TypeOf(cms.get()) != NID_pkcs7_signed) throw EngineError(kBadSignatureFormat, "signature: not SignedData");
    if (CMS_is_detached(cms.get()) != 1)
      throw EngineError(kBadSignatureFormat, "signature: the signed data are embedded, not detached");
    if (sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(cms.get())) != 1)
      throw EngineError(kBadSignatureFormat, "signature: exactly one signer expected");
    if (std::string problem = SignedDataProblem(sig, sigLength); !problem.empty())
      throw EngineError(kSignatureInvalid, "signature: " + problem);
    TrustPtr trust = TrustStoreOrThrow();
    SubscribersPtr subscribers = SubscribersOrEmpty(false);

    // Certificates for a signature that carries none: the peers' and the own one.
    std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> known(sk_X509_dup(subscribers->stack.get()),
                                                                     [](STACK_OF(X509)* s) { sk_X509_free(s); });
    if (!known) ThrowOpenSsl(kInternalError, "sk_X509_dup");
    std::shared_ptr<const Own> own;
    try {
      own = OwnIdentity();
      sk_X509_push(known.get(), own->cert->x509.get());
    } catch (const EngineError&) {
      ERR_clear_error();
    }

    // A certificate the signature carries is the one checked: a known copy would hide a
    // modified one.
    CertStackPtr carried(CMS_get1_certs(cms.get()));
    STACK_OF(X509)* lookup = carried && sk_X509_num(carried.get()) > 0 ? nullptr : known.get();

    BioPtr content = ReadOnlyBio(data, length);
    ERR_clear_error();
    if (CMS_verify(cms.get(), lookup, nullptr, content.get(), nullptr, CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) !=
        1) {
      if (LastReason() == CMS_R_SIGNER_CERTIFICATE_NOT_FOUND)
        ThrowOpenSsl(kCertificateUntrusted, "the signer's certificate is neither in the signature nor known");
      ThrowOpenSsl(kSignatureInvalid, "CMS_verify");
    }
    std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> signers(CMS_get0_signers(cms.get()),
                                                                       [](STACK_OF(X509)* s) { sk_X509_free(s); });
    if (!signers || sk_X509_num(signers.get()) != 1) ThrowOpenSsl(kInternalError, "CMS_get0_signers");
    X509* signer = sk_X509_value(signers.get(), 0);
    {
      ASN1_OCTET_STRING* keyId = nullptr;
      X509_NAME* issuer = nullptr;
      ASN1_INTEGER* serial = nullptr;
      CMS_SignerInfo* si = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
      if (CMS_SignerInfo_get0_signer_id(si, &keyId, &issuer, &serial) == 1 && issuer &&
          !SameEncoding(issuer, X509_get_issuer_name(signer)))
        throw EngineError(kSignatureInvalid, "signature: the signer's issuer name was altered");
    }

    const ChainCheck check = CheckChain(*trust, signer, carried.get());
    const ErrorCode code = CheckAt(check, Now());
    if (code != kOk) throw EngineError(code, "signer's certificate: " + (check.detail.empty() ? "validity period" : check.detail));
    if (!AllowsUsage(signer, KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION))
      throw EngineError(kCertificateUnusable, "the signer's key usage forbids signing");
    const std::string uid = UidOf(signer);
    if (uid.empty()) throw EngineError(kCertificateUnusable, "the signer's certificate has no usable common name");

    // Remember the signer so that an answer can be encrypted to it without a subscriber file.
    auto& cache = ModuleCache::Instance();
    auto learned = cache.Learned(trust->file, uid);
    if (!learned || X509_cmp(learned->cert->x509.get(), signer) != 0)
      cache.Learn(trust->file, Peer{MakeCertificate(signer, {}), check});
    signerUid = uid;
  });
}

ErrorCode OpenSslEngine::Encode(const uint8_t* data, size_t length, std::string_view recipient,
                                std::vector<uint8_t>& out) {
  return Guarded([&] {
    std::string uid(recipient);
    if (uid.empty()) uid = Param(kPartnerUid);
    if (uid.empty()) throw EngineError(kNoPartner, "no recipient given and parameter PartnerUID is empty");
    bool isOwn = false;
    const Peer peer = FindPeer(uid, isOwn);
    if (!isOwn) {
      // A missing or broken CA file explains an unusable peer better than the peer's own state.
      TrustStoreOrThrow();
      const ErrorCode code = CheckAt(peer.check, Now());
      if (code != kOk)
        throw EngineError(code, "certificate of \"" + Cp1251ToUtf8(uid) + "\": " +
                                    (peer.check.detail.empty() ? "validity period" : peer.check.detail));
    }
    X509* cert = peer.cert->x509.get();
    EVP_PKEY* pub = X509_get0_pubkey(cert);
    if (!pub) ThrowOpenSsl(kCertificateUnusable, "recipient's public key");
    const bool rsa = EVP_PKEY_is_a(pub, "RSA");
    if (!AllowsUsage(cert, rsa ? KU_KEY_ENCIPHERMENT : KU_KEY_AGREEMENT))
      throw EngineError(kCertificateUnusable, "the recipient's key usage forbids encryption");

    BioPtr in = ReadOnlyBio(data, length);
    CmsPtr cms(CMS_encrypt(nullptr, nullptr, EVP_aes_256_gcm(), CMS_BINARY | CMS_PARTIAL));
    if (!cms) ThrowOpenSsl(kEncryptFailed, "CMS_encrypt");
    CMS_RecipientInfo* ri = CMS_add1_recipient_cert(cms.get(), cert, CMS_BINARY | CMS_KEY_PARAM);
    if (!ri) ThrowOpenSsl(kCertificateUnusable, "CMS_add1_recipient_cert");
    if (rsa) {
      // OAEP: PKCS#1 v1.5 key transport invites padding-oracle attacks on whoever decrypts.
      EVP_PKEY_CTX* pctx = CMS_RecipientInfo_get0_pkey_ctx(ri);
      if (!pctx || EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_OAEP_PADDING) <= 0 ||
          EVP_PKEY_CTX_set_rsa_oaep_md(pctx, EVP_sha256()) <= 0 || EVP_PKEY_CTX_set_rsa_mgf1_md(pctx, EVP_sha256()) <= 0)
        ThrowOpenSsl(kEncryptFailed, "RSA-OAEP parameters");
    }
    if (CMS_final(cms.get(), in.get(), nullptr, CMS_BINARY) != 1) ThrowOpenSsl(kEncryptFailed, "CMS_final");
    std::vector<uint8_t> der = ToDer(cms.get(), kEncryptFailed);
    if (der.size() > length + static_cast<size_t>(kMaxEncodeAddition))
      throw EngineError(kCertificateUnusable, "the recipient's certificate makes the encryption overhead exceed " +
                                                  std::to_string(kMaxEncodeAddition) + " bytes");
    out = std::move(der);
  });
}

ErrorCode OpenSslEngine::Decode(const uint8_t* data, size_t length, std::vector<uint8_t>& out, std::string& sender) {
  return Guarded([&] {
    sender.clear();
    if (!data || length == 0) throw EngineError(kBadEncryptedFormat, "no encrypted data");
    CmsPtr cms = ParseCms(data, length, kBadEncryptedFormat, "encrypted data");
    const int type = TypeOf(cms.get());
    if (type == NID_pkcs7_enveloped)
      throw EngineError(kBadEncryptedFormat, "EnvelopedData is not accepted: only AuthEnvelopedData is integrity-protected");
    if (type != NID_id_smime_ct_authEnvelopedData) throw EngineError(kBadEncryptedFormat, "encrypted data: not AuthEnvelopedData");
    if (std::string problem = AuthEnvelopedProblem(data, length); !problem.empty())
      throw EngineError(kDataCorrupted, "encrypted data: " + problem);
    auto own = OwnIdentity();
    X509* cert = own->cert->x509.get();
    STACK_OF(CMS_RecipientInfo)* ris = CMS_get0_RecipientInfos(cms.get());
    bool forUs = false;
    for (int i = 0; i < sk_CMS_RecipientInfo_num(ris); ++i) {
      CMS_RecipientInfo* ri = sk_CMS_RecipientInfo_value(ris, i);
      if (CMS_RecipientInfo_type(ri) == CMS_RECIPINFO_AGREE) {
        STACK_OF(CMS_RecipientEncryptedKey)* reks = CMS_RecipientInfo_kari_get0_reks(ri);
        for (int k = 0; k < sk_CMS_RecipientEncryptedKey_num(reks); ++k)
          if (CMS_RecipientEncryptedKey_cert_cmp(sk_CMS_RecipientEncryptedKey_value(reks, k), cert) == 0) forUs = true;
        continue;
      }
      if (CMS_RecipientInfo_type(ri) != CMS_RECIPINFO_TRANS || CMS_RecipientInfo_ktri_cert_cmp(ri, cert) != 0) continue;
      forUs = true;
      ASN1_OCTET_STRING* keyId = nullptr;
      X509_NAME* issuer = nullptr;
      ASN1_INTEGER* serial = nullptr;
      if (CMS_RecipientInfo_ktri_get0_signer_id(ri, &keyId, &issuer, &serial) == 1 && issuer &&
          !SameEncoding(issuer, X509_get_issuer_name(cert)))
        throw EngineError(kDataCorrupted, "encrypted data: the recipient's issuer name was altered");
      X509_ALGOR* alg = nullptr;
      CMS_RecipientInfo_ktri_get0_algs(ri, nullptr, nullptr, &alg);
      if (alg && OBJ_obj2nid(alg->algorithm) == NID_rsaEncryption)
        throw EngineError(kBadEncryptedFormat, "RSA PKCS#1 v1.5 key transport is not accepted, only RSA-OAEP");
    }
    if (!forUs) throw EngineError(kNotForThisRecipient, "no recipient entry for the own certificate \"" + Cp1251ToUtf8(own->cert->uid) + "\"");
    SharedKey key = OwnKey(*own);
    out.clear();
    out.reserve(length);  // the plain data are shorter than their encryption
    BioPtr plain = VectorSink(out);
    ERR_clear_error();
    if (CMS_decrypt(cms.get(), key.get(), cert, nullptr, plain.get(), CMS_BINARY) != 1) {
      out.clear();
      ThrowOpenSsl(kDataCorrupted, "CMS_decrypt");
    }
    if (out.size() > length) throw EngineError(kInternalError, "plain data longer than the encrypted");
  });
}

ErrorCode OpenSslEngine::CurrentUserUid(std::string& uid) {
  return Guarded([&] { uid = OwnIdentity()->cert->uid; });
}

ErrorCode OpenSslEngine::EncodeUidBySignUid(std::string_view signUid, std::string& encodeUid) {
  return Guarded([&] {
    // One certificate serves both signing and encryption.
    bool isOwn = false;
    const std::string uid(signUid);
    FindPeer(uid, isOwn);
    encodeUid = uid;
  });
}

ErrorCode OpenSslEngine::Report(const char* uid, std::string& report) {
  return Guarded([&] {
    if (!uid) {
      SubscribersPtr subscribers = SubscribersOrEmpty(false);
      std::string list = "ABONENTSLIST:";
      bool first = true;
      for (const auto& [name, peer] : subscribers->byUid) {
        if (list.size() + name.size() + 2 >= static_cast<size_t>(kMaxReportSize)) {
          Fail("the subscriber list was cut to fit the report size");
          break;
        }
        if (!first) list += "\r\n";
        list += name;
        first = false;
      }
      report = std::move(list);
      return;
    }
    bool isOwn = false;
    const Peer peer = FindPeer(uid, isOwn);
    const ErrorCode state = CheckAt(peer.check, Now());
    std::string text = isOwn ? Utf8ToCp1251("собственный сертификат, ") : std::string();
    text += state == kOk ? Utf8ToCp1251("действителен") : ErrorText(state);
    report = CertificateReport(*peer.cert, text);
    if (report.size() >= static_cast<size_t>(kMaxReportSize)) report.resize(kMaxReportSize - 1);
  });
}

ErrorCode OpenSslEngine::UpdateCertificateCache() {
  return Guarded([&] { SubscribersOrEmpty(true); });
}

void OpenSslEngine::ClearCache() {
  ModuleCache::Instance().Clear();
  std::lock_guard lock(mutex_);
  state_ = State{};
}

}  // namespace engmod10
