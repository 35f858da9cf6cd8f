// Two threads appending records to the same day's log file: records per second, and a check
// that every record in the file is whole.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "config/fLogMngr.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

template <typename F>
double Run(F&& write, int perThread) {
  const auto start = std::chrono::steady_clock::now();
  std::thread a([&] { write(perThread); });
  std::thread b([&] { write(perThread); });
  a.join();
  b.join();
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return 2.0 * perThread / secs;
}

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() / ("vglog-bench-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  const std::string d = dir.string();
  vg::SetLogDirectorySource([d] { return d; });
  constexpr int kPerThread = 10000;

  const double serviceRate = Run(
      [](int n) {
        vg::TLogManager log;
        for (int i = 0; i < n; ++i) log.WriteService("service record number " + std::to_string(i) + " of the benchmark");
      },
      kPerThread);
  const std::string body(1024, 'b');
  const double trafficRate = Run(
      [&body](int n) {
        vg::TLogManager log;
        for (int i = 0; i < n; ++i) log.WriteTraffic(1, body);
      },
      kPerThread);

  int serviceLines = 0, serviceBad = 0, trafficWhole = 0, trafficBad = 0;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string content = ReadAll(e.path());
    if (e.path().string().find("_service.log") != std::string::npos) {
      std::istringstream in(content);
      std::string line;
      while (std::getline(in, line)) {
        ++serviceLines;
        if (line.find(" : service record number ") == std::string::npos || line.back() != '\r') ++serviceBad;
      }
    } else {
      size_t pos = 0;
      while ((pos = content.find("\r\n---< ", pos)) != std::string::npos) {
        const size_t h = content.find(" >---\r\n", pos);
        if (h == std::string::npos || content.compare(h + 7, body.size(), body) != 0 ||
            (h + 7 + body.size() < content.size() && content.compare(h + 7 + body.size(), 2, "\r\n") != 0)) {
          ++trafficBad;
          break;
        }
        ++trafficWhole;
        pos = h + 7 + body.size();
      }
    }
  }
  std::printf("service records: %.0f records/s (2 threads x %d)\n", serviceRate, kPerThread);
  std::printf("traffic records (1 KiB): %.0f records/s (2 threads x %d)\n", trafficRate, kPerThread);
  std::printf("file check: %d service lines (%d bad), %d whole traffic records (%d bad)\n", serviceLines, serviceBad,
              trafficWhole, trafficBad);
  fs::remove_all(dir);
  const bool ok = serviceLines == 2 * kPerThread && serviceBad == 0 && trafficWhole == 2 * kPerThread && trafficBad == 0;
  std::printf("%s\n", ok ? "every record whole" : "RECORDS LOST OR INTERLEAVED");
  return ok ? 0 : 1;
}
