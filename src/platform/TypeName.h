#pragma once
// Names of the program's classes as its messages show them ("EConfigException", "TQSClientConfig").
#include <exception>
#include <string>
#include <typeinfo>

namespace vg::platform {

// The class name of a type without namespaces (those inside template arguments stay).
std::string ClassNameOf(const std::type_info& type);
// The dynamic class name of an exception.
inline std::string ClassNameOf(const std::exception& e) { return ClassNameOf(typeid(e)); }

}  // namespace vg::platform
