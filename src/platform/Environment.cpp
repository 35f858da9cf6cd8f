#include "platform/Environment.h"

#include <cstdlib>
#include <mutex>

namespace vg::platform {

namespace {
// getenv/setenv are not safe against each other; every access made through here is serialised.
std::mutex& EnvironmentLock() {
  static std::mutex lock;
  return lock;
}
}  // namespace

std::optional<std::string> ReadEnvironmentVariable(const std::string& name) {
  std::lock_guard<std::mutex> guard(EnvironmentLock());
  const char* value = std::getenv(name.c_str());
  if (!value) return std::nullopt;
  return std::string(value);
}

bool WriteEnvironmentVariable(const std::string& name, const std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  std::lock_guard<std::mutex> guard(EnvironmentLock());
  return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

const char* SearchPathVariableName() { return "PATH"; }

char SearchPathListSeparator() { return ':'; }

}  // namespace vg::platform
