#pragma once
// The traffic and service logs: daily files, one record per open-append-close.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Clock.h"
#include "platform/Files.h"

namespace vg {

// Gives the log directory; the program installs one that reads the settings under their lock,
// so a changed setting takes effect with the next record.
using LogDirectorySource = std::function<std::string()>;
void SetLogDirectorySource(LogDirectorySource source);
std::string CurrentLogDirectory();

enum class LogKind { Traffic, Service };

class TLogManager {
 public:
  static constexpr int kAnswer = 0;
  static constexpr int kRequest = 1;

  TLogManager();
  explicit TLogManager(const platform::Clock& clock);
  virtual ~TLogManager() = default;

  const std::string& FirstLabel() const { return firstLabel_; }
  const std::string& SecondLabel() const { return secondLabel_; }
  void SetFirstLabel(std::string label) { firstLabel_ = std::move(label); }
  void SetSecondLabel(std::string label) { secondLabel_ = std::move(label); }

  // Direction 0 is an answer ("A"), 1 a request ("R"); true when header and message were written whole.
  bool WriteTraffic(int direction, const char* data, int32_t count);
  bool WriteTraffic(int direction, const std::string& message) {
    return WriteTraffic(direction, message.data(), static_cast<int32_t>(message.size()));
  }
  // One service line; true when the whole line was written.
  bool WriteService(const std::string& text);

  // Shows a log failure in a message box; while one is open further calls return at once.
  static void ShowLogError(const std::string& text);

  // dd_mm_yyyy_flow.log / dd_mm_yyyy_service.log for the given local date.
  static std::string FileNameFor(LogKind kind, const platform::LocalTime& t);
  // Fixed date and time text of the record headers: dd.mm.yyyy hh:nn:ss
  static std::string StampText(const platform::LocalTime& t);

 private:
  const platform::Clock* clock_;
  std::string firstLabel_ = "<unknown>";
  std::string secondLabel_ = "<unknown>";
};

// Opens today's log file by name in the current log directory, creating the directory when it
// is missing and waiting 1 ms for another writer at most 1000 times.
bool OpenLogFile(const std::string& fileName, platform::File& out);

// Deletes the files of the log directory named "dd_mm_yyyy_*.log" whose date plus interval
// days lies before today; names whose date does not parse stay. Returns how many were deleted.
int PurgeLogFiles(const std::string& directory, int intervalDays, const platform::LocalTime& today);

}  // namespace vg
