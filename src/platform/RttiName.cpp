#include "platform/RttiName.h"

#include <cxxabi.h>

#include <cstdlib>

namespace vg::platform {

std::string ClassNameOf(const std::type_info& type) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : type.name();
  std::free(demangled);
  const size_t angle = name.find('<');
  const size_t colons = name.rfind("::", angle == std::string::npos ? std::string::npos : angle);
  if (colons != std::string::npos) name.erase(0, colons + 2);
  return name;
}

}  // namespace vg::platform
