#include "config/EasyLog.h"

#include <chrono>
#include <thread>

namespace vg {

TEasyLog::TEasyLog(std::string fileName) : fileName_(std::move(fileName)) {}

TEasyLog::~TEasyLog() {
  // Destruction closes once, as a matching Close of the owner's last Open.
  if (openCount_ > 0) --openCount_;
  if (openCount_ == 0) file_.Close();
}

void TEasyLog::Open() {
  if (!file_.IsOpen() && openCount_ == 0) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      if (platform::OpenExclusiveWriter(fileName_, false, file_) == platform::OpenStatus::Ok && file_.SeekToEnd())
        break;
      file_.Close();
      if (platform::OpenExclusiveWriter(fileName_, true, file_) == platform::OpenStatus::Ok && file_.SeekToEnd())
        break;
      file_.Close();
      if (wait_)
        wait_();
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(256));
    }
  }
  ++openCount_;
}

void TEasyLog::Close() {
  --openCount_;
  if (openCount_ == 0) file_.Close();
}

void TEasyLog::Append(const char* data, size_t count) {
  if (!file_.IsOpen())
    throw EEasyLogError(Format(VGT("Не удалось открыть файл \"%s\" для записи"), {fileName_}));
  if (!file_.WriteAll(data, count))
    throw EEasyLogError(Format(VGT("Ошибка записи в файл \"%s\""), {fileName_}));
}

void TEasyLog::Write(const char* data, int32_t count) {
  Open();
  try {
    if (count > 0 && data != nullptr) Append(data, static_cast<size_t>(count));
  } catch (...) {
    Close();
    throw;
  }
  Close();
}

void TEasyLog::WriteLine(const std::string& text) {
  Open();
  try {
    const std::string prefix = LinePrefix();
    const std::string line = prefix + text + "\r\n";
    Append(line.data(), line.size());
  } catch (...) {
    Close();
    throw;
  }
  Close();
}

}  // namespace vg
