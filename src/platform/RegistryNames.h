#pragma once
// Key paths and name rules shared by the registry backends (not part of the registry interface).
#include <string_view>
#include <vector>

namespace vg::platform::registry {

// The parts of a backslash-separated key path; empty parts (doubled or edge backslashes) dropped.
std::vector<std::string_view> SplitPath(std::string_view path);
// A key name: 1 to 255 characters, no control characters, no backslash.
bool ValidKeyName(std::string_view name);
// A value name: at most 16383 characters and no NUL.
bool ValidValueName(std::string_view name);

}  // namespace vg::platform::registry
