#pragma once
// Readable names of the program's own classes, for messages that name an object's class.
#include <string>
#include <typeinfo>

namespace vg::platform {

// The class name of type without namespaces ("TQSClientConfig").
std::string ClassNameOf(const std::type_info& type);

}  // namespace vg::platform
