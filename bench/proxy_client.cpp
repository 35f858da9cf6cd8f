// Client side of bench/proxy_bench.sh: measurements a general load generator cannot make.
//   bench_proxy_client rtt   PROXYPORT [ROUNDS]   64-byte ping-pong through a CONNECT tunnel and direct
//   bench_proxy_client bulk  PROXYPORT [MIB]      one-way bulk transfer through a tunnel, direct and
//                                                 through a bare copying relay (medians of 3
//                                                 alternating runs)
//   bench_proxy_client idle  PROXYPORT HTTPPORT N PID
//                                                 N kept-alive connections after one GET each; prints
//                                                 the resident memory of process PID meanwhile
// The echo and source servers run in this process on loopback. Output: key=value lines.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Net.h"
#include "tunnel/httpdata.h"

using vg::platform::ClientSocket;
using vg::platform::IoStatus;
using vg::platform::ListenSocket;
using Clock = std::chrono::steady_clock;

namespace {

const vg::platform::Ipv4 kLoopback = vg::platform::ParseDottedIPv4("127.0.0.1");

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "bench_proxy_client: %s\n", what.c_str());
  std::exit(1);
}

bool ReadExactly(ClientSocket& s, char* p, size_t n) {
  size_t got = 0;
  while (got < n) {
    const auto r = s.Read(p + got, n - got, 10000);
    if (r.status != IoStatus::Done) return false;
    got += r.bytes;
  }
  return true;
}

// Reads an answer's header block; the bytes after it stay in rest.
std::string ReadHeader(ClientSocket& s, std::string& rest) {
  std::string b;
  char chunk[4096];
  while (b.find("\r\n\r\n") == std::string::npos) {
    const auto r = s.Read(chunk, sizeof chunk, 10000);
    if (r.status != IoStatus::Done) Fail("no answer header");
    b.append(chunk, r.bytes);
  }
  const size_t end = b.find("\r\n\r\n") + 4;
  rest = b.substr(end);
  return b.substr(0, end);
}

ClientSocket Open(int port) {
  ClientSocket s;
  if (s.Connect(kLoopback, port, 5000) != 0) Fail("cannot connect to port " + std::to_string(port));
  return s;
}

// Bytes the target sent right behind the tunnel's answer.
std::string g_tunnelRest;

ClientSocket Tunnel(int proxyPort, int targetPort) {
  ClientSocket s = Open(proxyPort);
  const std::string req = "CONNECT 127.0.0.1:" + std::to_string(targetPort) + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                          std::to_string(targetPort) + "\r\n\r\n";
  s.Write(req.data(), req.size(), 5000);
  std::string rest;
  const std::string header = ReadHeader(s, rest);
  if (header.rfind("HTTP/1.1 200", 0) != 0) Fail("tunnel refused: " + header);
  g_tunnelRest = rest;
  return s;
}

// Serves every connection on its own thread with the given function.
class Server {
 public:
  explicit Server(void (*serve)(ClientSocket&)) : serve_(serve) {
    if (listener_.Listen(0, true) != 0) Fail("listen");
    thread_ = std::thread([this] {
      for (;;) {
        auto c = std::make_unique<ClientSocket>();
        if (listener_.Accept(*c, -1, &stop_) != IoStatus::Done) {
          if (stop_.IsSignalled()) return;
          continue;
        }
        workers_.emplace_back([this, s = std::move(c)]() mutable { serve_(*s); });
      }
    });
  }
  ~Server() {
    stop_.Signal();
    thread_.join();
    for (auto& w : workers_) w.join();
  }
  int Port() const { return listener_.Port(); }

 private:
  void (*serve_)(ClientSocket&);
  ListenSocket listener_;
  vg::platform::WakeSignal stop_;
  std::thread thread_;
  std::vector<std::thread> workers_;
};

void Echo(ClientSocket& s) {
  char buf[65536];
  for (;;) {
    const auto r = s.Read(buf, sizeof buf, 30000);
    if (r.status != IoStatus::Done) return;
    if (s.Write(buf, r.bytes, 30000).status != IoStatus::Done) return;
  }
}

size_t g_bulkBytes = 0;

void Source(ClientSocket& s) {
  std::vector<char> buf(1 << 20, 'x');
  size_t left = g_bulkBytes;
  while (left > 0) {
    const size_t n = std::min(left, buf.size());
    if (s.Write(buf.data(), n, 30000).status != IoStatus::Done) return;
    left -= n;
  }
  s.ShutdownSend();
  char sink[256];
  s.Read(sink, sizeof sink, 5000);
}

// Where the bare relay below connects.
int g_relayTarget = 0;

// The least any relay in user space does: each byte read into its own memory and written out
// again. Its throughput is the ceiling the tunnel is compared with.
void BareRelay(ClientSocket& client) {
  ClientSocket target = Open(g_relayTarget);
  std::vector<char> buf(1 << 20);
  for (;;) {
    const auto r = target.Read(buf.data(), buf.size(), 30000);
    if (r.status != IoStatus::Done || client.Write(buf.data(), r.bytes, 30000).status != IoStatus::Done) break;
  }
  client.ShutdownSend();
}

// Appends the round-trip times of rounds 64-byte ping-pongs, after a few unmeasured ones.
void PingPong(ClientSocket& s, int rounds, std::vector<double>& us) {
  char out[64], in[64];
  for (int i = 0; i < 64; ++i) out[i] = static_cast<char>(i);
  for (int i = -50; i < rounds; ++i) {
    const auto t0 = Clock::now();
    if (s.Write(out, 64, 5000).status != IoStatus::Done || !ReadExactly(s, in, 64)) Fail("ping-pong broke off");
    const auto t1 = Clock::now();
    if (i >= 0) us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
  }
}

double Percentile(const std::vector<double>& sorted, double p) {
  return sorted[std::min(sorted.size() - 1, static_cast<size_t>(p * static_cast<double>(sorted.size())))];
}

double Bulk(ClientSocket& s, size_t already) {
  std::vector<char> buf(1 << 20);
  size_t got = already;
  const auto t0 = Clock::now();
  for (;;) {
    const auto r = s.Read(buf.data(), buf.size(), 30000);
    if (r.status != IoStatus::Done) break;
    got += r.bytes;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  if (got != g_bulkBytes) Fail("bulk transfer incomplete: " + std::to_string(got) + " bytes");
  return static_cast<double>(got) / (1024.0 * 1024.0) / seconds;
}

long ResidentKiB(const std::string& pid, const char* field) {
  std::ifstream in("/proc/" + pid + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
  return -1;
}

int Idle(int proxyPort, int httpPort, int count, const std::string& pid) {
  std::vector<ClientSocket> clients;
  const std::string req = "GET http://127.0.0.1:" + std::to_string(httpPort) + "/1k HTTP/1.1\r\nHost: 127.0.0.1:" +
                          std::to_string(httpPort) + "\r\n\r\n";
  int ok = 0;
  for (int i = 0; i < count; ++i) {
    clients.push_back(Open(proxyPort));
    ClientSocket& s = clients.back();
    s.Write(req.data(), req.size(), 5000);
    std::string rest;
    const std::string header = ReadHeader(s, rest);
    vg::THTTPData m;
    m.Assign(header);
    const int32_t length = m.GetHeaderInt("Content-Length");
    std::string body = rest;
    std::vector<char> more(static_cast<size_t>(std::max(0, length)));
    if (length > static_cast<int32_t>(body.size()) &&
        !ReadExactly(s, more.data(), static_cast<size_t>(length) - body.size()))
      Fail("short answer");
    if (m.StatusCode() == 200) ++ok;
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  std::printf("idle_connections=%d\nidle_ok=%d\nidle_rss_kib=%ld\n", count, ok, ResidentKiB(pid, "VmRSS:"));
  return ok == count ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) Fail("usage: rtt|bulk|idle PROXYPORT ...");
  const std::string mode = argv[1];
  const int proxyPort = std::atoi(argv[2]);
  if (mode == "rtt") {
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 20000;
    Server echo(Echo);
    ClientSocket direct = Open(echo.Port());
    ClientSocket tunneled = Tunnel(proxyPort, echo.Port());
    if (!g_tunnelRest.empty()) Fail("unexpected bytes after the tunnel's answer");
    // Alternating blocks: how the scheduler places the threads drifts during a run and changes
    // wake-up costs a lot on a virtual machine; both paths see the same drift this way.
    std::vector<double> d, t;
    for (int block = 0; block < 20; ++block) {
      PingPong(direct, rounds / 20, d);
      PingPong(tunneled, rounds / 20, t);
    }
    std::sort(d.begin(), d.end());
    std::sort(t.begin(), t.end());
    direct.Close();
    tunneled.Close();
    std::printf("rtt_direct_median_us=%.1f\nrtt_direct_p99_us=%.1f\n", Percentile(d, 0.5), Percentile(d, 0.99));
    std::printf("rtt_tunnel_median_us=%.1f\nrtt_tunnel_p99_us=%.1f\n", Percentile(t, 0.5), Percentile(t, 0.99));
    return 0;
  }
  if (mode == "bulk") {
    g_bulkBytes = size_t(argc > 3 ? std::atoi(argv[3]) : 512) << 20;
    Server source(Source);
    g_relayTarget = source.Port();
    Server relay(BareRelay);
    // Alternating runs, medians: a busy machine disturbs single runs a lot.
    std::vector<double> d, t, b;
    for (int run = 0; run < 3; ++run) {
      ClientSocket direct = Open(source.Port());
      d.push_back(Bulk(direct, 0));
      ClientSocket tunneled = Tunnel(proxyPort, source.Port());
      t.push_back(Bulk(tunneled, g_tunnelRest.size()));
      ClientSocket relayed = Open(relay.Port());
      b.push_back(Bulk(relayed, 0));
    }
    std::sort(d.begin(), d.end());
    std::sort(t.begin(), t.end());
    std::sort(b.begin(), b.end());
    std::printf("bulk_direct_mbs=%.0f\nbulk_tunnel_mbs=%.0f\nbulk_relay_mbs=%.0f\n", d[1], t[1], b[1]);
    return 0;
  }
  if (mode == "idle" && argc >= 6) return Idle(proxyPort, std::atoi(argv[3]), std::atoi(argv[4]), argv[5]);
  Fail("unknown mode");
}
