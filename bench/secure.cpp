// Protecting and unprotecting a message body with the emulation engine, per body size and compress
// mode, against the same body's compression and decompression alone (measured in the same run):
// the MB/s of a whole round trip and the share of its time that compression takes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>

#include "protection/CipherhubLib.h"
#include "protection/ComprObj.h"
#include "tunnel/SecureHttp.h"

namespace {

class TQuiet : public vg::TSecureHTTPData {
 public:
  void ReportError(const std::string& text) override { error = text; }
  std::string error;
};

vg::TCryptoParams Params(const char* uid, const char* partner) {
  vg::TCryptoParams params;
  params.SetEngineType("Emulation/1.0");
  params.AddParam(0, uid);
  params.AddParam(1, partner);
  return params;
}

// Text-like bytes: words from a small vocabulary, so that both coders have something to find.
std::string Body(size_t n) {
  static const char* const words[] = {"veilgate ", "gateway ", "protected ", "server ", "answer ", "<td>", "</td>\n"};
  std::string s;
  uint32_t state = 12345;
  while (s.size() < n) {
    state = state * 1103515245u + 12345u;
    s += words[(state >> 16) % 7];
  }
  s.resize(n);
  return s;
}

std::string Request(size_t n) {
  return "POST /form HTTP/1.1\r\nHost: www.example.org\r\nContent-Length: " + std::to_string(n) + "\r\n\r\n" + Body(n);
}

void BM_ProtectUnprotect(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  const auto mode = static_cast<uint8_t>(state.range(1));
  const std::string plain = Request(size);
  TQuiet client;
  TQuiet gate;
  if (!client.UseCryptoParams(Params("client-1", "gate-1")) || !gate.UseCryptoParams(Params("gate-1", "client-1"))) {
    state.SkipWithError("emulation engine not available");
    return;
  }
  client.SetCompressMode(mode);
  for (auto _ : state) {
    client.Assign(plain);
    if (!client.Protect()) {
      state.SkipWithError("protect failed");
      return;
    }
    gate.Assign(client.View());
    std::string signer;
    if (!gate.Unprotect(signer)) {
      state.SkipWithError("unprotect failed");
      return;
    }
    benchmark::DoNotOptimize(gate.Data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void BM_CompressionOnly(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  const auto mode = static_cast<uint8_t>(state.range(1));
  const std::string body = Body(size);
  for (auto _ : state) {
    const std::string packed = vg::CompressBytes(mode, body);
    const std::string unpacked = vg::DecompressBytes(packed, body.size());
    benchmark::DoNotOptimize(unpacked.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
  state.counters["ratio"] = static_cast<double>(vg::CompressBytes(mode, body).size()) / static_cast<double>(size);
}

constexpr int64_t kSizes[] = {1024, 65536, 1048576};

void Sizes(benchmark::internal::Benchmark* b, bool withPlain) {
  for (int64_t size : kSizes)
    for (int64_t mode = withPlain ? 0 : 1; mode <= 2; ++mode) b->Args({size, mode});
}

BENCHMARK(BM_ProtectUnprotect)->Apply([](auto* b) { Sizes(b, true); });
BENCHMARK(BM_CompressionOnly)->Apply([](auto* b) { Sizes(b, false); });

class TCollector : public benchmark::ConsoleReporter {
 public:
  TCollector() : ConsoleReporter(OO_Tabular) {}
  // seconds per iteration, by benchmark and (size, mode)
  std::map<std::string, std::map<std::pair<int64_t, int64_t>, double>> time;
  std::map<std::pair<int64_t, int64_t>, double> ratio;
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      if (run.error_occurred || run.iterations == 0 || run.run_type != Run::RT_Iteration) continue;
      const std::string name = run.run_name.function_name;
      const std::string args = run.run_name.args;  // "size/mode"
      const size_t slash = args.find('/');
      const std::pair<int64_t, int64_t> key{std::stoll(args.substr(0, slash)), std::stoll(args.substr(slash + 1))};
      time[name][key] = run.GetAdjustedCPUTime() * 1e-9;  // reported in ns; CPU time, as the machine may be shared
      const auto r = run.counters.find("ratio");
      if (r != run.counters.end()) ratio[key] = r->second.value;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  vg::chlib::OverrideLibraryCandidates({std::string(VG_TEST_BIN_DIR) + "/cipherhub.so"});
  TCollector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  auto& full = collector.time["BM_ProtectUnprotect"];
  auto& compression = collector.time["BM_CompressionOnly"];
  std::printf("\nprotect + unprotect, emulation engine (MB of plain body per CPU second)\n");
  std::printf("%9s %5s %10s %14s %16s %12s\n", "body", "mode", "MB/s", "speed/mode 0", "compression", "size ratio");
  for (int64_t size : kSizes) {
    const double plain = full.count({size, 0}) ? full[{size, 0}] : 0;
    for (int64_t mode = 0; mode <= 2; ++mode) {
      if (!full.count({size, mode})) continue;
      const double t = full[{size, mode}];
      const double mbs = static_cast<double>(size) / t / 1e6;
      char share[32] = "-";
      char packed[32] = "-";
      if (mode != 0 && compression.count({size, mode})) {
        std::snprintf(share, sizeof share, "%.0f%% of time", 100.0 * compression[{size, mode}] / t);
        std::snprintf(packed, sizeof packed, "%.3f", collector.ratio[{size, mode}]);
      }
      std::printf("%9lld %5lld %10.1f %13.2fx %16s %12s\n", static_cast<long long>(size), static_cast<long long>(mode),
                  mbs, plain > 0 ? plain / t : 0.0, share, packed);
    }
  }
  benchmark::Shutdown();
  return 0;
}
