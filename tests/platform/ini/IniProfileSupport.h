#pragma once
// Helpers and the fixture shared by the INI profile suites.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/IniProfile.h"
#include "support/ScratchDir.h"

namespace profile = vg::platform::profile;
using vgtest::ReadFile;
using vgtest::WriteFile;

namespace {

std::string Get(const std::string& file, const std::string& section, const std::string& key,
                const std::string& def = "<none>") {
  char buf[4096];
  const uint32_t n = profile::ReadValue(file, section, key, def, buf, sizeof buf);
  return std::string(buf, n);
}

std::vector<std::string> Split(const char* buf, uint32_t n) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < n && buf[pos]) {
    out.emplace_back(buf + pos);
    pos += out.back().size() + 1;
  }
  return out;
}

[[maybe_unused]] std::vector<std::string> Sections(const std::string& file) {
  char buf[4096];
  return Split(buf, profile::ReadSectionNames(file, buf, sizeof buf));
}

std::vector<std::string> Keys(const std::string& file, const std::string& section) {
  char buf[4096];
  return Split(buf, profile::ReadKeyNames(file, section, buf, sizeof buf));
}

using Names = std::vector<std::string>;

class IniProfile : public ::testing::Test {
 protected:
  void TearDown() override { vg::platform::SetReplaceFaultHook(nullptr); }
  vgtest::ScratchDir dir;
  std::string file = dir.File("test.ini");
};

}  // namespace
