#pragma once
// Binding of the system's interface-list service and the network mask lookup built on it.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/Net.h"
#include "platform/SysUtils.h"

namespace vg {

class EWS2ImpError : public Exception {
 public:
  using Exception::Exception;
  // "Не могу загрузить библиотеку winsocket2".
  static EWS2ImpError CannotLoad();
  // "Не могу получить функцию '<name>' из библиотеки winsocket2".
  static EWS2ImpError MissingFunction(std::string_view name);
};

// The bound service; construction fails with EWS2ImpError when the library or a function is missing.
class TWS2_Dll {
 public:
  TWS2_Dll();
  // Every running interface with its address and mask; 0 or a socket error code.
  int InterfaceList(std::vector<platform::InterfaceEntry>& entries) const;

 private:
  std::optional<platform::InterfaceLister> lister_;
};

// The network mask of the local interface that has this address (network byte order); 0 when no
// interface has it or the list cannot be read.
uint32_t InterfaceMask(uint32_t address);

}  // namespace vg
