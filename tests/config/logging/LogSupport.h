#pragma once
// Shared by the logging tests: a settable clock and a log directory of the test's own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "config/fLogMngr.h"
#include "platform/Clock.h"

namespace logtest {

namespace fs = std::filesystem;
using vg::platform::LocalTime;

class FixedClock : public vg::platform::Clock {
 public:
  LocalTime now;
  LocalTime Local() const override { return now; }
};

inline LocalTime At(int y, int mo, int d, int h = 12, int mi = 0, int s = 0, int ms = 0) {
  LocalTime t;
  t.year = y;
  t.month = mo;
  t.day = d;
  t.hour = h;
  t.minute = mi;
  t.second = s;
  t.millisecond = ms;
  t.microsecond = ms * 1000;
  return t;
}

inline std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class LogDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("vglog-" + std::to_string(std::random_device{}()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    dir_ = root_ / "level1" / "level2";
    const std::string dir = dir_.string();
    vg::SetLogDirectorySource([dir] { return dir; });
  }
  void TearDown() override {
    vg::SetLogDirectorySource(nullptr);
    fs::remove_all(root_);
  }
  fs::path root_, dir_;
};

// Splits a traffic file into records by their header marker, checking each is whole.
inline int CountWholeRecords(const std::string& content, const std::string& body) {
  int count = 0;
  size_t pos = 0;
  const std::string marker = "\r\n---< ";
  while ((pos = content.find(marker, pos)) != std::string::npos) {
    const size_t headerEnd = content.find(" >---\r\n", pos);
    if (headerEnd == std::string::npos) return -1;
    const size_t bodyStart = headerEnd + 7;
    if (content.compare(bodyStart, body.size(), body) != 0) return -1;
    pos = bodyStart + body.size();
    ++count;
  }
  return count;
}

}  // namespace logtest
