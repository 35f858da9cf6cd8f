// Loading a settings file of 100 protected servers with about 15 items each through the INI
// storage, which reads the file afresh for every item. Baseline: the same number of plain
// whole-file reads, i.e. the cost of the file system alone.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "config/Cfg_Ini.h"
#include "platform/AtomicFile.h"

namespace {

constexpr int kServers = 100;
constexpr int kItemsPerServer = 15;

const std::string& SettingsFile() {
  static const std::string path = [] {
    char tmpl[] = "/tmp/vgbench-ini-XXXXXX";
    const char* dir = ::mkdtemp(tmpl);
    const std::string file = std::string(dir ? dir : "/tmp") + "/veilgate.cfg";
    std::ofstream out(file, std::ios::binary);
    out << "; QS-Veilgate settings\r\n[Client\\Log options]\r\nLog-file name=C:\\Logs\\\r\nLog interval=60\r\n"
           "Log flags=16777215\r\n\r\n[Client\\TCP options]\r\nSelf TCP port=8080\r\nProxy enable=0\r\n"
           "Proxy host=proxy.example\r\nProxy port=3128\r\n\r\n[Client\\Web servers]\r\n";
    for (int s = 1; s <= kServers; ++s) {
      out << "\r\n[Client\\Web servers\\s" << s << "]\r\n";
      out << "Host=server" << s << ".example.ru:443\r\nGateway=gate" << s << ".example.ru\r\n"
          << "Reserve gateway=reserve" << s << ".example.ru:8443\r\nActive location=1\r\n";
      for (int i = 4; i < kItemsPerServer; ++i)
        out << "Parameter " << i << "=" << (i % 3 == 0 ? "1" : "value of parameter " + std::to_string(i)) << "\r\n";
    }
    return file;
  }();
  return path;
}

// What the settings load does: every item of every server section, each read on its own.
size_t LoadAll(vg::TConfigStorage& root) {
  size_t bytes = 0;
  auto web = root.OpenSection("Web servers", true, false);
  std::vector<std::string> servers, items;
  web->ListSections(servers);
  for (const std::string& name : servers) {
    auto server = web->OpenSection(name, true, false);
    server->ListItems(items);
    for (const std::string& item : items) bytes += server->ReadStringDef(item, "").size();
  }
  return bytes;
}

// Whole-file reads per load: one per OpenSection and ListSections/ListItems, two per item.
int ReadsPerLoad() {
  return 2 + 2 * kServers + 2 * kServers * kItemsPerServer;
}

void BM_LoadAllServers(benchmark::State& state) {
  auto root = vg::OpenIniStorage(SettingsFile(), "Client", true, false);
  for (auto _ : state) benchmark::DoNotOptimize(LoadAll(*root));
  state.counters["items"] = kServers * kItemsPerServer;
}
BENCHMARK(BM_LoadAllServers)->Unit(benchmark::kMillisecond);

void BM_BaselineWholeFileReads(benchmark::State& state) {
  std::string content;
  const int reads = ReadsPerLoad();
  for (auto _ : state)
    for (int i = 0; i < reads; ++i) benchmark::DoNotOptimize(vg::platform::ReadWholeFile(SettingsFile(), content));
  state.counters["reads"] = reads;
}
BENCHMARK(BM_BaselineWholeFileReads)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) times_[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double load = times_["BM_LoadAllServers"], base = times_["BM_BaselineWholeFileReads"];
    if (load > 0 && base > 0)
      std::printf("full load of %d servers x %d items: %.1f ms; %.2f x the bare file reads (%d reads, %.1f ms)\n",
                  kServers, kItemsPerServer, load, load / base, ReadsPerLoad(), base);
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::filesystem::remove_all(std::filesystem::path(SettingsFile()).parent_path());
  return 0;
}
