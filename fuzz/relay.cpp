// Arbitrary browser bytes into a relay thread, whose upstream answers with bytes from the input
// too. The upstream is either the tunnel's upstream proxy (so that every target reaches it
// without name resolution) or the gateway of a protected server "p.test", for which the input
// continues a request that names it. Every other host the input names is reached through the
// upstream proxy, which is the same upstream. Nothing may crash, and every connection must end: a
// connection still open after 10 seconds is a failure. What reaches the upstream must be one
// request per connection (the upstream answers once and closes), framed so that every reader
// finds its end in the same place, with nothing after it: whatever the browser sends, no second
// request may hide in or behind the one the relay passed on.
//
// Input: byte 0 chooses settings (bit 3: the protected server), bytes 1-2 give the length L of
// the upstream's answer (little endian), the next L bytes are that answer, the rest is what the
// browser sends.
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/Net.h"
#include "protection/CipherhubLib.h"
#include "protection/ConKey.h"
#include "settings/Cfg_Clnt.h"
#include "tunnel/ClntThrd.h"

namespace {

using vg::platform::ClientSocket;
using vg::platform::IoStatus;
using vg::platform::ListenSocket;

enum class Framing { Partial, OneRequest, Wrong };

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Judges the bytes of one upstream connection by the framing rules of HTTP/1.1, written out
// plainly here and independent of the tunnel's own code. Partial: a request whose body has not
// all arrived (the relay may stream a long body and the browser may stop). why tells what is
// wrong.
Framing Judge(const std::string& s, std::string& why) {
  const size_t t = s.find("\r\n\r\n");
  if (t == std::string::npos) {
    why = "no complete header block";
    return s.empty() ? Framing::Partial : Framing::Wrong;
  }
  for (size_t i = 0; i < t + 4; ++i) {
    if ((s[i] == '\r' && s[i + 1] != '\n') || (s[i] == '\n' && (i == 0 || s[i - 1] != '\r'))) {
      why = "a bare CR or LF in the header block";
      return Framing::Wrong;
    }
  }
  const size_t firstEnd = s.find("\r\n");
  const std::string_view startLine(s.data(), firstEnd);
  int64_t length = -1;
  bool coded = false;
  std::string_view lastCoding;
  for (size_t at = firstEnd + 2; at < t + 2;) {
    const size_t end = s.find("\r\n", at);
    const std::string_view line(s.data() + at, end - at);
    at = end + 2;
    const size_t colon = line.find(':');
    const std::string_view name = line.substr(0, colon);
    if (colon == std::string_view::npos || name.empty() ||
        name.find_first_of(" \t\"(),/:;<=>?@[\\]{}") != std::string_view::npos) {
      why = "a header line without a proper name";
      return Framing::Wrong;
    }
    const std::string_view value = Trimmed(line.substr(colon + 1));
    if (SameLetters(name, "Content-Length")) {
      if (value.empty() || value.size() > 10 || value.find_first_not_of("0123456789") != std::string_view::npos ||
          std::stoll(std::string(value)) > 0x7FFFFFFF) {
        why = "a Content-Length that is not a length";
        return Framing::Wrong;
      }
      const int64_t v = std::stoll(std::string(value));
      if (length >= 0 && v != length) {
        why = "two different lengths";
        return Framing::Wrong;
      }
      length = v;
    } else if (SameLetters(name, "Transfer-Encoding")) {
      coded = true;
      for (size_t from = 0; from <= value.size();) {
        const size_t comma = std::min(value.find(',', from), value.size());
        const std::string_view element = Trimmed(value.substr(from, comma - from));
        if (!element.empty()) lastCoding = element;
        from = comma + 1;
      }
    }
  }
  if (startLine.substr(0, 8) == "CONNECT ") return Framing::OneRequest;  // then the tunnel's data
  size_t end = t + 4;
  if (coded) {
    if (length >= 0 || !SameLetters(lastCoding, "chunked") || startLine.size() < 9 ||
        startLine.substr(startLine.size() - 9) != " HTTP/1.1") {
      why = "a body framed by Transfer-Encoding in a way readers may take differently";
      return Framing::Wrong;
    }
    for (bool last = false; !last;) {
      const size_t e = s.find("\r\n", end);
      if (e == std::string::npos) return Framing::Partial;
      const std::string_view line(s.data() + end, e - end);
      size_t digits = 0;
      int64_t size = 0;
      for (; digits < line.size() && std::isxdigit(static_cast<unsigned char>(line[digits])) && size <= 0x7FFFFFFF;
           ++digits) {
        const int c = std::tolower(static_cast<unsigned char>(line[digits]));
        size = size * 16 + (c <= '9' ? c - '0' : c - 'a' + 10);
      }
      const std::string_view rest = Trimmed(line.substr(digits));
      if (digits == 0 || size > 0x7FFFFFFF || (!rest.empty() && rest.front() != ';')) {
        why = "a chunk size line that is not a size";
        return Framing::Wrong;
      }
      end = e + 2;
      if (size == 0) {
        // The trailer: field lines up to an empty one.
        for (;;) {
          const size_t f = s.find("\r\n", end);
          if (f == std::string::npos) return Framing::Partial;
          const bool empty = f == end;
          end = f + 2;
          if (empty) break;
        }
        last = true;
      } else {
        if (s.size() < end + static_cast<size_t>(size) + 2) return Framing::Partial;
        end += static_cast<size_t>(size);
        if (s.compare(end, 2, "\r\n") != 0) {
          why = "chunk data longer than its size";
          return Framing::Wrong;
        }
        end += 2;
      }
    }
  } else if (length > 0) {
    end += static_cast<size_t>(length);
    if (s.size() < end) return Framing::Partial;
  }
  if (s.size() > end) {
    why = "bytes after the end of the request";
    return Framing::Wrong;
  }
  return Framing::OneRequest;
}

// The upstream: for every connection it reads one request, answers and closes, and keeps what
// it received for Judge.
class Upstream {
 public:
  Upstream() {
    if (listener_.Listen(0, true) != 0) std::abort();
    thread_ = std::thread([this] { Loop(); });
  }
  int Port() const { return listener_.Port(); }
  void SetAnswer(std::string answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = std::move(answer);
  }
  // Waits until every connection made so far has been served and hands over what each received.
  std::vector<std::string> TakeReceived() {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t after = idleRounds_ + 1;
    idle_.wait(lock, [&] { return idleRounds_ > after; });
    return std::move(received_);
  }

 private:
  void Loop() {
    char buffer[65536];
    for (;;) {
      ClientSocket c;
      if (listener_.Accept(c, 5) != IoStatus::Done) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++idleRounds_;
        idle_.notify_all();
        continue;
      }
      // Reads until the request is complete (and a moment longer, to see anything behind it),
      // wrong, or the relay falls silent.
      std::string seen;
      std::string why;
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      int quiet = 0;
      while (std::chrono::steady_clock::now() < end) {
        const Framing f = Judge(seen, why);
        if (f == Framing::Wrong || (f == Framing::OneRequest && quiet > 0)) break;
        const auto r = c.Read(buffer, sizeof buffer, f == Framing::OneRequest ? 20 : 100);
        if (r.status == IoStatus::Closed || r.status == IoStatus::Failed) break;
        seen.append(buffer, r.bytes);
        quiet = r.bytes == 0 ? quiet + 1 : 0;
        if (quiet > 2) break;
      }
      std::string answer;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        answer = answer_;
        received_.push_back(seen);
      }
      c.Write(answer.data(), answer.size(), 1000);
      c.Close();
    }
  }

  ListenSocket listener_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable idle_;
  uint64_t idleRounds_ = 0;
  std::string answer_;
  std::vector<std::string> received_;
};

struct World {
  Upstream upstream;
  ListenSocket tunnelSide;
  World() {
    if (tunnelSide.Listen(0, true) != 0) std::abort();
  }
};

World& TheWorld() {
  static World* world = new World;  // lives until the process ends
  return *world;
}

bool Protected(uint8_t choice) { return (choice & 8) != 0; }

void Configure(uint8_t choice, int upstreamPort) {
  vg::TQSClientConfig& config = vg::Settings();
  vg::TConfigLock lock(config);
  if (config.ServerCount() == 0) {
    vg::chlib::OverrideLibraryCandidates({std::string(VG_TEST_BIN_DIR) + "/cipherhub.so"});
    auto server = std::make_unique<vg::TProtectedServer>();
    server->SetAddressesText("p.test");
    server->VeilgateLocation().Parse("127.0.0.1:" + std::to_string(upstreamPort));
    vg::TCryptoParams params;
    params.SetEngineType("Emulation/1.0");
    params.AddParam(0, "client-1");
    params.AddParam(1, "gate-1");
    server->SetCryptoParams(params);
    config.AddServer(std::move(server));
  }
  vg::ConnectionKeys().Clear();
  config.SetLogFlags(0);
  config.SetErrorTraceMode((choice & 16) != 0);
  config.SetSelfTcpPort(1);
  config.SetClientAccessType(vg::TQSClientConfig::kAccessAny);
  // Every connection, the protected server's gateway included, goes through the proxy, which is
  // the same upstream: no target an input names sends the relay to a host on the network.
  config.SetProxyEnabled(true);
  config.SetBypassProxyForLocal(false);
  config.SetProxyHost("127.0.0.1");
  config.SetProxyPort(upstreamPort);
  config.SetProxyORPC((choice & 1) != 0);
  static const int32_t kLimits[] = {0x200000, 64, 1024, 16384};
  config.SetMaxHttpDataLength(kLimits[(choice >> 1) & 3]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  World& world = TheWorld();
  const size_t answerLength = std::min<size_t>(data[1] | (size_t{data[2]} << 8), size - 3);
  world.upstream.SetAnswer(std::string(reinterpret_cast<const char*>(data) + 3, answerLength));
  Configure(data[0], world.upstream.Port());
  std::string browserBytes(reinterpret_cast<const char*>(data) + 3 + answerLength, size - 3 - answerLength);
  if (Protected(data[0])) browserBytes.insert(0, "GET http://p.test/ HTTP/1.1\r\nHost: p.test\r\n");

  ClientSocket browser;
  if (browser.Connect(vg::platform::ParseDottedIPv4("127.0.0.1"), world.tunnelSide.Port(), 1000) != 0) std::abort();
  ClientSocket accepted;
  if (world.tunnelSide.Accept(accepted, 1000) != IoStatus::Done) std::abort();

  vg::TClientRequestThread relay(std::move(accepted));
  std::mutex m;
  std::condition_variable cv;
  bool ended = false;
  std::thread runner([&] {
    relay.Execute();
    std::lock_guard<std::mutex> lock(m);
    ended = true;
    cv.notify_all();
  });

  browser.Write(browserBytes.data(), browserBytes.size(), 2000);
  browser.ShutdownSend();
  char sink[65536];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    const auto r = browser.Read(sink, sizeof sink, 100);
    if (r.status == IoStatus::Closed || r.status == IoStatus::Failed) break;
  }
  std::unique_lock<std::mutex> lock(m);
  if (!cv.wait_until(lock, deadline, [&] { return ended; })) {
    std::fprintf(stderr, "the relay did not end its connection\n");
    std::abort();
  }
  lock.unlock();
  runner.join();
  for (const std::string& request : world.upstream.TakeReceived()) {
    std::string why;
    if (Judge(request, why) == Framing::Wrong) {
      std::fprintf(stderr, "the upstream received %s:\n%s\n", why.c_str(), request.c_str());
      std::abort();
    }
  }
  return 0;
}
