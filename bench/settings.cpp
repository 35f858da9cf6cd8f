// Load and Save of the tunnel settings with 100 protected servers, each with four engine
// parameters of the emulation engine. Baseline: reading every item of the same file once
// through the storage, without the settings logic and the engine around it.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "config/Cfg_Ini.h"
#include "protection/CipherhubLib.h"
#include "settings/Cfg_Clnt.h"

namespace {

constexpr int kServers = 100;

const std::string& WorkDir() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/vgbench-settings-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    return std::string(made ? made : "/tmp");
  }();
  return dir;
}

const std::string& SettingsFile() {
  static const std::string path = [] {
    const std::string file = WorkDir() + "/veilgate.cfg";
    std::ofstream out(file, std::ios::binary);
    out << "[Client\\Log options]\r\nError trace mode=0\r\nLog-file name=logs\r\nLog interval=60\r\n"
           "Log flags=16777215\r\n\r\n[Client\\TCP options]\r\nMax HTTP data length=2097152\r\nProxy ORPC=0\r\n"
           "Self TCP port=1030\r\nProxy enable=0\r\nBypass proxy for local addresses=1\r\nProxy host=\r\n"
           "Proxy port=0\r\nClient acces type=1\r\nAllowed hosts=/////D\r\n\r\n[Client\\Web servers]\r\n";
    for (int s = 1; s <= kServers; ++s) {
      out << "\r\n[Client\\Web servers\\s" << s << "]\r\nweb server host=www" << s << ".bank.example\r\n"
          << "web server address=10.0." << s / 256 << "." << s % 256 << ":8080\r\n"
          << "veilgate location=gate" << s << ".example:8443\r\nreserve location=reserve" << s << ".example\r\n"
          << "crypto engine=Emulation/1.0\r\ncompress mode=1\r\nInclude=0\r\nWithdraw=0\r\nScan root path=\r\n"
          << "\r\n[Client\\Web servers\\s" << s << "\\Crypto engine]\r\nUID=user" << s << "\r\nPartner=\r\n"
          << "Password=secret" << s << "\r\nTouchMemory=0\r\n";
    }
    return file;
  }();
  return path;
}

void BM_Load(benchmark::State& state) {
  for (auto _ : state) {
    vg::TQSClientConfig config(SettingsFile());
    if (!config.Load() || config.ServerCount() != kServers || config.GetServer(kServers - 1)->CryptoParams().Count() != 4)
      state.SkipWithError("the settings did not load whole");
  }
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

void BM_Save(benchmark::State& state) {
  const std::string copy = WorkDir() + "/saved.cfg";
  std::filesystem::copy_file(SettingsFile(), copy, std::filesystem::copy_options::overwrite_existing);
  vg::TQSClientConfig config(copy);
  if (!config.Load()) state.SkipWithError("load failed");
  for (auto _ : state)
    if (!config.Save()) state.SkipWithError("save failed");
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);

void BM_BaselineReadEveryItem(benchmark::State& state) {
  for (auto _ : state) {
    auto root = vg::OpenIniStorage(SettingsFile(), "Client", true, false);
    std::vector<std::string> sections, items;
    size_t bytes = 0;
    for (const char* name : {"Log options", "TCP options"}) {
      auto section = root->OpenSection(name, true, false);
      section->ListItems(items);
      for (const std::string& item : items) bytes += section->ReadString(item).size();
    }
    auto web = root->OpenSection("Web servers", true, false);
    web->ListSections(sections);
    for (const std::string& name : sections) {
      auto server = web->OpenSection(name, true, false);
      server->ListItems(items);
      for (const std::string& item : items) bytes += server->ReadString(item).size();
      auto params = server->OpenSection("Crypto engine", true, false);
      params->ListItems(items);
      for (const std::string& item : items) bytes += params->ReadString(item).size();
    }
    benchmark::DoNotOptimize(bytes);
  }
}
BENCHMARK(BM_BaselineReadEveryItem)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) times_[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double load = times_["BM_Load"], save = times_["BM_Save"], base = times_["BM_BaselineReadEveryItem"];
    if (load > 0 && base > 0)
      std::printf("settings of %d servers x 4 engine parameters: Load %.1f ms (%.2f x reading every item once, "
                  "%.1f ms), Save %.1f ms\n",
                  kServers, load, load / base, base, save);
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  vg::chlib::OverrideLibraryCandidates({std::string(VG_TEST_BIN_DIR) + "/cipherhub.so"});
  // A private registry store, so that the crypto root path is the program's own.
  const std::string registry = WorkDir() + "/registry";
  ::setenv("VG_REGISTRY_DIR", registry.c_str(), 1);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::filesystem::remove_all(WorkDir());
  return 0;
}
