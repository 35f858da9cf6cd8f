#include "platform/TypeName.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>

namespace vg::platform {

std::string ClassNameOf(const std::exception& e) {
  const char* raw = typeid(e).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(raw, nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : raw;
  std::free(demangled);
  // Drop the namespaces of the class itself (not those inside template arguments).
  const size_t angle = name.find('<');
  const size_t colons = name.rfind("::", angle == std::string::npos ? std::string::npos : angle);
  if (colons != std::string::npos) name.erase(0, colons + 2);
  return name;
}

}  // namespace vg::platform
