// Arbitrary bytes as an HTTP message: every query and edit must stay inside the buffer, and the
// remembered completeness facts must always give what a fresh look at the same bytes gives.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "tunnel/httpdata.h"

using vg::THTTPData;

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

// A small deterministic generator seeded by the input, for piece sizes and positions.
struct Rng {
  uint32_t state;
  uint32_t Next() {
    state = state * 1103515245u + 12345u;
    return state >> 8;
  }
};

void SameAsFresh(const THTTPData& m) {
  THTTPData fresh;
  fresh.Assign(m.View());
  Check(m.Length() <= m.Capacity(), "length within capacity");
  Check(m.IsCompleteRequest() == fresh.IsCompleteRequest(), "request completeness");
  Check(m.IsCompleteResponse() == fresh.IsCompleteResponse(), "response completeness");
  Check(m.HeaderLength() == fresh.HeaderLength() && m.BodyStart() == fresh.BodyStart(), "header length");
  Check(m.GetHeaderInt("Content-Length") == fresh.GetHeaderInt("Content-Length"), "content length");
  Check(m.RequestFramingFault() == fresh.RequestFramingFault(), "request framing");
}

bool Nice(std::string_view s, bool name) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x21 || c == 0x7f || (name && c == ':')) return false;
  return true;
}

void Queries(const THTTPData& m, std::string_view probe, Rng& rng) {
  const int32_t length = m.Length();
  const int32_t from = length > 0 ? static_cast<int32_t>(rng.Next() % static_cast<uint32_t>(length + 2)) - 1 : 0;
  const int32_t found = m.Find(probe, from);
  Check(found == THTTPData::npos || (found >= std::max(from, 0) && m.Copy(found, static_cast<int32_t>(probe.size())) == probe),
        "find result");
  const int32_t inHeader = m.FindInHeader(probe, from);
  Check(inHeader == THTTPData::npos || inHeader == found, "header find is the first match or none");
  for (const char* pattern : {"\r\n", " ", "/", ":"}) {
    const int32_t f = m.FindInHeader(pattern, from);
    Check(f == THTTPData::npos || f == m.Find(pattern, from), "header find of a fixed pattern");
  }
  const int32_t t = m.Find("\r\n\r\n");
  Check(m.HeaderLength() == (t <= 0 ? 0 : t + 4), "header length rule");
  Check(m.BodyStart() == (t >= 0 && t + 4 < length - 1 ? t + 4 : 0), "body start rule");
  for (std::string_view name : {std::string_view("Host"), std::string_view("Content-Length"),
                                std::string_view("Transfer-Encoding"), std::string_view("Vg-Hm"), probe}) {
    const bool has = m.HasHeader(name);
    const std::string value = m.GetHeader(name);
    Check(has || value.empty(), "absent header has no value");
    Check(has || m.GetHeaderInt(name) == -1, "absent header is no number");
    Check(value.find('\r') == std::string::npos, "value stops at CR");
  }
  const int kind = m.RequestKind();
  Check(kind >= THTTPData::rkUnknown && kind <= THTTPData::rkTokenGet, "kind range");
  const uint32_t version = m.HttpVersion();
  Check(version == 0 || (version >> 16) >= 1, "version major");
  Check(m.HasVersion() == (version > 0), "has version");
  const int32_t status = m.StatusCode();
  Check(status >= 0, "status not negative");
  Check(m.IsInformational() == (status >= 100 && status <= 199), "informational");
  (void)m.IsRelativeTarget();
  const std::string host = m.GetHost();
  Check(host.find("\r\n") == std::string::npos, "host from one line");
  (void)m.IsConnectionClose();
  (void)m.IsKeepAlive();
  const int32_t pos = static_cast<int32_t>(rng.Next() % static_cast<uint32_t>(length + 3)) - 1;
  const int32_t count = static_cast<int32_t>(rng.Next() % 64);
  const std::string copy = m.Copy(pos, count);
  Check(copy.empty() || (pos >= 0 && pos + count <= length && copy.size() == static_cast<size_t>(count)), "copy bounds");
}

// The body bytes handed over plus what stays must be the body as it was.
void TakeAndCheck(THTTPData& m) {
  const std::string before = m.AsString();
  std::string out;
  const bool took = m.TakePartialBody(out);
  const std::string after = m.AsString();
  if (!took) {
    Check(out.empty() && after == before, "failed hand-over changes nothing");
    return;
  }
  Check(!out.empty(), "hand-over takes bytes");
  const size_t tb = before.find("\r\n\r\n") + 4;
  const size_t ta = after.find("\r\n\r\n") + 4;
  Check(before.compare(tb, std::string::npos, out + after.substr(ta)) == 0, "hand-over loses nothing");
}

void Edit(THTTPData& m, int which, std::string_view name, std::string_view value, Rng& rng) {
  const int32_t length = m.Length();
  switch (which) {
    case 0: {
      const bool hadTerminator = m.Find("\r\n\r\n") != THTTPData::npos;
      const bool had = m.HasHeader(name);
      const std::string before = m.AsString();
      m.SetHeader(name, value);
      if (!hadTerminator && !had) Check(m.AsString() == before, "no terminator, no new header");
      if ((hadTerminator || had) && Nice(name, true) && Nice(value, false))
        Check(m.GetHeader(name) == value, "set header reads back");
      break;
    }
    case 1:
      m.SetHeaderInt("Content-Length", static_cast<int64_t>(rng.Next()) - 1000);
      break;
    case 2: {
      const int32_t before = m.Length();
      m.DeleteHeader(name);
      Check(m.Length() <= before, "delete never grows");
      break;
    }
    case 3: {
      const bool had = m.HasHeader(name);
      m.RenameHeader(name, value);
      if (had && Nice(value, true)) Check(m.HasHeader(value), "renamed header present");
      break;
    }
    case 4:
      m.SetRequestKind(static_cast<int>(rng.Next() % 12) - 1);
      break;
    case 5:
      m.SetTargetForm(rng.Next() % 2 == 0);
      break;
    case 6:
      m.SetHost(value);
      break;
    case 7:
      m.SetConnectionClose();
      break;
    case 8:
      m.Insert(value, static_cast<int32_t>(rng.Next() % static_cast<uint32_t>(length + 2)) - 1);
      break;
    case 9: {
      const int32_t n = static_cast<int32_t>(rng.Next() % static_cast<uint32_t>(length + 64));
      const int32_t capacity = m.Capacity();
      Check(m.SetLength(n), "set length");
      Check(m.Length() == n && m.Capacity() == std::max(capacity, n), "capacity grows exactly");
      break;
    }
    case 10:
      TakeAndCheck(m);
      break;
    default:
      m.Assign(m.View().substr(0, static_cast<size_t>(length / 2)));
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Rng rng{static_cast<uint32_t>(size) * 2654435761u + (size ? data[size - 1] : 0)};

  // A probe and a header name taken from the input itself, so that mutations reach them.
  const size_t lineEnd = text.find("\r\n");
  const size_t colon = lineEnd == std::string_view::npos ? std::string_view::npos : text.find(':', lineEnd);
  const std::string_view name =
      colon == std::string_view::npos ? std::string_view("X") : text.substr(lineEnd + 2, std::min<size_t>(colon - lineEnd - 2, 40));
  const std::string_view value = size > 8 ? text.substr(size - 8) : text;
  const std::string_view probe = text.substr(size / 3, std::min<size_t>(size / 7 + 1, 12));

  // Arriving piece by piece, checked after each piece, sometimes streamed out as it comes.
  {
    THTTPData m;
    // The same bytes with their header block's line ends made CR LF as they arrive.
    THTTPData lineEnds;
    const bool stream = size % 3 == 0;
    const uint32_t maxPiece = static_cast<uint32_t>(std::max<size_t>(8, size / 32));
    size_t at = 0;
    while (at < size) {
      const size_t piece = std::min<size_t>(size - at, 1 + rng.Next() % maxPiece);
      if (rng.Next() % 2) {
        m.Append(text.substr(at, piece));
      } else {
        const int32_t old = m.Length();
        Check(m.SetLength(old + static_cast<int32_t>(piece) + static_cast<int32_t>(rng.Next() % 32)), "grow");
        std::memcpy(m.WritableFrom(old), data + at, piece);
        Check(m.SetLength(old + static_cast<int32_t>(piece)), "cut");
      }
      lineEnds.Append(text.substr(at, piece));
      lineEnds.NormalizeHeaderLineEnds();
      at += piece;
      SameAsFresh(m);
      if (stream) {
        THTTPData fresh;
        fresh.Assign(m.View());
        std::string a, b;
        Check(m.TakePartialBody(a) == fresh.TakePartialBody(b) && a == b && m.View() == fresh.View(),
              "hand-over as a fresh look");
        SameAsFresh(m);
      }
    }
    THTTPData fresh;
    fresh.Assign(text);
    fresh.NormalizeHeaderLineEnds();
    Check(lineEnds.View() == fresh.View(), "line ends as a fresh look");
    const int32_t t = fresh.Find("\r\n\r\n");
    const std::string_view block = fresh.View().substr(0, t < 0 ? 0 : static_cast<size_t>(t));
    for (size_t i = 0; i < block.size(); ++i)
      Check(block[i] != '\n' || (i > 0 && block[i - 1] == '\r') || fresh.View() == text, "no bare LF left");
  }

  THTTPData whole;
  whole.Assign(text);
  Queries(whole, probe, rng);

  // Every edit on its own copy, then more bytes arriving after it.
  for (int which = 0; which < 12; ++which) {
    THTTPData m;
    m.Assign(text);
    m.IsCompleteResponse();
    Edit(m, which, name, value, rng);
    SameAsFresh(m);
    Queries(m, probe, rng);
    m.Append(text.substr(0, rng.Next() % (size + 1)));
    SameAsFresh(m);
  }
  // And a chain of edits on one message.
  THTTPData chain;
  chain.Assign(text);
  for (int i = 0; i < 8; ++i) {
    Edit(chain, static_cast<int>(rng.Next() % 12), name, value, rng);
    SameAsFresh(chain);
  }
  return 0;
}
