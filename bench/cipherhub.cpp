// Cost of a call forwarded through cipherhub against the same call made on the engine module
// directly, with one and with two threads. Prints ns per call (per thread) and the ratios.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <map>
#include <string>

#include "cipherhub/cipherhub.h"
#include "cipherhub/engine_module.h"

namespace {

struct Bound {
  void* hub = nullptr;
  void* module = nullptr;
  decltype(&::InitCryptoEngine) init = nullptr;
  decltype(&::DoneCryptoEngine) done = nullptr;
  decltype(&::GetMaxSignatureLength) forwarded = nullptr;
  CHM_GetCryptObj_fn getObj = nullptr;
  CHM_DoneEngine_fn doneObj = nullptr;
  CHM_GetMaxSignatureLength_fn direct = nullptr;
  CHEngineHandle handle = nullptr;
  CHEngineObject object = nullptr;
} g;

template <typename T>
T Symbol(void* library, const char* name) {
  return reinterpret_cast<T>(::dlsym(library, name));
}

bool Bind() {
  const std::string bin = VG_TEST_BIN_DIR;
  g.hub = ::dlopen((bin + "/cipherhub.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  g.module = ::dlopen((bin + "/engmod01.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!g.hub || !g.module) return false;
  g.init = Symbol<decltype(g.init)>(g.hub, "InitCryptoEngine");
  g.done = Symbol<decltype(g.done)>(g.hub, "DoneCryptoEngine");
  g.forwarded = Symbol<decltype(g.forwarded)>(g.hub, "GetMaxSignatureLength");
  g.getObj = Symbol<CHM_GetCryptObj_fn>(g.module, "GetCryptObj");
  g.doneObj = Symbol<CHM_DoneEngine_fn>(g.module, "DoneEngine");
  g.direct = Symbol<CHM_GetMaxSignatureLength_fn>(g.module, "GetMaxSignatureLength");
  if (!g.init || !g.done || !g.forwarded || !g.getObj || !g.doneObj || !g.direct) return false;
  g.handle = g.init("Emulation/1.0");
  g.object = g.getObj("Emulation/1.0");
  return g.handle && g.object && g.forwarded(g.handle) == g.direct(g.object);
}

void BM_DirectModuleCall(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(g.direct(g.object));
}
BENCHMARK(BM_DirectModuleCall)->UseRealTime()->Threads(1)->Threads(2);

void BM_ForwardedCall(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(g.forwarded(g.handle));
}
BENCHMARK(BM_ForwardedCall)->UseRealTime()->Threads(1)->Threads(2);

// Keeps, per benchmark and thread count, the wall time one thread spends per call.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      // Real time is averaged over threads and iterations are summed, so one thread's time
      // per call is the reported time multiplied by the thread count.
      perThreadNs[run.run_name.function_name][static_cast<int>(run.threads)] =
          run.GetAdjustedRealTime() * static_cast<double>(run.threads);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, std::map<int, double>> perThreadNs;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!Bind()) {
    std::fprintf(stderr, "cannot bind cipherhub.so and engmod01.so in %s\n", VG_TEST_BIN_DIR);
    return 1;
  }
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);

  auto& direct = collector.perThreadNs["BM_DirectModuleCall"];
  auto& forwarded = collector.perThreadNs["BM_ForwardedCall"];
  if (direct.count(1) && direct.count(2) && forwarded.count(1) && forwarded.count(2)) {
    std::printf("\nper-thread ns/call     direct   forwarded   overhead   forwarded/direct\n");
    for (int threads : {1, 2}) {
      std::printf("  %d thread%s        %8.1f    %8.1f   %8.1f   %8.2fx\n", threads, threads == 1 ? " " : "s",
                  direct[threads], forwarded[threads], forwarded[threads] - direct[threads],
                  forwarded[threads] / direct[threads]);
    }
    std::printf("forwarded call, 2 threads vs 1 thread: %.2fx slower per call (target <= 2x)\n",
                forwarded[2] / forwarded[1]);
    std::printf("forwarding overhead, 1 thread: %.1f ns/call (target < 100 ns)\n", forwarded[1] - direct[1]);
  }
  g.done(g.handle);
  g.doneObj(g.object);
  benchmark::Shutdown();
  return 0;
}
