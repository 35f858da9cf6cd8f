#include "tunnel/SecureHttp.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/SysUtils.h"
#include "platform/TextCase.h"
#include "protection/ComprObj.h"
#include "protection/STFCode.h"
#include "protection/TextRoutines.h"

namespace vg {
namespace {

struct TRenamedHeader {
  std::string_view plain;
  std::string_view carried;
};

constexpr TRenamedHeader kRenamed[] = {
    {"Content-Length", "Vg-Ocl"},  {"Transfer-Encoding", "Vg-Ote"}, {"Content-Type", "Vg-Oct"},
    {"If-Modified-Since", "Vg-Oims"}, {"If-None-Match", "Vg-Oinm"},
};

const std::string& CompressFailure() { return VGT("Ошибка при сжатии или распаковке данных - %s: %s"); }
const std::string& ProtectFailure() { return VGT("Ошибка при защите данных - %s: %s"); }
const std::string& BadHeader() { return VGT("Неправильный заголовок в HTTP-данных"); }
const std::string& WrongSessionKey() { return VGT("Неправильный ключ сессии"); }

std::string ExceptionText(const std::exception& error) {
  const auto* own = dynamic_cast<const Exception*>(&error);
  return own ? own->Message() : std::string(error.what());
}

void DeleteEvery(THTTPData& message, std::string_view name) {
  while (message.HasHeader(name)) message.DeleteHeader(name);
}

std::string LittleEndian16(size_t value) {
  std::string out(2, '\0');
  out[0] = static_cast<char>(value & 0xFF);
  out[1] = static_cast<char>((value >> 8) & 0xFF);
  return out;
}

size_t ReadLittleEndian16(const char* p) {
  return static_cast<size_t>(static_cast<unsigned char>(p[0])) |
         (static_cast<size_t>(static_cast<unsigned char>(p[1])) << 8);
}

bool IsCleanName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= ' ' || u >= 0x7F || c == ':') return false;
  }
  return true;
}

bool IsCleanValue(std::string_view value) {
  return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string RecordText(const TKeyRecord& record) {
  const TKeyRecordBytes bytes = KeyRecordToBytes(record);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

TKeyRecord RecordFromText(std::string_view text) {
  return KeyRecordFromBytes(reinterpret_cast<const uint8_t*>(text.data()));
}

// Protects a message under a key record in the format of the given protocol version: the
// parameter text (or the bare record for older versions) goes into the "Vg-Krd" token of a
// message without body, or with the body into Protect.
bool ProtectWithKey(TSecureHTTPData& message, const TKeyRecord& key, uint32_t version, const std::string& recipient,
                    bool isRequest) {
  const bool withBlock = version >= kParameterTextVersion;
  std::string text = RecordText(key);
  if (withBlock) text += BuildParameterBlock(message);
  if (!HasBodyBytes(message)) {
    if (!message.ProtectToken(text, recipient)) return false;
    message.SetHeader("Vg-Krd", TSTF1::Encode(text));
    if (isRequest && message.RequestKind() == THTTPData::rkGet) message.SetRequestKind(THTTPData::rkTokenGet);
    return message.Protect(recipient);
  }
  const int32_t before = message.Length();
  if (withBlock) {
    if (!message.AppendParameterText(text)) return false;
  } else if (!message.InsertKeyRecord(KeyRecordToBytes(key))) {
    message.ReportError(BadHeader());
    return false;
  }
  if (message.Protect(recipient)) return true;
  // The caller gets its message back as it handed it over.
  if (withBlock) {
    message.SetLength(before);
  } else {
    TKeyRecordBytes dropped;
    message.TakeKeyRecord(dropped);
  }
  return false;
}

// Unprotects a session-bound message and takes its key record out; the parameter block's headers
// are set on the message.
bool TakeKeyData(TSecureHTTPData& message, uint32_t version, std::string& peer, TKeyRecord& key, bool isAnswer) {
  const std::string& missing =
      isAnswer ? VGT("В ответе отсутствует ключ сессии") : VGT("В запросе отсутствует ключ сессии");
  const bool withBlock = version >= kParameterTextVersion;
  std::string text;
  if (message.HasNoBody()) {
    if (!message.HasHeader("Vg-Krd")) {
      message.ReportError(missing);
      return false;
    }
    text = TSTF1::Decode(message.GetHeader("Vg-Krd"));
    DeleteEvery(message, "Vg-Krd");
    if (!message.UnprotectToken(text, peer)) {
      if (withBlock)
        message.ReportAccessError(WrongSessionKey());
      else
        message.ReportError(WrongSessionKey());
      return false;
    }
    if (!withBlock && text.size() != kKeyRecordSize) {
      message.ReportError(WrongSessionKey());
      return false;
    }
  } else {
    if (!message.Unprotect(peer)) return false;
    if (!withBlock) {
      TKeyRecordBytes bytes;
      if (!message.TakeKeyRecord(bytes)) {
        message.ReportError(missing);
        return false;
      }
      key = KeyRecordFromBytes(bytes.data());
      return true;
    }
    if (!message.TakeParameterText(text)) {
      message.ReportError(VGT("Invalid parameter text"));
      return false;
    }
  }
  if (withBlock) {
    if (text.size() < kKeyRecordSize) {
      message.ReportError(WrongSessionKey());
      return false;
    }
    if (!ApplyParameterBlock(message, std::string_view(text).substr(kKeyRecordSize))) return false;
  }
  key = RecordFromText(text);
  return true;
}

}  // namespace

const std::string& AgentString() {
  static const std::string agent = "QS-Veilgate/1.5";
  return agent;
}

uint32_t AgentVersion(std::string_view agent) {
  const size_t slash = agent.find('/');
  return slash == std::string_view::npos ? 0 : ParseVersion(agent.substr(slash + 1));
}

bool HasBodyBytes(const THTTPData& message) {
  const int32_t header = message.HeaderLength();
  return header > 0 && message.Length() > header;
}

// ---- TSecureHTTPData ----------------------------------------------------------------------------

TSecureHTTPData::TSecureHTTPData() : agent_(AgentString()) {
  engine_.SetOnError([this](const std::string& text) { ReportError(text); });
}

TSecureHTTPData::~TSecureHTTPData() { std::free(body_); }

void TSecureHTTPData::ReportAccessError(const std::string& text) { ReportError(text); }

void TSecureHTTPData::ReportException(const std::string& format, const std::exception& error) {
  ReportError(Format(format, {ExceptionClassName(error), ExceptionText(error)}));
}

// Signs the data and encrypts data plus signature in the body buffer, reserved once with room
// for both; an engine reporting more than its own maxima is an error.
bool TSecureHTTPData::SealBody(std::string_view data, const std::string& recipient, int32_t& signatureLength) {
  const int32_t maxSignature = engine_.MaxSignatureLength();
  if (maxSignature < 1) {
    ReportError(VGT("Неправильное значение максимальной длины подписи"));
    return false;
  }
  const int32_t overhead = engine_.MaxEncodeAddition();
  if (!ReserveBody(static_cast<int64_t>(data.size()) + maxSignature + overhead)) return false;
  std::memcpy(body_, data.data(), data.size());
  bodyLength_ = static_cast<int32_t>(data.size());

  signatureLength = maxSignature;
  if (!engine_.Sign(body_, bodyLength_, body_ + bodyLength_, signatureLength)) return false;
  if (signatureLength < 0 || signatureLength > maxSignature) {
    ReportError(VGT("Ошибка подписи"));
    return false;
  }
  bodyLength_ += signatureLength;
  int32_t encoded = bodyLength_;
  if (!engine_.Encode(body_, encoded, recipient)) return false;
  if (encoded < 0 || encoded > bodyLength_ + overhead) {
    ReportError(VGT("Ошибка шифрования"));
    return false;
  }
  bodyLength_ = encoded;
  return true;
}

bool TSecureHTTPData::ReserveBody(int64_t size) {
  // Room for at least one byte, so that the engine never sees a null buffer.
  size = std::max<int64_t>(size, 1);
  if (size <= bodyCapacity_) return true;
  void* block = size > INT32_MAX ? nullptr : std::realloc(body_, static_cast<size_t>(size));
  if (block == nullptr) {
    ReportError(Format(VGT("Недостаточно памяти для обработки: %s"), {"Out of memory"}));
    return false;
  }
  body_ = static_cast<char*>(block);
  bodyCapacity_ = static_cast<int32_t>(size);
  return true;
}

bool TSecureHTTPData::UseCryptoParams(const TCryptoParams& params) {
  engine_.SetEngineType(std::string());
  engine_.SetParams(params);
  return !params.EngineType().empty() && engine_.EngineType() == params.EngineType();
}

std::string TSecureHTTPData::EngineName() const { return GetHeader("Vg-Pe"); }

int32_t TSecureHTTPData::MaxDecompressedLength() const {
  const int64_t bound = int64_t{std::max<int32_t>(maxDataLength_, 0)} * kDecompressionFactor;
  return static_cast<int32_t>(std::min<int64_t>(bound, kMaxDecompressedLength));
}

bool TSecureHTTPData::Decompress(const char* data, int32_t length, std::string& out) {
  // The size a compressed stream announces is all it can unpack to: refusing it here stops a
  // bomb before anything is allocated, and tells the user why the page did not come.
  if (length >= 8) {
    const auto* p = reinterpret_cast<const unsigned char*>(data) + 4;
    const uint32_t announced = uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
    if (announced > static_cast<uint32_t>(MaxDecompressedLength())) {
      ReportError(VGT("Передаваемый документ превышает максимально допустимый размер"));
      return false;
    }
  }
  try {
    out = DecompressBytes(std::string_view(data, static_cast<size_t>(length)),
                          static_cast<uint64_t>(MaxDecompressedLength()));
    return true;
  } catch (const std::exception& error) {
    ReportException(CompressFailure(), error);
    return false;
  }
}

bool TSecureHTTPData::DecodeAndVerify(int32_t& length, int32_t signatureLength, std::string& sender,
                                      std::string& signer) {
  int32_t decoded = length;
  if (!engine_.Decode(body_, decoded, sender)) return false;
  if (decoded < 0 || decoded > length) {
    ReportError(VGT("Ошибка расшифрования"));
    return false;
  }
  if (decoded < signatureLength) {
    ReportError(VGT("Ошибка авторизации - отсутствует подпись"));
    return false;
  }
  const int32_t signature = std::max<int32_t>(signatureLength, 0);
  const int32_t data = decoded - signature;
  if (!engine_.Verify(body_, data, body_ + data, signature, signer)) return false;
  length = data;
  return true;
}

bool TSecureHTTPData::Protect(const std::string& recipient) {
  if (!HasBodyBytes(*this)) {
    if (HasVersion()) return true;
    ReportError(BadHeader());
    return false;
  }
  const int32_t header = HeaderLength();
  try {
    std::string_view body = View().substr(static_cast<size_t>(header));
    std::string compressed;
    if (compressMode_ != 0) {
      try {
        compressed = CompressBytes(compressMode_, body);
      } catch (const std::exception& error) {
        ReportException(CompressFailure(), error);
        return false;
      }
      body = compressed;
    }
    int32_t signatureLength = 0;
    if (!SealBody(body, recipient, signatureLength)) return false;

    // Every step succeeded: the message takes its protected form.
    if (!SetLength(header)) return false;
    SetHeaderInt("Vg-Psl", signatureLength);
    for (const auto& h : kRenamed) {
      // A plain message must not smuggle in values that the peer would restore as originals.
      DeleteEvery(*this, h.carried);
      RenameHeader(h.plain, h.carried);
    }
    SetHeaderInt("Content-Length", bodyLength_);
    SetHeader("Vg-Pa", agent_);
    SetHeader("Vg-Pe", engine_.EngineType());
    SetHeaderInt("Vg-Cm", compressMode_);
    return Append(std::string_view(body_, static_cast<size_t>(bodyLength_)));
  } catch (const std::exception& error) {
    ReportException(ProtectFailure(), error);
    return false;
  }
}

bool TSecureHTTPData::Unprotect(std::string& signer) {
  if (HasNoBody()) {
    if (HasVersion()) return true;
    ReportError(BadHeader());
    return false;
  }
  const int32_t header = HeaderLength();
  try {
    const int32_t declaredMode = GetHeaderInt("Vg-Cm");
    const bool compressed = declaredMode == 1 || declaredMode == 2;
    const std::string_view body = View().substr(static_cast<size_t>(header));
    if (!ReserveBody(static_cast<int64_t>(body.size()))) return false;
    std::memcpy(body_, body.data(), body.size());
    bodyLength_ = static_cast<int32_t>(body.size());

    std::string sender;
    std::string verified;
    int32_t length = bodyLength_;
    if (!DecodeAndVerify(length, GetHeaderInt("Vg-Psl"), sender, verified)) return false;
    bodyLength_ = length;
    std::string plain;
    if (compressed && !Decompress(body_, length, plain)) return false;
    const std::string_view result = compressed ? std::string_view(plain) : std::string_view(body_, static_cast<size_t>(length));

    if (!SetLength(header)) return false;
    for (std::string_view name : {"Vg-Pa", "Vg-Pe", "Vg-Psl", "Vg-Cm", "Content-Length"}) DeleteEvery(*this, name);
    for (const auto& h : kRenamed) {
      if (!HasHeader(h.carried)) continue;
      DeleteEvery(*this, h.plain);
      RenameHeader(h.carried, h.plain);
    }
    if (!Append(result)) return false;
    if (signer.empty()) signer = verified;
    return true;
  } catch (const std::exception& error) {
    ReportException(ProtectFailure(), error);
    return false;
  }
}

bool TSecureHTTPData::ProtectToken(std::string& text, const std::string& recipient) {
  try {
    std::string data;
    if (compressMode_ != 0 && !text.empty())
      data = CompressBytes(compressMode_, text);
    else
      data = text;
    if (data.empty()) return false;
    int32_t signatureLength = 0;
    if (!SealBody(data, recipient, signatureLength)) return false;
    text.assign(body_, static_cast<size_t>(bodyLength_));
    SetHeaderInt("Vg-Psl", signatureLength);
    SetHeader("Vg-Pa", agent_);
    SetHeader("Vg-Pe", engine_.EngineType());
    SetHeaderInt("Vg-Cm", compressMode_);
    return true;
  } catch (const std::exception& error) {
    ReportException(ProtectFailure(), error);
    return false;
  }
}

bool TSecureHTTPData::UnprotectToken(std::string& text, std::string& peer) {
  try {
    const int32_t declaredMode = GetHeaderInt("Vg-Cm");
    const bool compressed = declaredMode == 1 || declaredMode == 2;
    if (!ReserveBody(static_cast<int64_t>(text.size()))) return false;
    if (!text.empty()) std::memcpy(body_, text.data(), text.size());
    bodyLength_ = static_cast<int32_t>(text.size());
    std::string sender;
    std::string signer;
    int32_t length = bodyLength_;
    if (!DecodeAndVerify(length, GetHeaderInt("Vg-Psl"), sender, signer)) return false;
    bodyLength_ = length;
    std::string plain;
    if (compressed && !Decompress(body_, length, plain)) return false;
    text = compressed ? std::move(plain) : std::string(body_, static_cast<size_t>(length));
    peer = sender.empty() ? signer : sender;
    for (std::string_view name : {"Vg-Pa", "Vg-Pe", "Vg-Psl", "Vg-Cm"}) DeleteEvery(*this, name);
    return true;
  } catch (const std::exception& error) {
    ReportException(ProtectFailure(), error);
    return false;
  }
}

bool TSecureHTTPData::InsertKeyRecord(const TKeyRecordBytes& record) {
  const int32_t header = HeaderLength();
  if (header == 0) return false;
  return Replace(header, 0, std::string_view(reinterpret_cast<const char*>(record.data()), record.size()));
}

bool TSecureHTTPData::TakeKeyRecord(TKeyRecordBytes& record) {
  const int32_t header = HeaderLength();
  if (header == 0 || Length() - header < static_cast<int32_t>(kKeyRecordSize)) return false;
  std::memcpy(record.data(), Data() + header, kKeyRecordSize);
  return Replace(header, static_cast<int32_t>(kKeyRecordSize), {});
}

bool TSecureHTTPData::AppendParameterText(std::string_view text) {
  if (HeaderLength() == 0 || text.size() > kMaxParameterText) return false;
  std::string trailer(text);
  trailer += LittleEndian16(text.size());
  return Append(trailer);
}

bool TSecureHTTPData::TakeParameterText(std::string& text) {
  const int32_t header = HeaderLength();
  if (header == 0) return false;
  const int32_t body = Length() - header;
  if (body < 2) return false;
  const auto declared = static_cast<int32_t>(ReadLittleEndian16(Data() + Length() - 2));
  if (declared > body - 2) return false;
  const int32_t start = Length() - 2 - declared;
  text.assign(Data() + start, static_cast<size_t>(declared));
  return SetLength(start);
}

// ---- Parameter block ----------------------------------------------------------------------------

std::string BuildParameterBlock(const THTTPData& message) {
  constexpr size_t kRoom = kMaxParameterText - kKeyRecordSize - 2;
  std::string lines;
  for (std::string_view name : kParameterHeaders) {
    if (!message.HasHeader(name)) continue;
    const std::string value = message.GetHeader(name);
    if (!IsCleanValue(value)) continue;
    const size_t added = (lines.empty() ? 0 : 2) + name.size() + 1 + value.size();
    if (lines.size() + added > kRoom) continue;
    if (!lines.empty()) lines += "\r\n";
    lines.append(name).append(":").append(value);
  }
  return LittleEndian16(lines.size()) + lines;
}

bool ApplyParameterBlock(TSecureHTTPData& message, std::string_view block) {
  if (block.size() < 2) {
    message.ReportError(VGT("Invalid parameter block"));
    return false;
  }
  const size_t length = ReadLittleEndian16(block.data());
  if (block.size() < length + 2) {
    message.ReportError(VGT("Parameter block too short"));
    return false;
  }
  std::string_view lines = block.substr(2, length);
  std::vector<std::pair<std::string_view, std::string_view>> headers;
  while (!lines.empty()) {
    const size_t end = lines.find("\r\n");
    const std::string_view line = lines.substr(0, end);
    lines = end == std::string_view::npos ? std::string_view() : lines.substr(end + 2);
    if (line.empty()) continue;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || !IsCleanName(line.substr(0, colon)) ||
        !IsCleanValue(line.substr(colon + 1))) {
      message.ReportError(VGT("Invalid parameter block"));
      return false;
    }
    headers.emplace_back(line.substr(0, colon), line.substr(colon + 1));
  }
  for (const auto& [name, value] : headers) message.SetHeader(name, value);
  return true;
}

// ---- The tunnel's side --------------------------------------------------------------------------

bool BuildKeyRequest(const THTTPData& browserRequest, const std::string& host, const TKeyRecord& record,
                     TSecureHTTPData& message) {
  const int32_t header = browserRequest.HeaderLength();
  message.Assign(header > 0 ? browserRequest.View().substr(0, static_cast<size_t>(header)) : browserRequest.View());
  message.SetRequestKind(THTTPData::rkGet);
  message.SetTargetForm(true);
  message.SetHost(host);
  // The key request has no body whatever the browser's request had.
  DeleteEvery(message, "Content-Length");
  DeleteEvery(message, "Transfer-Encoding");
  message.SetHeader("Connection", "keep-alive");
  message.SetHeader("Vg-Hm", "getkey");
  std::string token = RecordText(record);
  bool protectedToken = message.ProtectToken(token, std::string());
  if (!protectedToken) {
    message.ReportError(VGT("Ошибка при установлении сессии"));
    token.clear();
  }
  message.SetHeader("Vg-Krd", TSTF1::Encode(token));
  return message.Protect(std::string()) && protectedToken;
}

bool AcceptKeyAnswer(TSecureHTTPData& answer, TKeyRecord& record, uint32_t& peerVersion, std::string& peer) {
  if (answer.StatusCode() != 200 || !answer.HasHeader("Vg-Krd")) return false;
  std::string token = TSTF1::Decode(answer.GetHeader("Vg-Krd"));
  peerVersion = AgentVersion(answer.GetHeader("Vg-Pa"));
  if (!answer.UnprotectToken(token, peer)) return false;
  if (token.size() != kKeyRecordSize) return false;
  record = RecordFromText(token);
  return true;
}

bool ProtectRequestWithKey(TSecureHTTPData& request, const TKeyRecord& key, uint32_t peerVersion) {
  return ProtectWithKey(request, key, peerVersion, std::string(), true);
}

bool UnprotectAnswerWithKey(TSecureHTTPData& answer, const TKeyRecord& sentKey, uint32_t peerVersion,
                            std::string& peer) {
  TKeyRecord received{};
  if (!TakeKeyData(answer, peerVersion, peer, received, true)) return false;
  if (received != sentKey) {
    answer.ReportError(VGT("Получен неверный ключ сессии"));
    return false;
  }
  return true;
}

namespace {

// True when body is exactly one chunked body: its chunks, the zero-size chunk, trailer lines and
// the empty line that ends it, with nothing after.
bool IsExactChunkedBody(std::string_view body) {
  size_t pos = 0;
  for (;;) {
    const size_t eol = body.find("\r\n", pos);
    if (eol == std::string_view::npos) return false;
    std::string_view line = body.substr(pos, eol - pos);
    line = line.substr(0, line.find(';'));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    if (line.empty() || line.size() > 8) return false;
    uint64_t size = 0;
    for (const char c : line) {
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0) return false;
      size = size * 16 + static_cast<uint64_t>(digit);
    }
    pos = eol + 2;
    if (size == 0) break;
    if (body.size() - pos < size + 2 || body.substr(pos + size, 2) != "\r\n") return false;
    pos += size + 2;
  }
  for (;;) {
    const size_t eol = body.find("\r\n", pos);
    if (eol == std::string_view::npos) return false;
    if (eol == pos) return pos + 2 == body.size();
    pos = eol + 2;
  }
}

}  // namespace

bool FitFramingToBody(TSecureHTTPData& answer, bool headRequest) {
  const int32_t header = answer.HeaderLength();
  if (header == 0) return true;
  const std::string_view body = answer.View().substr(static_cast<size_t>(header));
  const int status = answer.StatusCode();
  const bool bodyless = headRequest || status / 100 == 1 || status == 204 || status == 304;
  if (answer.HasHeader("Transfer-Encoding")) {
    // Only one coding header goes on, and only when the body really is in chunked coding.
    const std::string coding = answer.GetHeader("Transfer-Encoding");
    std::string last =
        platform::LowerCp1251(coding.substr(coding.rfind(',') == std::string::npos ? 0 : coding.rfind(',') + 1));
    last.erase(0, last.find_first_not_of(" \t"));
    last.erase(last.find_last_not_of(" \t") + 1);
    if (last != "chunked" || !((body.empty() && bodyless) || IsExactChunkedBody(body))) {
      answer.ReportError(BadHeader());
      return false;
    }
    DeleteEvery(answer, "Transfer-Encoding");
    DeleteEvery(answer, "Content-Length");
    answer.SetHeader("Transfer-Encoding", coding);
    return true;
  }
  // A length is the body's own; an answer that has none by its kind keeps what it declares.
  if (body.empty() && bodyless) return true;
  const auto length = static_cast<int64_t>(body.size());
  DeleteEvery(answer, "Content-Length");
  answer.SetHeaderInt("Content-Length", length);
  return true;
}

// ---- The gateway's side -------------------------------------------------------------------------

bool AcceptKeyRequest(TSecureHTTPData& request, TKeyRecord& record, std::string& peer) {
  if (request.RequestKind() != THTTPData::rkKeyRequest) return false;
  if (!request.HasHeader("Vg-Krd")) {
    request.ReportError(VGT("В запросе отсутствует ключ сессии"));
    return false;
  }
  std::string token = TSTF1::Decode(request.GetHeader("Vg-Krd"));
  if (!request.UnprotectToken(token, peer)) return false;
  if (token.size() != kKeyRecordSize) {
    request.ReportError(WrongSessionKey());
    return false;
  }
  record = RecordFromText(token);
  return true;
}

bool ProtectKeyAnswer(TSecureHTTPData& answer, const TKeyRecord& issued, const std::string& recipient) {
  std::string token = RecordText(issued);
  if (!answer.ProtectToken(token, recipient)) return false;
  answer.SetHeader("Vg-Krd", TSTF1::Encode(token));
  return answer.Protect(recipient);
}

bool UnprotectRequestWithKey(TSecureHTTPData& request, uint32_t ownVersion, TKeyRecord& key, std::string& peer) {
  if (!TakeKeyData(request, ownVersion, peer, key, false)) return false;
  if (request.RequestKind() == THTTPData::rkTokenGet) request.SetRequestKind(THTTPData::rkGet);
  DeleteEvery(request, "Vg-Hm");
  DeleteEvery(request, "Vg-Krd");
  return true;
}

bool ProtectAnswerWithKey(TSecureHTTPData& answer, const TKeyRecord& key, uint32_t ownVersion,
                          const std::string& recipient) {
  return ProtectWithKey(answer, key, ownVersion, recipient, false);
}

}  // namespace vg
