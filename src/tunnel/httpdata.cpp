#include "tunnel/httpdata.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "platform/SysUtils.h"

namespace vg {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kTerminator = "\r\n\r\n";

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlankOrControl(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlankOrControl(s.back())) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// A decimal number of digits only (with an optional sign when allowed) that fits 32 bits;
// -1 (and ok = false) otherwise.
int64_t Decimal(std::string_view s, bool allowSign, bool& ok) {
  ok = false;
  bool negative = false;
  if (allowSign && !s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return -1;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
    if (v > int64_t{INT32_MAX} + 1) return -1;
  }
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return -1;
  ok = true;
  return v;
}

// A chunk size line: hexadecimal digits between optional spaces, optionally followed by
// extensions after ";" (skipped: nothing here uses them); an empty line is 0.
// Returns -1 for anything else, including sizes that do not fit 31 bits.
int64_t ChunkSize(std::string_view line) {
  line = line.substr(0, line.find(';'));
  while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
  int64_t v = 0;
  for (char c : line) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return -1;
    v = v * 16 + digit;
    if (v > INT32_MAX) return -1;
  }
  return v;
}

// Header names compare without regard to the case of ASCII letters; every other byte has to
// be equal.
bool SameName(const char* p, std::string_view name) {
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char a = static_cast<unsigned char>(p[i]);
    const unsigned char b = static_cast<unsigned char>(name[i]);
    if (a == b) continue;
    const unsigned char lower = a | 0x20;
    if ((a ^ b) != 0x20 || lower < 'a' || lower > 'z') return false;
  }
  return true;
}

bool SameName(std::string_view a, std::string_view b) { return a.size() == b.size() && SameName(a.data(), b); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The characters of a field name, a transfer coding or a chunk extension name.
bool IsTokenChar(char c) {
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool IsToken(std::string_view s) { return !s.empty() && std::all_of(s.begin(), s.end(), IsTokenChar); }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A Content-Length value: decimal digits only, fitting 31 bits; -1 otherwise.
int64_t LengthValue(std::string_view value) {
  if (value.empty()) return -1;
  int64_t v = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
    if (v > INT32_MAX) return -1;
  }
  return v;
}

// The leading hexadecimal digits of a chunk size line; their count goes to digits. -1 when
// they make more than 31 bits.
int64_t LeadingHex(std::string_view line, size_t& digits) {
  int64_t v = 0;
  for (digits = 0; digits < line.size(); ++digits) {
    const int d = HexDigit(line[digits]);
    if (d < 0) break;
    v = v * 16 + d;
    if (v > INT32_MAX) return -1;
  }
  return v;
}

// A quoted string at the start of s (after its opening quote): its length up to and including
// the closing quote, or 0 when it does not close on this line or holds a control character.
size_t QuotedLength(std::string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '"') return i + 1;
    if (c == '\\') {
      if (++i == s.size()) return 0;
      continue;
    }
    if (c < ' ' && c != '\t') return 0;
    if (c == 0x7F) return 0;
  }
  return 0;
}

// A whole chunk size line without its CR LF: hexadecimal digits, then any number of extensions
// of the form ";" name ["=" token or quoted string], blanks allowed around ";" and "=". The size,
// or -1 when the line has another form or the size needs more than 31 bits.
int64_t CheckedChunkSize(std::string_view line) {
  size_t digits = 0;
  const int64_t size = LeadingHex(line, digits);
  if (size < 0 || digits == 0) return -1;
  size_t i = digits;
  const auto skipBlanks = [&] {
    while (i < line.size() && IsBlank(line[i])) ++i;
  };
  const auto token = [&] {
    const size_t from = i;
    while (i < line.size() && IsTokenChar(line[i])) ++i;
    return i > from;
  };
  while (i < line.size()) {
    skipBlanks();
    if (i == line.size() || line[i] != ';') return -1;
    ++i;
    skipBlanks();
    if (!token()) return -1;
    skipBlanks();
    if (i < line.size() && line[i] == '=') {
      ++i;
      skipBlanks();
      if (i < line.size() && line[i] == '"') {
        const size_t quoted = QuotedLength(line.substr(i + 1));
        if (quoted == 0) return -1;
        i += 1 + quoted;
      } else if (!token()) {
        return -1;
      }
    }
  }
  return size;
}

// A field line (of the header block or the trailer) without its CR LF: a name, directly followed
// by a colon, and a value without CR or LF. A line that begins with a blank continues the line
// before it, a form that readers take differently, so it counts as wrong as well.
bool IsFieldLine(std::string_view line, std::string_view& name, std::string_view& value) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  name = line.substr(0, colon);
  value = line.substr(colon + 1);
  if (!IsToken(name)) return false;
  return value.find_first_of("\r\n") == std::string_view::npos;
}

// Transfer codings in the order applied; the last frames the body and has to be chunked, which
// may appear only there and without parameters.
bool CodingsEndInChunked(std::string_view list) {
  bool last = false;
  bool any = false;
  while (!list.empty()) {
    const size_t comma = list.find(',');
    const std::string_view element = TrimBlanks(list.substr(0, comma));
    list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
    if (element.empty()) continue;
    const size_t semicolon = element.find(';');
    const std::string_view name = TrimBlanks(element.substr(0, semicolon));
    if (!IsToken(name) || last) return false;
    last = SameName(name, "chunked");
    if (last && semicolon != std::string_view::npos) return false;
    any = true;
  }
  return any && last;
}

// Where RequestFramingFault stands in a request.
enum CheckPhase : uint8_t { kCheckHeader, kCheckSizeLine, kCheckChunkEnd, kCheckTrailer, kCheckDone };

int32_t ToPos(size_t found) {
  return found == std::string_view::npos ? THTTPData::npos : static_cast<int32_t>(found);
}

bool IsFramingStatus(int32_t status) {
  return (status >= 100 && status <= 199) || status == 204 || status == 304;
}

const char* const kMethods[] = {nullptr, "OPTIONS", "GET", "HEAD", "POST", "PUT", "DELETE", "TRACE", "CONNECT"};

}  // namespace

const std::string& FramingFaultText(TFramingFault fault) {
  static const std::string none;
  switch (fault) {
    case TFramingFault::None: return none;
    case TFramingFault::HeaderLine: return VGT("Неправильная строка заголовка в запросе");
    case TFramingFault::DuplicateHost: return VGT("В запросе несколько заголовков Host");
    case TFramingFault::BadLength: return VGT("Неправильное значение Content-Length в запросе");
    case TFramingFault::ConflictingLengths: return VGT("В запросе заданы разные значения Content-Length");
    case TFramingFault::LengthAndCoding: return VGT("В запросе заданы одновременно Content-Length и Transfer-Encoding");
    case TFramingFault::BadCoding: return VGT("Неправильное значение Transfer-Encoding в запросе");
    case TFramingFault::BadChunk: return VGT("Неправильный размер или конец блока в теле запроса");
  }
  return none;
}

THTTPData::~THTTPData() { std::free(bytes_); }

void THTTPData::ReportError(const std::string&) {}

void* THTTPData::ReallocateStorage(void* block, size_t size) { return std::realloc(block, size); }

bool THTTPData::InsideStorage(const char* p) const {
  return bytes_ != nullptr && !std::less<const char*>()(p, bytes_) && std::less<const char*>()(p, bytes_ + capacity_);
}

void THTTPData::ReportNoMemory() {
  ReportError(Format(VGT("Недостаточно памяти для обработки: %s"), {"Out of memory"}));
}

bool THTTPData::Grow(int64_t n) {
  if (n <= capacity_) return true;
  if (n > INT32_MAX) {
    ReportNoMemory();
    return false;
  }
  void* block = ReallocateStorage(bytes_, static_cast<size_t>(n));
  if (block == nullptr) {
    ReportNoMemory();
    return false;
  }
  bytes_ = static_cast<char*>(block);
  // Fresh storage starts zeroed so that no stale heap bytes can ever travel in a message.
  std::memset(bytes_ + capacity_, 0, static_cast<size_t>(n - capacity_));
  capacity_ = static_cast<int32_t>(n);
  return true;
}

bool THTTPData::SetLength(int32_t n) {
  if (n < 0) return false;
  if (!Grow(n)) return false;
  if (n < memo_.scanHigh) Forget();
  length_ = n;
  return true;
}

char* THTTPData::WritableFrom(int32_t pos) {
  if (pos < 0 || pos > length_ || bytes_ == nullptr) return nullptr;
  if (memo_.scanHigh > pos) Forget();
  return bytes_ + pos;
}

bool THTTPData::Append(std::string_view bytes) {
  if (bytes.empty()) return true;
  if (static_cast<int64_t>(length_) + static_cast<int64_t>(bytes.size()) > INT32_MAX) {
    ReportNoMemory();
    return false;
  }
  std::string own;
  if (InsideStorage(bytes.data())) {
    own.assign(bytes);
    bytes = own;
  }
  // Growing keeps what the completeness checks have learnt about the bytes already there.
  const int32_t old = length_;
  if (!SetLength(old + static_cast<int32_t>(bytes.size()))) return false;
  std::memcpy(bytes_ + old, bytes.data(), bytes.size());
  return true;
}

void THTTPData::Assign(std::string_view text) { Replace(0, length_, text); }

bool THTTPData::Replace(int32_t pos, int32_t count, std::string_view text) {
  pos = std::clamp(pos, 0, length_);
  count = std::clamp(count, 0, length_ - pos);
  const int64_t newLength = static_cast<int64_t>(length_) - count + static_cast<int64_t>(text.size());
  if (newLength > INT32_MAX) {
    ReportNoMemory();
    return false;
  }
  // The text may be a view into this very buffer, which growing can move.
  std::string own;
  if (!text.empty() && InsideStorage(text.data())) {
    own.assign(text);
    text = own;
  }
  if (!Grow(newLength)) return false;
  const int32_t tail = length_ - pos - count;
  const int32_t size = static_cast<int32_t>(text.size());
  if (tail > 0 && size != count) std::memmove(bytes_ + pos + size, bytes_ + pos + count, static_cast<size_t>(tail));
  if (size > 0) std::memcpy(bytes_ + pos, text.data(), text.size());
  length_ = static_cast<int32_t>(newLength);
  Forget();
  return true;
}

std::string THTTPData::Copy(int32_t pos, int32_t count) const {
  if (pos < 0 || count <= 0 || static_cast<int64_t>(pos) + count > length_) return {};
  return std::string(bytes_ + pos, static_cast<size_t>(count));
}

void THTTPData::Insert(std::string_view text, int32_t pos) {
  if (pos < 0 || pos >= length_ - 1 || text.empty()) return;
  Replace(pos, 0, text);
}

int32_t THTTPData::Find(std::string_view pattern, int32_t from) const {
  if (pattern.empty()) return npos;
  if (from < 0) from = 0;
  if (from >= length_) return npos;
  return ToPos(View().find(pattern, static_cast<size_t>(from)));
}

int32_t THTTPData::Terminator() const {
  if (memo_.terminator != npos) return memo_.terminator;
  if (length_ < 4) return npos;
  const int32_t found = ToPos(View().find(kTerminator, static_cast<size_t>(memo_.termNext)));
  if (found != npos) {
    memo_.terminator = found;
    Touch(found + 4);
  } else {
    memo_.termNext = std::max(memo_.termNext, length_ - 3);
    Touch(length_);
  }
  return found;
}

int32_t THTTPData::FindInHeader(std::string_view pattern, int32_t from) const {
  if (pattern.empty()) return npos;
  if (from < 0) from = 0;
  if (from >= length_) return npos;
  // The first CR LF CR LF at or after from limits where a match may begin.
  const int32_t t = Terminator();
  int32_t stop;
  if (t == npos)
    stop = npos;
  else if (from <= t)
    stop = t;
  else
    stop = ToPos(View().find(kTerminator, static_cast<size_t>(from)));
  std::string_view area = View();
  if (stop != npos) area = area.substr(0, std::min(area.size(), static_cast<size_t>(stop) + 3 + pattern.size()));
  return ToPos(area.find(pattern, static_cast<size_t>(from)));
}

int32_t THTTPData::HeaderLength() const {
  const int32_t t = Terminator();
  return t == npos || t == 0 ? 0 : t + 4;
}

int32_t THTTPData::BodyStart() const {
  const int32_t t = Terminator();
  return t != npos && t + 4 < length_ - 1 ? t + 4 : 0;
}

int32_t THTTPData::HeaderMatch(std::string_view name) const {
  // The first CR LF name ":" - the whole match has to lie inside the header block; without a
  // terminator the whole buffer stands in for it. Headers are looked up many times per
  // message, so the search looks for the colon after the name before comparing the name.
  const int32_t t = Terminator();
  std::string_view area = View();
  if (t != npos) area = area.substr(0, static_cast<size_t>(t) + 4);
  const size_t need = name.size() + 3;
  if (area.size() < need) return npos;
  const char* const base = area.data();
  const char* const last = base + (area.size() - need);  // the last place a match can begin
  for (const char* p = base; p <= last; ++p) {
    p = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(last - p) + 1));
    if (p == nullptr) return npos;
    if (p[1] != '\n' || p[2 + name.size()] != ':') continue;
    if (SameName(p + 2, name)) return static_cast<int32_t>(p - base);
  }
  return npos;
}

bool THTTPData::HasHeader(std::string_view name) const { return HeaderMatch(name) != npos; }

std::string THTTPData::GetHeader(std::string_view name) const {
  const int32_t s = HeaderMatch(name);
  if (s == npos) return {};
  const std::string_view all = View();
  const size_t begin = static_cast<size_t>(s) + name.size() + 3;
  size_t end = all.find('\r', begin);
  if (end == std::string_view::npos) end = all.size();
  return std::string(Trim(all.substr(begin, end - begin)));
}

int32_t THTTPData::GetHeaderInt(std::string_view name) const {
  if (!HasHeader(name)) return -1;
  bool ok = false;
  const int64_t v = Decimal(GetHeader(name), true, ok);
  return ok ? static_cast<int32_t>(v) : -1;
}

void THTTPData::SetHeaderInt(std::string_view name, int64_t value) { SetHeader(name, std::to_string(value)); }

void THTTPData::SetHeader(std::string_view name, std::string_view value) {
  const int32_t s = HeaderMatch(name);
  if (s != npos) {
    int32_t begin = s + static_cast<int32_t>(name.size()) + 3;
    if (begin < length_ && bytes_[begin] == ' ') ++begin;
    const std::string_view all = View();
    size_t end = all.find('\r', static_cast<size_t>(begin));
    if (end == std::string_view::npos) end = all.size();
    Replace(begin, static_cast<int32_t>(end) - begin, value);
    return;
  }
  const int32_t t = Terminator();
  if (t == npos) {
    ReportError(VGT("Ошибка при добавлении к HTTP-заголовку"));
    return;
  }
  std::string line;
  line.reserve(name.size() + value.size() + 4);
  line.append(name).append(": ").append(value).append(kCrLf);
  Replace(t + 2, 0, line);
}

void THTTPData::DeleteHeader(std::string_view name) {
  const int32_t s = HeaderMatch(name);
  if (s == npos) return;
  int32_t end = Find(kCrLf, s + 2);
  if (end == npos) end = length_;
  Replace(s, end - s, {});
}

void THTTPData::RenameHeader(std::string_view oldName, std::string_view newName) {
  const int32_t s = HeaderMatch(oldName);
  if (s == npos) return;
  Replace(s + 2, static_cast<int32_t>(oldName.size()), newName);
}

int32_t THTTPData::LineEnd(int32_t from) const {
  const int32_t e = Find(kCrLf, from);
  return e == npos ? length_ : e;
}

int32_t THTTPData::FirstLineEnd() const { return LineEnd(0); }

int32_t THTTPData::FirstSpace() const {
  const int32_t s = ToPos(View().substr(0, static_cast<size_t>(FirstLineEnd())).find(' '));
  return s;
}

bool THTTPData::Target(int32_t& begin, int32_t& end) const {
  const int32_t s = FirstSpace();
  if (s == npos) return false;
  const int32_t lineEnd = FirstLineEnd();
  begin = s + 1;
  const std::string_view line = View().substr(0, static_cast<size_t>(lineEnd));
  end = ToPos(line.find(' ', static_cast<size_t>(begin)));
  if (end == npos) end = lineEnd;
  return true;
}

bool THTTPData::AuthorityEnd(int32_t& authority, int32_t& end, bool& hasPath) const {
  // The authority of an absolute target ends at its path or, when it has none, at the space
  // before the version; it never runs past the first line.
  const std::string_view line = View().substr(0, static_cast<size_t>(FirstLineEnd()));
  if (authority < 0 || static_cast<size_t>(authority) > line.size()) return false;
  end = ToPos(line.find_first_of("/ ", static_cast<size_t>(authority)));
  if (end == npos) return false;
  hasPath = line[static_cast<size_t>(end)] == '/';
  return true;
}

int THTTPData::RequestKind() const {
  const int32_t s = FirstSpace();
  if (s == npos) return rkUnknown;
  const std::string_view method = View().substr(0, static_cast<size_t>(s));
  for (int kind = rkOptions; kind <= rkConnect; ++kind) {
    if (method != kMethods[kind]) continue;
    if (kind == rkGet) {
      const std::string hm = GetHeader("Vg-Hm");
      if (hm == "gbt") return rkTokenGet;
      if (hm == "getkey") return rkKeyRequest;
    }
    return kind;
  }
  return rkUnknown;
}

void THTTPData::SetRequestKind(int kind) {
  if (kind < rkOptions || kind > rkTokenGet || FirstSpace() == npos) return;
  const char* word = kMethods[rkGet];
  if (kind == rkKeyRequest)
    SetHeader("Vg-Hm", "getkey");
  else if (kind == rkTokenGet)
    SetHeader("Vg-Hm", "gbt");
  else
    word = kMethods[kind];
  const int32_t s = FirstSpace();
  if (s != npos) Replace(0, s, word);
}

uint32_t THTTPData::HttpVersion() const {
  const std::string_view line = View().substr(0, static_cast<size_t>(FirstLineEnd()));
  size_t f = 0;
  for (;; ++f) {
    f = line.find("HTTP/", f);
    if (f == std::string_view::npos) return 0;
    if (f == 0 || line[f - 1] == ' ') break;
  }
  const size_t majorStart = f + 5;
  const size_t dot = line.find('.', majorStart);
  if (dot == std::string_view::npos) return 0;
  bool ok = false;
  const int64_t major = Decimal(line.substr(majorStart, dot - majorStart), false, ok);
  if (!ok || major <= 0 || major > 0xFFFF) return 0;
  size_t minorEnd = line.find_first_of(" \r", dot + 1);
  if (minorEnd == std::string_view::npos) minorEnd = line.size();
  int64_t minor = Decimal(line.substr(dot + 1, minorEnd - dot - 1), false, ok);
  if (!ok || minor > 0xFFFF) minor = 0;
  return static_cast<uint32_t>(major) * 65536u + static_cast<uint32_t>(minor);
}

int32_t THTTPData::StatusCode() const {
  const int32_t s1 = FirstSpace();
  if (s1 == npos) return 0;
  const std::string_view line = View().substr(0, static_cast<size_t>(FirstLineEnd()));
  // The reason phrase may be missing, and with it the blank before it.
  size_t s2 = line.find(' ', static_cast<size_t>(s1) + 1);
  if (s2 == std::string_view::npos) s2 = line.size();
  bool ok = false;
  const int64_t v = Decimal(line.substr(static_cast<size_t>(s1) + 1, s2 - static_cast<size_t>(s1) - 1), false, ok);
  return ok ? static_cast<int32_t>(v) : 0;
}

bool THTTPData::IsInformational() const {
  const int32_t status = StatusCode();
  return status >= 100 && status <= 199;
}

bool THTTPData::IsRelativeTarget() const {
  const int32_t s = FirstSpace();
  if (s == npos) return true;
  return View().substr(static_cast<size_t>(s) + 1, 7) != "http://";
}

std::string THTTPData::GetHost() const {
  if (!IsRelativeTarget()) {
    const int32_t slash = FindInHeader("/", 0);
    if (slash == npos || slash + 1 >= length_ || bytes_[slash + 1] != '/') return {};
    int32_t authority = slash + 2;
    int32_t end = 0;
    bool hasPath = false;
    if (!AuthorityEnd(authority, end, hasPath)) return {};
    return Copy(authority, end - authority);
  }
  if (HasHeader("Host")) return GetHeader("Host");
  int32_t begin = 0;
  int32_t end = 0;
  if (!Target(begin, end)) return {};
  std::string_view target = View().substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin));
  return std::string(target.substr(0, target.find('/')));
}

void THTTPData::SetTargetForm(bool relative) {
  const int32_t s = FirstSpace();
  if (s == npos || IsRelativeTarget() == relative) return;
  int32_t begin = 0;
  int32_t end = 0;
  if (!relative) {
    Target(begin, end);
    if (end - begin == 1 && bytes_[begin] == '*' && RequestKind() == rkOptions) Replace(begin, 1, "/");
    Replace(s + 1, 0, "http://" + GetHost());
    return;
  }
  int32_t authority = s + 8;
  bool hasPath = false;
  if (!AuthorityEnd(authority, end, hasPath)) return;
  // Without a path the target becomes "/" rather than losing the text after the host.
  Replace(s + 1, end - (s + 1), hasPath ? std::string_view{} : std::string_view{"/"});
  if (Target(begin, end) && end - begin == 1 && bytes_[begin] == '/' && RequestKind() == rkOptions)
    Replace(begin, 1, "*");
}

void THTTPData::SetHost(std::string_view host) {
  SetHeader("Host", host);
  // Rewriting the target takes the host from the header, so it must be there now.
  if (!IsRelativeTarget() && HasHeader("Host")) {
    SetTargetForm(true);
    SetTargetForm(false);
  }
}

bool THTTPData::IsConnectionClose() const { return Lower(GetHeader("Connection")) == "close"; }

bool THTTPData::IsKeepAlive() const {
  return Lower(GetHeader("Connection")) == "keep-alive" || Lower(GetHeader("Proxy-Connection")) == "keep-alive";
}

void THTTPData::SetConnectionClose() {
  SetHeader(HasHeader("Proxy-Connection") ? "Proxy-Connection" : "Connection", "close");
}

void THTTPData::Framing() const {
  if (memo_.framing || Terminator() == npos) return;
  memo_.hasContentLength = HasHeader("Content-Length");
  memo_.contentLength = memo_.hasContentLength ? GetHeaderInt("Content-Length") : -1;
  memo_.hasTransferEncoding = HasHeader("Transfer-Encoding");
  memo_.chunked = memo_.hasTransferEncoding && Lower(GetHeader("Transfer-Encoding")) != "identity";
  memo_.status = StatusCode();
  memo_.framing = true;
}

void THTTPData::WalkChunks() const {
  Memo& m = memo_;
  if (!m.chunkStarted) {
    m.chunkStarted = true;
    m.chunkState = ChunkState::Walking;
    m.chunkLine = m.chunkPrevLine = m.terminator + 4;
    m.lineNext = m.terminator + 4;
  }
  while (m.chunkState == ChunkState::Walking && m.chunkLine < length_) {
    const int32_t p = static_cast<int32_t>(m.chunkLine);
    const int32_t e = Find(kCrLf, std::max(p, m.lineNext));
    if (e == npos) {
      m.lineNext = std::max(p, length_ - 1);
      Touch(length_);
      return;
    }
    Touch(e + 2);
    const int64_t size = ChunkSize(View().substr(static_cast<size_t>(p), static_cast<size_t>(e - p)));
    if (size < 0) {
      m.chunkState = ChunkState::Invalid;
    } else if (size == 0) {
      m.chunkState = ChunkState::ZeroSize;
      m.zeroLineEnd = e;
    } else {
      m.chunkPrevLine = m.chunkLine;
      m.chunkLine = static_cast<int64_t>(e) + 2 + size + 2;
      m.lineNext = m.chunkLine > INT32_MAX ? INT32_MAX : static_cast<int32_t>(m.chunkLine);
    }
  }
}

int64_t THTTPData::WholeChunksEnd() const {
  if (memo_.chunkState == ChunkState::Walking && memo_.chunkLine > length_) return memo_.chunkPrevLine;
  return memo_.chunkLine;
}

bool THTTPData::EndsWithTerminator() const {
  return length_ >= 4 && std::memcmp(bytes_ + length_ - 4, kTerminator.data(), 4) == 0;
}

int32_t THTTPData::ChunkedEnd() const {
  const int32_t t = Terminator();
  if (!memo_.chunked || t + 4 >= length_) return npos;
  WalkChunks();
  if (memo_.chunkState != ChunkState::ZeroSize) return npos;
  // The size-0 line is followed by trailer lines and an empty line.
  const int32_t e = Find(kTerminator, memo_.zeroLineEnd);
  return e == npos ? npos : e + 4;
}

bool THTTPData::ChunkedComplete() const {
  const int32_t t = Terminator();
  if (!memo_.chunked || t + 4 >= length_ || !EndsWithTerminator()) return false;
  WalkChunks();
  return memo_.chunkState == ChunkState::ZeroSize && memo_.zeroLineEnd <= length_ - 4;
}

bool THTTPData::IsCompleteRequest() const { return RequestEnd() != npos; }

int32_t THTTPData::RequestEnd() const {
  const int32_t t = Terminator();
  if (t == npos) return npos;
  Framing();
  const Memo& m = memo_;
  if (!m.hasContentLength && !m.hasTransferEncoding) return t + 4;
  if (m.hasContentLength && !m.hasTransferEncoding) {
    if (m.contentLength >= 0 && length_ - (t + 4) >= m.contentLength) return t + 4 + m.contentLength;
    return npos;
  }
  return ChunkedEnd();
}

bool THTTPData::IsCompleteResponse() const {
  const int32_t t = Terminator();
  if (t == npos) return false;
  Framing();
  const Memo& m = memo_;
  if (IsFramingStatus(m.status) && t + 4 == length_) return true;
  if (m.hasContentLength && !m.hasTransferEncoding && m.contentLength >= 0 && length_ - (t + 4) >= m.contentLength)
    return true;
  return ChunkedComplete();
}

TFramingFault THTTPData::RequestFramingFault() const {
  const int32_t t = Terminator();
  if (t == npos || t == 0) return TFramingFault::None;
  Memo& m = memo_;
  if (m.checkPhase == kCheckHeader) {
    m.fault = HeaderFramingFault();
    Touch(t + 4);
  }
  if (m.fault == TFramingFault::None && m.checkPhase != kCheckDone) m.fault = ChunkFramingFault();
  return m.fault;
}

int32_t THTTPData::FramedRequestEnd() const {
  if (RequestFramingFault() != TFramingFault::None) return npos;
  const int64_t end = memo_.requestEnd;
  return end >= 0 && end <= length_ ? static_cast<int32_t>(end) : npos;
}

bool THTTPData::IsHttp11RequestLine() const {
  const std::string_view line = View().substr(0, static_cast<size_t>(FirstLineEnd()));
  const size_t first = line.find(' ');
  if (first == 0 || first == std::string_view::npos) return false;
  const size_t second = line.find(' ', first + 1);
  return second != std::string_view::npos && second > first + 1 && line.substr(second + 1) == "HTTP/1.1";
}

TFramingFault THTTPData::HeaderFramingFault() const {
  Memo& m = memo_;
  m.checkPhase = kCheckDone;
  const int32_t t = memo_.terminator;
  const std::string_view block = View().substr(0, static_cast<size_t>(t) + 4);
  // A CR or LF that is not part of a line end leaves readers to guess where lines end.
  for (size_t i = 0; i < block.size(); ++i) {
    if (block[i] == '\r' && block[i + 1] != '\n') return TFramingFault::HeaderLine;
    if (block[i] == '\n' && (i == 0 || block[i - 1] != '\r')) return TFramingFault::HeaderLine;
  }
  size_t at = block.find(kCrLf) + 2;  // past the start line
  int64_t length = -1;
  bool coded = false;
  std::string codings;
  int hosts = 0;
  while (at < static_cast<size_t>(t) + 2) {
    const size_t end = block.find(kCrLf, at);
    std::string_view name;
    std::string_view value;
    if (!IsFieldLine(block.substr(at, end - at), name, value)) return TFramingFault::HeaderLine;
    at = end + 2;
    value = TrimBlanks(value);
    if (SameName(name, "Content-Length")) {
      const int64_t v = LengthValue(value);
      if (v < 0) return TFramingFault::BadLength;
      if (length >= 0 && v != length) return TFramingFault::ConflictingLengths;
      length = v;
    } else if (SameName(name, "Transfer-Encoding")) {
      // Several lines of one field make one list.
      codings.append(value).push_back(',');
      coded = true;
    } else if (SameName(name, "Host") && ++hosts > 1) {
      return TFramingFault::DuplicateHost;
    }
  }
  if (!coded) {
    if (View().substr(0, 8) != "CONNECT ") m.requestEnd = int64_t{t} + 4 + std::max<int64_t>(length, 0);
    return TFramingFault::None;
  }
  if (length >= 0) return TFramingFault::LengthAndCoding;
  // Chunked bodies belong to HTTP/1.1: HTTP/1.0 has no transfer codings, other versions
  // ("HTTP/2.1", "HTTP/1.10") are read as 1.1 by some and refused or read as 1.0 by others, and a
  // line whose version is not its last of three parts loses or hides it when the target is
  // rewritten. Such a request cannot be framed the same way by everyone.
  if (!CodingsEndInChunked(codings) || !IsHttp11RequestLine()) return TFramingFault::BadCoding;
  // What follows a tunnel's request is the tunnel's data, not a body.
  if (View().substr(0, 8) == "CONNECT ") return TFramingFault::None;
  m.checkPhase = kCheckSizeLine;
  m.checkAt = t + 4;
  m.checkNext = t + 4;
  return TFramingFault::None;
}

TFramingFault THTTPData::ChunkFramingFault() const {
  Memo& m = memo_;
  for (;;) {
    if (m.checkPhase == kCheckDone || m.checkAt >= length_) return TFramingFault::None;
    const int32_t p = static_cast<int32_t>(m.checkAt);
    if (m.checkPhase == kCheckChunkEnd) {
      // The chunk's data ends with CR LF; anything else there would be read as the next size line.
      if (bytes_[p] != '\r' || (p + 1 < length_ && bytes_[p + 1] != '\n')) return TFramingFault::BadChunk;
      Touch(std::min(p + 2, length_));
      if (p + 1 >= length_) return TFramingFault::None;
      m.checkPhase = kCheckSizeLine;
      m.checkAt = m.checkNext = p + 2;
      continue;
    }
    const int32_t e = Find(kCrLf, std::max(p, m.checkNext));
    if (e == npos) {
      m.checkNext = std::max(p, length_ - 1);
      Touch(length_);
      if (m.checkPhase != kCheckSizeLine) return TFramingFault::None;
      // A size line still arriving is wrong already when it does not start with a size or its
      // digits overflow; there is no need to wait for its end.
      size_t digits = 0;
      const std::string_view start = View().substr(static_cast<size_t>(p), 16);
      if (LeadingHex(start, digits) < 0 || digits == 0) return TFramingFault::BadChunk;
      const bool fits =
          digits == start.size() || IsBlank(start[digits]) || start[digits] == ';' || start[digits] == '\r';
      return fits ? TFramingFault::None : TFramingFault::BadChunk;
    }
    Touch(e + 2);
    const std::string_view line = View().substr(static_cast<size_t>(p), static_cast<size_t>(e - p));
    m.checkAt = m.checkNext = e + 2;
    if (m.checkPhase == kCheckTrailer) {
      if (line.empty()) {
        m.checkPhase = kCheckDone;
        m.requestEnd = m.checkAt;
        continue;
      }
      std::string_view name;
      std::string_view value;
      if (!IsFieldLine(line, name, value)) return TFramingFault::HeaderLine;
      continue;
    }
    const int64_t size = CheckedChunkSize(line);
    if (size < 0) return TFramingFault::BadChunk;
    if (size == 0) {
      m.checkPhase = kCheckTrailer;
    } else {
      m.checkPhase = kCheckChunkEnd;
      m.checkAt = static_cast<int64_t>(e) + 2 + size;
    }
  }
}

void THTTPData::NormalizeHeaderLineEnds() {
  Memo& m = memo_;
  if (m.lineEndsKnown) return;
  int32_t q = m.lfNext;
  for (;; ++q) {
    const void* lf = q < length_ ? std::memchr(bytes_ + q, '\n', static_cast<size_t>(length_ - q)) : nullptr;
    if (lf == nullptr) {
      m.lfNext = length_;
      Touch(length_);
      return;
    }
    q = static_cast<int32_t>(static_cast<const char*>(lf) - bytes_);
    // Whether this LF ends an empty line shows only with the bytes after it.
    if (q + 1 >= length_ || (bytes_[q + 1] == '\r' && q + 2 >= length_)) {
      m.lfNext = q;
      Touch(length_);
      return;
    }
    if (q == 0 || bytes_[q - 1] != '\r') m.bareLf = true;
    int32_t end = 0;
    if (bytes_[q + 1] == '\n') {
      m.bareLf = true;
      end = q + 2;
    } else if (bytes_[q + 1] == '\r' && bytes_[q + 2] == '\n') {
      end = q + 3;
    }
    if (end == 0) continue;
    m.lineEndsKnown = true;
    Touch(end);
    if (!m.bareLf) return;
    std::string block;
    block.reserve(static_cast<size_t>(end) + 64);
    for (int32_t i = 0; i < end; ++i) {
      if (bytes_[i] == '\n' && (i == 0 || bytes_[i - 1] != '\r')) block.push_back('\r');
      block.push_back(bytes_[i]);
    }
    if (Replace(0, end, block)) {
      memo_.lineEndsKnown = true;
      Touch(static_cast<int32_t>(block.size()));
    }
    return;
  }
}

bool THTTPData::TakePartialBody(std::string& out) {
  out.clear();
  if (HasNoBody()) return false;
  const int32_t t = Terminator();
  Framing();
  if (IsFramingStatus(memo_.status) && t + 4 == length_) return false;
  return TakeContentLength(out) || TakeChunked(out) || TakeUntilClose(out);
}

bool THTTPData::TakeContentLength(std::string& out) {
  if (!memo_.hasContentLength || memo_.hasTransferEncoding) return false;
  const int32_t bodyStart = memo_.terminator + 4;
  const int32_t received = length_ - bodyStart;
  const int32_t declared = memo_.contentLength;
  if (received >= declared) return false;
  out.assign(bytes_ + bodyStart, static_cast<size_t>(received));
  SetLength(bodyStart);
  SetHeaderInt("Content-Length", static_cast<int64_t>(declared) - received);
  return true;
}

bool THTTPData::TakeChunked(std::string& out) {
  const int32_t bodyStart = memo_.terminator + 4;
  if (!memo_.chunked || bodyStart >= length_) return false;
  WalkChunks();
  if (memo_.chunkState == ChunkState::ZeroSize) return false;
  const int64_t end = WholeChunksEnd();
  if (end <= bodyStart) return false;
  out.assign(bytes_ + bodyStart, static_cast<size_t>(end - bodyStart));
  Replace(bodyStart, static_cast<int32_t>(end - bodyStart), {});
  return true;
}

bool THTTPData::TakeUntilClose(std::string& out) {
  if (memo_.hasContentLength || memo_.hasTransferEncoding) return false;
  const int32_t bodyStart = memo_.terminator + 4;
  out.assign(bytes_ + bodyStart, static_cast<size_t>(length_ - bodyStart));
  SetLength(bodyStart);
  return true;
}

}  // namespace vg
