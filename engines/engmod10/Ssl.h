#pragma once
// Owning handles for the libcrypto objects the engine uses.
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>

namespace engmod10 {

struct SslFree {
  void operator()(BIO* p) const { BIO_free(p); }
  void operator()(CMS_ContentInfo* p) const { CMS_ContentInfo_free(p); }
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(X509_STORE* p) const { X509_STORE_free(p); }
  void operator()(X509_STORE_CTX* p) const { X509_STORE_CTX_free(p); }
  void operator()(STACK_OF(X509) * p) const { sk_X509_pop_free(p, X509_free); }
};

using BioPtr = std::unique_ptr<BIO, SslFree>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, SslFree>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, SslFree>;
// A stack that owns one reference of every certificate in it.
using CertStackPtr = std::unique_ptr<STACK_OF(X509), SslFree>;

// Shared, read-only after creation: libcrypto keeps these safe for concurrent use.
using SharedX509 = std::shared_ptr<X509>;
using SharedKey = std::shared_ptr<EVP_PKEY>;
using SharedStore = std::shared_ptr<X509_STORE>;

inline SharedX509 ShareX509(X509* owned) { return SharedX509(owned, SslFree{}); }
inline SharedKey ShareKey(EVP_PKEY* owned) { return SharedKey(owned, SslFree{}); }

}  // namespace engmod10
