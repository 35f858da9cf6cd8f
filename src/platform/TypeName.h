#pragma once
// Names of exception classes as the system's messages show them ("EConfigException").
#include <exception>
#include <string>

namespace vg::platform {

// The dynamic class name of e without namespaces.
std::string ClassNameOf(const std::exception& e);

}  // namespace vg::platform
