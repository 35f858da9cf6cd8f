#pragma once
// Plain text files written line by line (reports), opened once per nesting of Open/Close.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Files.h"
#include "platform/SysUtils.h"

namespace vg {

// Raised by Write/WriteLine when the file could not be opened after every attempt.
class EEasyLogError : public Exception {
 public:
  using Exception::Exception;
};

class TEasyLog {
 public:
  explicit TEasyLog(std::string fileName);
  virtual ~TEasyLog();
  TEasyLog(const TEasyLog&) = delete;
  TEasyLog& operator=(const TEasyLog&) = delete;

  virtual void Open();
  virtual void Close();
  virtual std::string LinePrefix() const { return {}; }
  virtual void Write(const char* data, int32_t count);
  void WriteLine(const std::string& text);

  const std::string& FileName() const { return fileName_; }
  int32_t OpenCount() const { return openCount_; }
  bool IsOpen() const { return file_.IsOpen(); }

  // Replaces the 256 ms wait between open attempts (tests make it instant).
  void SetRetryWait(std::function<void()> wait) { wait_ = std::move(wait); }

 private:
  void Append(const char* data, size_t count);

  std::string fileName_;
  platform::File file_;
  int32_t openCount_ = 0;
  std::function<void()> wait_;
};

class TTimedLog : public TEasyLog {
 public:
  TTimedLog(std::string fileName, std::string prefix) : TEasyLog(std::move(fileName)), prefix_(std::move(prefix)) {}
  std::string LinePrefix() const override { return prefix_; }

 private:
  std::string prefix_;
};

}  // namespace vg
