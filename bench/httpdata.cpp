// A 2 MiB answer arriving piece by piece the way the relay reads it (grow, fill, cut back)
// with a completeness check after every piece, against one memcpy of the same bytes; and the
// header lookups the relay makes on every browser request.
#include "tunnel/httpdata.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <string_view>

namespace {

constexpr size_t kBodySize = 2 * 1024 * 1024;

std::string Filler(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

const std::string& LengthMessage() {
  static const std::string m =
      "HTTP/1.1 200 OK\r\nServer: bench\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
      std::to_string(kBodySize) + "\r\n\r\n" + Filler(kBodySize);
  return m;
}

const std::string& ChunkedMessage() {
  static const std::string m = [] {
    std::string s = "HTTP/1.1 200 OK\r\nServer: bench\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string chunk = Filler(8192);
    while (s.size() < kBodySize) s += "2000\r\n" + chunk + "\r\n";
    return s + "0\r\n\r\n";
  }();
  return m;
}

void Arrive(benchmark::State& state, const std::string& message) {
  const size_t piece = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    vg::THTTPData m;
    size_t at = 0;
    bool complete = false;
    while (at < message.size()) {
      const size_t n = std::min(piece, message.size() - at);
      const int32_t old = m.Length();
      m.SetLength(old + static_cast<int32_t>(piece));
      std::memcpy(m.WritableFrom(old), message.data() + at, n);
      m.SetLength(old + static_cast<int32_t>(n));
      at += n;
      complete = m.IsCompleteResponse();
    }
    if (!complete) state.SkipWithError("message not complete");
    benchmark::DoNotOptimize(m.Data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(message.size()));
}

void BM_ContentLength(benchmark::State& state) { Arrive(state, LengthMessage()); }
void BM_Chunked(benchmark::State& state) { Arrive(state, ChunkedMessage()); }

void BM_Memcpy(benchmark::State& state) {
  const std::string& message = LengthMessage();
  std::string target(message.size(), '\0');
  for (auto _ : state) {
    std::memcpy(target.data(), message.data(), message.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(message.size()));
}

// A browser's request as it typically arrives, and the names the relay asks for while routing and
// framing it (some present, some absent, which costs a scan of the whole header block).
void BM_HeaderLookup(benchmark::State& state) {
  vg::THTTPData m;
  m.Assign(
      "GET http://www.example.org/catalogue/page?id=42 HTTP/1.1\r\nHost: www.example.org\r\n"
      "User-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 Firefox/120.0\r\n"
      "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
      "Accept-Language: ru-RU,ru;q=0.8,en-US;q=0.5,en;q=0.3\r\nAccept-Encoding: gzip, deflate\r\n"
      "Referer: http://www.example.org/catalogue/\r\nCookie: session=0123456789abcdef; theme=light\r\n"
      "Upgrade-Insecure-Requests: 1\r\nCache-Control: max-age=0\r\nProxy-Connection: keep-alive\r\n\r\n");
  static constexpr std::string_view kNames[] = {
      "Host", "Content-Length", "Transfer-Encoding", "Connection", "Proxy-Connection", "Vg-Oh", "Vg-Hm"};
  for (auto _ : state) {
    int found = 0;
    for (std::string_view name : kNames) found += m.HasHeader(name) ? 1 : 0;
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * std::size(kNames));
}

// Wall-clock time: the relay's cost includes the kernel's part of growing the storage.
BENCHMARK(BM_Memcpy)->UseRealTime();
BENCHMARK(BM_ContentLength)->Arg(1024)->Arg(16 * 1024)->UseRealTime();
BENCHMARK(BM_Chunked)->Arg(1024)->Arg(16 * 1024)->UseRealTime();
BENCHMARK(BM_HeaderLookup);

// Prints the usual table and keeps the time per byte of each run for the ratios.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> nsPerByte;

  TRatioReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      if (run.error_occurred || run.iterations == 0) continue;
      const auto bytes = run.counters.find("bytes_per_second");
      if (bytes == run.counters.end() || bytes->second.value <= 0) continue;
      nsPerByte[run.benchmark_name()] = 1e9 / bytes->second.value;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double base = 0;
  for (const auto& [name, ns] : reporter.nsPerByte)
    if (name.rfind("BM_Memcpy", 0) == 0) base = ns;
  if (base <= 0) return 0;
  std::printf("\n%-34s %10s %14s\n", "2 MiB arriving, check per piece", "MB/s", "time / memcpy");
  for (const auto& [name, ns] : reporter.nsPerByte)
    std::printf("%-34s %10.1f %14.2f\n", name.c_str(), 1e3 / ns, ns / base);
  benchmark::Shutdown();
  return 0;
}
