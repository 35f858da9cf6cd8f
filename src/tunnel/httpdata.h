#pragma once
// One HTTP message held as the raw bytes that travel on the wire and edited in place.
//
// Positions are 0-based byte offsets of type int32_t; THTTPData::npos (-1) means "not found".
// Terms used throughout:
//   terminator   - the first CR LF CR LF of the buffer, at position t;
//   header block - bytes 0 .. t+3 (start line, header lines, terminator);
//   header length - t+4, reported as 0 without a terminator and when t is 0;
//   body start   - t+4, reported only when at least two bytes follow the terminator, else 0
//                  (a one-byte body counts as no body; the gateway's protection layer agrees).
// A header named N is the text CR LF N ":" lying inside the header block; names are matched
// without regard to the case of letters, and edits keep the spelling the message has. Without a
// terminator the whole buffer stands in for the header block.
//
// Queries scan the bytes again, except that the facts the completeness checks need (where the
// terminator search stopped, the framing headers, how far the chunk walk got) are remembered
// between calls, so that checking after every appended piece costs linear work in total. The
// remembered facts are dropped by every edit; appending never disturbs them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vg {

// What is wrong with a request's framing. A request whose end two parties could find in
// different places can carry a second request hidden inside it, so an intermediary refuses it
// (with 400) rather than pass it on.
enum class TFramingFault : uint8_t {
  None,
  HeaderLine,          // bare CR or LF, a folded line, a line without a field name and colon
  DuplicateHost,       // more than one Host line
  BadLength,           // Content-Length that is not one decimal number of 31 bits
  ConflictingLengths,  // Content-Length lines with different values
  LengthAndCoding,     // Content-Length together with Transfer-Encoding
  BadCoding,           // Transfer-Encoding not ending in exactly one chunked, or in a request not "… … HTTP/1.1"
  BadChunk,            // a chunk size line that is not a size of 31 bits, or chunk data not ending in CR LF
};

// The text the relay shows and logs for a framing fault.
const std::string& FramingFaultText(TFramingFault fault);

class THTTPData {
 public:
  static constexpr int32_t npos = -1;

  // Values of RequestKind().
  enum TRequestKind : int {
    rkUnknown = 0,
    rkOptions = 1,
    rkGet = 2,
    rkHead = 3,
    rkPost = 4,
    rkPut = 5,
    rkDelete = 6,
    rkTrace = 7,
    rkConnect = 8,
    rkKeyRequest = 9,  // GET with "Vg-Hm: getkey"
    rkTokenGet = 10,   // GET with "Vg-Hm: gbt"
  };

  THTTPData() = default;
  virtual ~THTTPData();
  // A message owns its bytes; copies are made explicitly with Assign.
  THTTPData(const THTTPData&) = delete;
  THTTPData& operator=(const THTTPData&) = delete;

  // Error hook for every failure (memory exhaustion, adding a header without a terminator);
  // does nothing here. Derived messages route it to their owner.
  virtual void ReportError(const std::string& text);

  // Raw buffer.
  int32_t Length() const { return length_; }
  int32_t Capacity() const { return capacity_; }
  bool IsEmpty() const { return length_ == 0; }
  const char* Data() const { return bytes_; }
  std::string_view View() const { return {bytes_ ? bytes_ : "", static_cast<size_t>(length_)}; }

  // Grows the storage to exactly n bytes when needed, then sets the length to n. A smaller n
  // keeps the storage (the bytes beyond stay readable until the next growth). On allocation
  // failure reports the error, leaves the length unchanged and returns false.
  bool SetLength(int32_t n);
  // A pointer for writing the bytes from pos up to Length(), e.g. right after SetLength grew
  // the message for a socket read. Remembered facts about those bytes are dropped now; fill
  // the bytes before the next query. nullptr when pos is not inside the message.
  char* WritableFrom(int32_t pos);
  // Appends bytes; false (after reporting) when the storage cannot grow.
  bool Append(std::string_view bytes);

  void Assign(std::string_view text);
  void Assign(const THTTPData& other) { Assign(other.View()); }
  std::string AsString() const { return std::string(View()); }
  // The count bytes at pos; empty unless they lie wholly inside the buffer.
  std::string Copy(int32_t pos, int32_t count) const;
  // Inserts before the byte at pos; refused unless 0 <= pos < Length()-1 (so never in front of
  // the last byte or at the end).
  void Insert(std::string_view text, int32_t pos);
  // First occurrence of pattern at or after from (a negative from counts as 0); npos when
  // absent or when the pattern is empty.
  int32_t Find(std::string_view pattern, int32_t from = 0) const;
  // As Find, but only matches that begin before the end of the first CR LF CR LF found at or
  // after from; the form every header, start-line and chunk-line query uses.
  int32_t FindInHeader(std::string_view pattern, int32_t from = 0) const;

  int32_t HeaderLength() const;
  int32_t BodyStart() const;
  bool HasNoBody() const { return BodyStart() == 0; }

  // Headers.
  bool HasHeader(std::string_view name) const;
  // The value after the colon up to the next CR, trimmed of blanks and control characters.
  std::string GetHeader(std::string_view name) const;
  // The value as a decimal 32-bit integer; -1 when absent or not such a number.
  int32_t GetHeaderInt(std::string_view name) const;
  void SetHeaderInt(std::string_view name, int64_t value);
  // Replaces an existing value in place (after the colon and one optional space, up to the
  // line's CR), or adds "N: V" as the last header line; without a terminator reports an error.
  void SetHeader(std::string_view name, std::string_view value);
  void DeleteHeader(std::string_view name);
  void RenameHeader(std::string_view oldName, std::string_view newName);

  // Start line.
  int RequestKind() const;
  void SetRequestKind(int kind);
  // 65536 * major + minor of the first "HTTP/" token of the first line; 0 when absent or when
  // major is not a positive 16-bit number (a minor that is not one counts as 0).
  uint32_t HttpVersion() const;
  bool HasVersion() const { return HttpVersion() > 0; }
  // The number after the first space of the first line, up to the next space or the line end
  // (the reason phrase is optional); 0 when there is none.
  int32_t StatusCode() const;
  bool IsInformational() const;
  // False exactly when the request target begins with "http://".
  bool IsRelativeTarget() const;
  std::string GetHost() const;
  void SetTargetForm(bool relative);
  void SetHost(std::string_view host);

  // Connection headers (values trimmed and lower-cased before comparing).
  bool IsConnectionClose() const;
  bool IsKeepAlive() const;
  void SetConnectionClose();

  // Completeness, asked by the relay after every read. A request ends where its framing says:
  // at its header block without framing headers, after Content-Length body bytes, or after the
  // empty line that follows the size-0 chunk; bytes beyond belong to the next request.
  bool IsCompleteRequest() const;
  // Where a complete request ends; npos while it is not complete.
  int32_t RequestEnd() const;
  bool IsCompleteResponse() const;

  // Request framing as an HTTP/1.1 intermediary must check it: the header lines, the framing
  // headers and, for a chunked body, every size line and chunk end received so far (chunk
  // extensions are allowed). Asked again as bytes arrive, it goes on where it stopped; what
  // follows the end of the request is not looked at.
  TFramingFault RequestFramingFault() const;
  // Where a request without a framing fault ends: the position after its body (or its trailer).
  // npos until that end has arrived, for a faulty request, and for a tunnel's request, which the
  // tunnel's data follows.
  int32_t FramedRequestEnd() const;
  // Once the header block is complete, rewrites bare LF line ends in it (which a recipient may
  // take for CR LF) to CR LF, so that every other query sees the usual form; the body stays as
  // it is. Until then, and for a header block already in CR LF form, nothing changes.
  void NormalizeHeaderLineEnds();

  // Moves the body bytes received so far out of the message (header block and any unfinished
  // rest stay), for streaming a long answer. False when there is nothing to hand over.
  bool TakePartialBody(std::string& out);

 protected:
  // Replaces count bytes at pos by text, moving the tail within the one buffer. pos and count
  // are clamped to the message. False (after reporting) when the storage cannot grow.
  bool Replace(int32_t pos, int32_t count, std::string_view text);
  // Storage allocation, overridable so that exhaustion can be exercised.
  virtual void* ReallocateStorage(void* block, size_t size);

 private:
  enum class ChunkState : uint8_t { Walking, Invalid, ZeroSize };

  // Facts derived from the bytes below scanHigh only; valid while those bytes are unchanged.
  struct Memo {
    int32_t scanHigh = 0;      // every remembered fact depends only on bytes below this
    int32_t terminator = npos;
    int32_t termNext = 0;      // terminator search: no match starts before this position
    bool framing = false;      // the framing facts below are filled in
    bool hasContentLength = false;
    bool hasTransferEncoding = false;
    bool chunked = false;      // Transfer-Encoding present and not "identity"
    int32_t contentLength = -1;
    int32_t status = 0;
    bool chunkStarted = false;
    ChunkState chunkState = ChunkState::Walking;
    int64_t chunkLine = 0;     // start of the next size line to read (may lie beyond the end)
    int64_t chunkPrevLine = 0; // start of the size line before it
    int32_t lineNext = 0;      // CR LF search of the current size line resumes here
    int32_t zeroLineEnd = 0;   // the CR of the size-0 line
    // Line ends of the header block (NormalizeHeaderLineEnds).
    bool lineEndsKnown = false;  // the header block's line ends have been looked at
    bool bareLf = false;         // an LF without CR before it lies before lfNext
    int32_t lfNext = 0;          // the search for an empty line resumes here
    // Request framing (RequestFramingFault).
    TFramingFault fault = TFramingFault::None;
    uint8_t checkPhase = 0;   // a value of CheckPhase
    int64_t checkAt = 0;      // start of the next size line, chunk end or trailer line
    int32_t checkNext = 0;    // the CR LF search of that line resumes here
    int64_t requestEnd = -1;  // where the request ends by its framing, once known
  };

  void Forget() const { memo_ = Memo{}; }
  void Touch(int32_t upTo) const {
    if (upTo > memo_.scanHigh) memo_.scanHigh = upTo;
  }
  bool Grow(int64_t n);
  int32_t Terminator() const;
  int32_t HeaderMatch(std::string_view name) const;
  int32_t LineEnd(int32_t from) const;
  int32_t FirstLineEnd() const;
  int32_t FirstSpace() const;
  bool Target(int32_t& begin, int32_t& end) const;
  bool AuthorityEnd(int32_t& authority, int32_t& end, bool& hasPath) const;
  void Framing() const;
  void WalkChunks() const;
  int64_t WholeChunksEnd() const;
  bool EndsWithTerminator() const;
  int32_t ChunkedEnd() const;
  bool ChunkedComplete() const;
  bool TakeContentLength(std::string& out);
  bool TakeChunked(std::string& out);
  bool TakeUntilClose(std::string& out);
  // True when the start line is exactly "method target HTTP/1.1": three parts, the version last.
  bool IsHttp11RequestLine() const;
  TFramingFault HeaderFramingFault() const;
  TFramingFault ChunkFramingFault() const;
  void ReportNoMemory();
  bool InsideStorage(const char* p) const;

  char* bytes_ = nullptr;
  int32_t capacity_ = 0;
  int32_t length_ = 0;
  mutable Memo memo_;
};

}  // namespace vg
