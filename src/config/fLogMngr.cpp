#include "config/fLogMngr.h"

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/MessageBox.h"
#include "platform/ProgramInfo.h"
#include "platform/SysUtils.h"

namespace vg {
namespace {

std::mutex& SourceMutex() {
  static std::mutex m;
  return m;
}
LogDirectorySource& Source() {
  static LogDirectorySource s;
  return s;
}

// Settings written on Windows name the directory with backslashes.
std::string NormalizeDirectory(std::string dir) {
  for (char& c : dir)
    if (c == '\\') c = platform::kPathSeparator;
  return dir;
}

std::atomic<bool> g_errorBoxShown{false};

bool TwoDigits(const std::string& s, size_t at, int& value) {
  if (s[at] < '0' || s[at] > '9' || s[at + 1] < '0' || s[at + 1] > '9') return false;
  value = (s[at] - '0') * 10 + (s[at + 1] - '0');
  return true;
}

}  // namespace

void SetLogDirectorySource(LogDirectorySource source) {
  std::lock_guard<std::mutex> lock(SourceMutex());
  Source() = std::move(source);
}

std::string CurrentLogDirectory() {
  LogDirectorySource source;
  {
    std::lock_guard<std::mutex> lock(SourceMutex());
    source = Source();
  }
  return source ? NormalizeDirectory(source()) : std::string();
}

TLogManager::TLogManager() : clock_(&platform::Clock::System()) {}
TLogManager::TLogManager(const platform::Clock& clock) : clock_(&clock) {}

std::string TLogManager::FileNameFor(LogKind kind, const platform::LocalTime& t) {
  return Format("%.2d_%.2d_%.4d_%s.log", {t.day, t.month, t.year, kind == LogKind::Traffic ? "flow" : "service"});
}

std::string TLogManager::StampText(const platform::LocalTime& t) {
  return Format("%.2d.%.2d.%.4d %.2d:%.2d:%.2d", {t.day, t.month, t.year, t.hour, t.minute, t.second});
}

bool OpenLogFile(const std::string& fileName, platform::File& out) {
  const std::string dir = CurrentLogDirectory();
  const std::string path = dir.empty() ? fileName : platform::JoinPath(dir, fileName);
  for (int attempt = 0; attempt < 1001; ++attempt) {
    switch (platform::OpenExclusiveWriter(path, true, out)) {
      case platform::OpenStatus::Ok:
        if (out.SeekToEnd()) return true;
        out.Close();
        return false;
      case platform::OpenStatus::PathNotFound:
        if (dir.empty() || !platform::CreateDirectories(dir)) return false;
        break;
      case platform::OpenStatus::SharingViolation:
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        break;
      case platform::OpenStatus::OtherError:
        return false;
    }
  }
  return false;
}

bool TLogManager::WriteTraffic(int direction, const char* data, int32_t count) {
  const platform::LocalTime now = clock_->Local();
  platform::File file;
  if (!OpenLogFile(FileNameFor(LogKind::Traffic, now), file)) return false;
  const std::string header = "\r\n---< " + StampText(now) + (direction == kAnswer ? " A " : " R ") + firstLabel_ +
                             " - " + secondLabel_ + " >---\r\n";
  if (!file.WriteAll(header.data(), header.size())) return false;
  if (count <= 0 || data == nullptr) return true;
  return file.WriteAll(data, static_cast<size_t>(count));
}

bool TLogManager::WriteService(const std::string& text) {
  const platform::LocalTime now = clock_->Local();
  const std::string line = StampText(now) + " " + firstLabel_ + " - " + secondLabel_ + " : " + text + "\r\n";
  platform::File file;
  if (!OpenLogFile(FileNameFor(LogKind::Service, now), file)) return false;
  return file.WriteAll(line.data(), line.size());
}

void TLogManager::ShowLogError(const std::string& text) {
  bool expected = false;
  if (!g_errorBoxShown.compare_exchange_strong(expected, true)) return;
  try {
    platform::ShowMessageBox(platform::ApplicationTitle(), text, platform::MessageBoxKind::Warning);
  } catch (...) {
  }
  g_errorBoxShown = false;
}

int PurgeLogFiles(const std::string& directory, int intervalDays, const platform::LocalTime& today) {
  const std::string dir = NormalizeDirectory(directory);
  const int32_t todayNumber = platform::DayNumber(today.year, today.month, today.day);
  int deleted = 0;
  for (const std::string& name : platform::ListFiles(dir.empty() ? "." : dir)) {
    // "??_??_????_*.log"
    if (name.size() < 15 || name[2] != '_' || name[5] != '_' || name[10] != '_') continue;
    if (name.compare(name.size() - 4, 4, ".log") != 0) continue;
    int day = 0, month = 0, hi = 0, lo = 0;
    if (!TwoDigits(name, 0, day) || !TwoDigits(name, 3, month) || !TwoDigits(name, 6, hi) ||
        !TwoDigits(name, 8, lo))
      continue;
    const int year = hi * 100 + lo;
    if (!platform::IsValidDate(year, month, day)) continue;
    if (static_cast<int64_t>(platform::DayNumber(year, month, day)) + intervalDays < todayNumber) {
      if (platform::RemoveFile(dir.empty() ? name : platform::JoinPath(dir, name))) ++deleted;
    }
  }
  return deleted;
}

}  // namespace vg
