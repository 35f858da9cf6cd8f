#pragma once
// The protected form of an HTTP message exchanged between the tunnel and a protecting gateway.
//
// A protected message keeps a readable header block; its body is
//   encrypt(compress(body) + signature)
// and the protocol's own facts travel in "Vg-" headers: "Vg-Psl" (signature length), "Vg-Pa"
// (agent), "Vg-Pe" (engine type), "Vg-Cm" (compress mode), and the renamed originals "Vg-Ocl",
// "Vg-Ote", "Vg-Oct", "Vg-Oims", "Vg-Oinm" of "Content-Length", "Transfer-Encoding",
// "Content-Type", "If-Modified-Since", "If-None-Match". Short values ("tokens", such as the
// session key record of a message without body) are protected the same way, scrambled with TSTF1
// and carried in "Vg-Krd".
//
// Every session-bound message carries the 32-byte key record. For peers of protocol 1.5 and later
// it travels in the parameter text: the record, then the parameter block (16-bit little-endian
// length L, then L bytes of "Name:value" lines joined by CR LF for "Cookies", "RTS-Request" and
// "Set-Cookie"). A message with body carries the parameter text at the end of its body followed by
// its 16-bit little-endian length; for older peers the bare record goes in front of the body.
//
// Everything that comes from the wire is checked before it is used: lengths that point outside
// the data are reported failures, and a decompressed body is bounded by MaxDecompressedLength().
// Failures go through ReportError (the access-type failure of a token check through
// ReportAccessError) and end the operation with false; on failure the message keeps the body it
// had before the call.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protection/ConKey.h"
#include "protection/fcrypt.h"
#include "tunnel/httpdata.h"

namespace vg {

// "QS-Veilgate/1.5"
const std::string& AgentString();
// The protocol version of an agent text: what follows its first "/", as a version number; 0
// without "/".
uint32_t AgentVersion(std::string_view agent);

// The first protocol version whose messages carry the parameter text.
constexpr uint32_t kParameterTextVersion = 65541;
// The default bound of a message.
constexpr int32_t kDefaultMaxDataLength = 2097152;
// A protected body may unpack to this many times the message bound (32 MiB by default): well
// above what compression of a real page gives within the bound on the wire, yet a bomb of a few
// kilobytes cannot make either side allocate more.
constexpr int32_t kDecompressionFactor = 16;
constexpr int32_t kMaxDecompressedLength = 1 << 30;
// Both lengths of the parameter text are 16 bits wide.
constexpr size_t kMaxParameterText = 65535;
constexpr size_t kKeyRecordSize = 32;

// The headers the parameter block carries, in their order.
inline constexpr std::string_view kParameterHeaders[] = {"Cookies", "RTS-Request", "Set-Cookie"};

class TSecureHTTPData : public THTTPData {
 public:
  TSecureHTTPData();
  ~TSecureHTTPData() override;

  TCryptoEngine& Engine() { return engine_; }
  uint8_t CompressMode() const { return compressMode_; }
  void SetCompressMode(uint8_t mode) { compressMode_ = mode; }
  // The bound of the message on the wire.
  int32_t MaxDataLength() const { return maxDataLength_; }
  void SetMaxDataLength(int32_t limit) { maxDataLength_ = limit; }
  // What a protected body or token may decompress to at most: kDecompressionFactor times
  // MaxDataLength(), never more than kMaxDecompressedLength. A body announcing more is refused
  // with the text that a document exceeds the permitted size.
  int32_t MaxDecompressedLength() const;
  // The value this side puts into "Vg-Pa"; AgentString() unless a gateway announces another.
  const std::string& Agent() const { return agent_; }
  void SetAgent(std::string agent) { agent_ = std::move(agent); }
  // The body buffer's storage; it grows to what is asked and never shrinks.
  int32_t BodyCapacity() const { return bodyCapacity_; }

  // Reopens the engine with the parameters; true when the engine now is of their (non-empty) type.
  bool UseCryptoParams(const TCryptoParams& params);
  // "Vg-Pe" of the message.
  std::string EngineName() const;

  // Protects the whole message in place for the recipient (empty: the engine's partner). A
  // message without body bytes is left alone; the result is then HasVersion().
  bool Protect(const std::string& recipient = {});
  // Reverses Protect; signer receives the verified identity when it was empty. A message without
  // body (the buffer's body-start rule) is left alone; the result is then HasVersion().
  bool Unprotect(std::string& signer);
  // Protects a short non-empty byte string and sets "Vg-Psl", "Vg-Pa", "Vg-Pe", "Vg-Cm".
  bool ProtectToken(std::string& text, const std::string& recipient = {});
  // Reverses ProtectToken and removes those headers; peer receives the sender's identity (the
  // signer's when the engine names no sender).
  bool UnprotectToken(std::string& text, std::string& peer);

  // The 32 bytes right after the header block / the first 32 body bytes taken out.
  bool InsertKeyRecord(const TKeyRecordBytes& record);
  bool TakeKeyRecord(TKeyRecordBytes& record);
  // Appends text and its 16-bit little-endian length to the body / takes them off the end.
  bool AppendParameterText(std::string_view text);
  bool TakeParameterText(std::string& text);

  using THTTPData::HeaderLength;

  // The report of a session key that does not check out; the relay answers it with its access
  // status. Goes to ReportError unless overridden.
  virtual void ReportAccessError(const std::string& text);

 private:
  bool ReserveBody(int64_t size);
  bool SealBody(std::string_view data, const std::string& recipient, int32_t& signatureLength);
  void ReportException(const std::string& format, const std::exception& error);
  bool Decompress(const char* data, int32_t length, std::string& out);
  // Runs decryption and the signature check on bytes in the body buffer; length is updated to
  // the signed data's length. signer / sender receive the engine's identities.
  bool DecodeAndVerify(int32_t& length, int32_t signatureLength, std::string& sender, std::string& signer);

  TCryptoEngine engine_;
  char* body_ = nullptr;
  int32_t bodyLength_ = 0;
  int32_t bodyCapacity_ = 0;
  uint8_t compressMode_ = 0;
  int32_t maxDataLength_ = kDefaultMaxDataLength;
  std::string agent_;
};

// True when bytes follow the header block. A one-byte body is such a body here: it is protected
// like any other rather than sent in the clear.
bool HasBodyBytes(const THTTPData& message);

// The parameter block of a message: one "Name:value" line for each of kParameterHeaders the
// message carries. A line that would take the parameter text to 64 KiB or more is left out (the
// header itself stays in the message, only unprotected by the block).
std::string BuildParameterBlock(const THTTPData& message);
// Sets the headers of a received parameter block (its 16-bit length and lines) on the message.
// Reports "Invalid parameter block" or "Parameter block too short" and gives false for a block
// that lies about its length or carries a line that is not a clean header line.
bool ApplyParameterBlock(TSecureHTTPData& message, std::string_view block);

// ---- The tunnel's side --------------------------------------------------------------------------

// Fills message (which already has the server's compress mode and crypto parameters) with the
// key request built from the browser's request: its header block as GET with a relative target,
// "Host" = host, "Connection: keep-alive", "Vg-Hm: getkey" and the record as the "Vg-Krd" token.
// The browser request's framing headers are dropped: the key request has no body. The relay
// prepares it like any request afterwards.
bool BuildKeyRequest(const THTTPData& browserRequest, const std::string& host, const TKeyRecord& record,
                     TSecureHTTPData& message);
// Checks a key answer: status 200 with a "Vg-Krd" token that unprotects to exactly 32 bytes.
// peerVersion comes from the answer's "Vg-Pa". Nothing is reported for a wrong status, a missing
// token or a wrong length; the caller reports that the session could not be set up.
bool AcceptKeyAnswer(TSecureHTTPData& answer, TKeyRecord& record, uint32_t& peerVersion, std::string& peer);
// Protects a request under the session key in the format of the peer's version.
bool ProtectRequestWithKey(TSecureHTTPData& request, const TKeyRecord& key, uint32_t peerVersion);
// Checks and unprotects an answer to a request sent with sentKey; applies its parameter block.
bool UnprotectAnswerWithKey(TSecureHTTPData& answer, const TKeyRecord& sentKey, uint32_t peerVersion,
                            std::string& peer);
// The framing restored from "Vg-Ocl" and "Vg-Ote" travels outside the signed body: after
// unprotecting, "Content-Length" is set to the body's real length, and a transfer coding is kept
// only when the body really is in chunked coding (else reported, false). Answers without a body
// by their kind (to HEAD, 1xx, 204, 304) keep a declared length.
bool FitFramingToBody(TSecureHTTPData& answer, bool headRequest);

// ---- The gateway's side -------------------------------------------------------------------------

// Checks a key request ("Vg-Hm: getkey" with a "Vg-Krd" token of exactly 32 bytes).
bool AcceptKeyRequest(TSecureHTTPData& request, TKeyRecord& record, std::string& peer);
// Puts the issued record into answer as its "Vg-Krd" token, protected for the recipient.
bool ProtectKeyAnswer(TSecureHTTPData& answer, const TKeyRecord& issued, const std::string& recipient);
// Unprotects a request sent to a gateway of version ownVersion and gives the key record it
// carried; a token GET becomes a plain GET again and "Vg-Krd" and "Vg-Hm" are removed.
bool UnprotectRequestWithKey(TSecureHTTPData& request, uint32_t ownVersion, TKeyRecord& key, std::string& peer);
// Protects an answer under the request's key record, for the recipient.
bool ProtectAnswerWithKey(TSecureHTTPData& answer, const TKeyRecord& key, uint32_t ownVersion,
                          const std::string& recipient);

}  // namespace vg
