#pragma once
// The process's own environment variables. Changes reach this process and the child
// processes it starts afterwards, nothing else.
#include <optional>
#include <string>

namespace vg::platform {

// Value of the variable, or nothing when it is not set.
std::optional<std::string> ReadEnvironmentVariable(const std::string& name);

// Sets the variable; false when the system refuses (for instance an invalid name).
bool WriteEnvironmentVariable(const std::string& name, const std::string& value);

// Name of the variable that holds the system's program search list, and its list separator.
const char* SearchPathVariableName();
char SearchPathListSeparator();

}  // namespace vg::platform
