#include "CmsProfile.h"

#include <cstring>

namespace engmod10 {
namespace {

// DER content octets of the object identifiers in question.
const uint8_t kOidSignedData[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const uint8_t kOidData[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
const uint8_t kOidAuthEnveloped[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x10, 0x01, 0x17};
const uint8_t kOidAes256Gcm[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x2E};
const uint8_t kOidSha256[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
// One signature algorithm per key type, as libcrypto writes them: it maps several more OIDs to
// the same check (sha256WithRSAEncryption, md5WithRSAEncryption, ... all verify as RSA), so any
// other would let the field be changed unnoticed.
const uint8_t kOidRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
const uint8_t kOidRsaPss[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0A};
const uint8_t kOidEcdsaSha256[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03, 0x02};

constexpr uint8_t kInteger = 0x02, kOctetString = 0x04, kNull = 0x05, kOid = 0x06, kSequence = 0x30, kSet = 0x31;
constexpr uint8_t kCtx0 = 0xA0, kCtx1 = 0xA1, kCtx0Primitive = 0x80;

struct Item {
  uint8_t tag = 0;
  const uint8_t* body = nullptr;
  size_t size = 0;
};

// Reads DER items one after the other; refuses what DER does not allow (indefinite or
// non-minimal lengths, multi-byte tags) and anything running past its enclosing item.
class Reader {
 public:
  Reader(const uint8_t* p, size_t n) : p_(p), end_(p + n) {}
  explicit Reader(const Item& item) : Reader(item.body, item.size) {}

  bool AtEnd() const { return p_ == end_; }
  uint8_t PeekTag() const { return AtEnd() ? 0 : *p_; }

  bool Read(Item& item) {
    if (end_ - p_ < 2) return false;
    item.tag = p_[0];
    if ((item.tag & 0x1F) == 0x1F) return false;
    size_t pos = 1;
    size_t len = p_[pos++];
    if (len & 0x80) {
      const size_t count = len & 0x7F;
      if (count == 0 || count > sizeof(size_t) || static_cast<size_t>(end_ - p_) < pos + count) return false;
      if (p_[pos] == 0) return false;
      len = 0;
      for (size_t i = 0; i < count; ++i) len = (len << 8) | p_[pos++];
      if (len < 0x80 || (count > 1 && len < (size_t{1} << (8 * (count - 1))))) return false;
    }
    if (static_cast<size_t>(end_ - p_) - pos < len) return false;
    item.body = p_ + pos;
    item.size = len;
    p_ += pos + len;
    return true;
  }

  bool Expect(uint8_t tag, Item& item) { return PeekTag() == tag && Read(item); }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

template <size_t N>
bool Is(const Item& item, uint8_t tag, const uint8_t (&bytes)[N]) {
  return item.tag == tag && item.size == N && std::memcmp(item.body, bytes, N) == 0;
}

bool IsSmallInteger(const Item& item, uint8_t value) { return item.tag == kInteger && item.size == 1 && item.body[0] == value; }

// AlgorithmIdentifier of SHA-256, with absent or NULL parameters.
bool IsSha256(const Item& alg) {
  if (alg.tag != kSequence) return false;
  Reader r(alg);
  Item oid, params;
  if (!r.Expect(kOid, oid) || !Is(oid, kOid, kOidSha256)) return false;
  if (r.AtEnd()) return true;
  return r.Read(params) && params.tag == kNull && params.size == 0 && r.AtEnd();
}


// The outer ContentInfo of the given type, holding one SEQUENCE and nothing else.
template <size_t N>
std::string Open(const uint8_t* data, size_t length, const uint8_t (&type)[N], Item& inner) {
  Reader whole(data, length);
  Item info, oid, explicit0;
  if (!whole.Expect(kSequence, info) || !whole.AtEnd()) return "not one DER structure";
  Reader r(info);
  if (!r.Expect(kOid, oid) || !Is(oid, kOid, type)) return "unexpected content type";
  if (!r.Expect(kCtx0, explicit0) || !r.AtEnd()) return "malformed content info";
  Reader e(explicit0);
  if (!e.Expect(kSequence, inner) || !e.AtEnd()) return "malformed content";
  return {};
}

}  // namespace

std::string AuthEnvelopedProblem(const uint8_t* data, size_t length) {
  Item aed;
  if (std::string p = Open(data, length, kOidAuthEnveloped, aed); !p.empty()) return p;
  Reader r(aed);
  Item version, ris, eci, item;
  if (!r.Read(version) || !IsSmallInteger(version, 0)) return "AuthEnvelopedData version is not 0";
  if (r.PeekTag() == kCtx0) return "originator information is not accepted";
  if (!r.Expect(kSet, ris)) return "no recipient information";
  Reader each(ris);
  if (each.AtEnd()) return "no recipient information";
  while (!each.AtEnd()) {
    Item ri, v, rid;
    if (!each.Read(ri)) return "malformed recipient information";
    Reader rr(ri);
    if (ri.tag == kSequence) {
      // Key transport: version 0 with issuer and serial number, 2 with a key identifier.
      if (!rr.Read(v) || !rr.Read(rid)) return "malformed key transport recipient";
      if (!(rid.tag == kSequence && IsSmallInteger(v, 0)) && !(rid.tag == kCtx0Primitive && IsSmallInteger(v, 2)))
        return "key transport recipient version does not fit its identifier";
    } else if (ri.tag == kCtx1) {
      if (!rr.Read(v) || !IsSmallInteger(v, 3)) return "key agreement recipient version is not 3";
    } else {
      return "only certificate recipients are accepted";
    }
  }
  if (!r.Expect(kSequence, eci)) return "no encrypted content information";
  {
    Reader e(eci);
    Item type, alg, content;
    if (!e.Expect(kOid, type) || !Is(type, kOid, kOidData)) return "encrypted content type is not data";
    if (!e.Expect(kSequence, alg)) return "no content encryption algorithm";
    Reader a(alg);
    Item oid, params;
    if (!a.Expect(kOid, oid) || !Is(oid, kOid, kOidAes256Gcm)) return "content encryption is not AES-256-GCM";
    if (!a.Expect(kSequence, params) || !a.AtEnd()) return "malformed GCM parameters";
    Reader g(params);
    Item nonce, icvLength;
    if (!g.Expect(kOctetString, nonce) || nonce.size != 12) return "GCM nonce is not 12 bytes";
    if (!g.Read(icvLength) || !IsSmallInteger(icvLength, 16) || !g.AtEnd()) return "GCM tag length is not 16";
    if (!e.AtEnd() && (!e.Expect(kCtx0Primitive, content) || !e.AtEnd())) return "malformed encrypted content";
  }
  if (r.PeekTag() == kCtx1 && !r.Read(item)) return "malformed authenticated attributes";
  if (!r.Expect(kOctetString, item) || item.size != 16) return "authentication tag is not 16 bytes";
  if (!r.AtEnd()) return "unauthenticated attributes are not accepted";
  return {};
}

std::string SignedDataProblem(const uint8_t* data, size_t length) {
  Item sd;
  if (std::string p = Open(data, length, kOidSignedData, sd); !p.empty()) return p;
  Reader r(sd);
  Item version, digests, encap, item, infos;
  if (!r.Read(version) || version.tag != kInteger) return "malformed SignedData version";
  if (!r.Expect(kSet, digests)) return "no digest algorithms";
  {
    Reader d(digests);
    Item alg;
    if (!d.Read(alg) || !IsSha256(alg) || !d.AtEnd()) return "digest algorithm is not SHA-256 alone";
  }
  if (!r.Expect(kSequence, encap)) return "no encapsulated content information";
  {
    Reader e(encap);
    Item type;
    if (!e.Expect(kOid, type) || !Is(type, kOid, kOidData)) return "signed content type is not data";
    if (!e.AtEnd()) return "the signed data are embedded, not detached";
  }
  if (r.PeekTag() == kCtx0 && !r.Read(item)) return "malformed certificates";
  if (r.PeekTag() == kCtx1) return "revocation lists are not accepted";
  if (!r.Expect(kSet, infos) || !r.AtEnd()) return "malformed signer information";
  Reader s(infos);
  Item info;
  if (!s.Expect(kSequence, info) || !s.AtEnd()) return "exactly one signer expected";
  Reader i(info);
  Item siVersion, sid, digest, attrs, sigAlg, sig;
  if (!i.Read(siVersion) || !i.Read(sid)) return "malformed signer information";
  // Version 1 goes with issuer and serial number, 3 with a key identifier, and the SignedData
  // version follows the signer's.
  const bool byName = sid.tag == kSequence && IsSmallInteger(siVersion, 1);
  const bool byKeyId = sid.tag == kCtx0Primitive && IsSmallInteger(siVersion, 3);
  if (!byName && !byKeyId) return "signer version does not fit its identifier";
  if (!IsSmallInteger(version, byName ? 1 : 3)) return "SignedData version does not fit the signer";
  if (!i.Read(digest) || !IsSha256(digest)) return "signer digest algorithm is not SHA-256";
  if (i.PeekTag() == kCtx0 && !i.Read(attrs)) return "malformed signed attributes";
  if (!i.Expect(kSequence, sigAlg)) return "no signature algorithm";
  {
    Reader a(sigAlg);
    Item oid, params;
    if (!a.Expect(kOid, oid)) return "no signature algorithm";
    const bool hasParams = !a.AtEnd();
    if (hasParams && (!a.Read(params) || !a.AtEnd())) return "malformed signature algorithm";
    const bool nullOrNone = !hasParams || (params.tag == kNull && params.size == 0);
    if (Is(oid, kOid, kOidRsaEncryption)) {
      if (!nullOrNone) return "unexpected signature algorithm parameters";
    } else if (Is(oid, kOid, kOidEcdsaSha256)) {
      if (hasParams) return "unexpected signature algorithm parameters";
    } else if (Is(oid, kOid, kOidRsaPss)) {
      if (!hasParams || params.tag != kSequence) return "RSA-PSS without parameters";
    } else {
      return "signature algorithm is not rsaEncryption, RSASSA-PSS or ECDSA with SHA-256";
    }
  }
  if (!i.Expect(kOctetString, sig) || sig.size == 0) return "no signature value";
  if (!i.AtEnd()) return "unsigned attributes are not accepted";
  return {};
}

}  // namespace engmod10
