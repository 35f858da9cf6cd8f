#include "sockets/WS2_Imp.h"

namespace vg {

EWS2ImpError EWS2ImpError::CannotLoad() { return EWS2ImpError(VGT("Не могу загрузить библиотеку winsocket2")); }

EWS2ImpError EWS2ImpError::MissingFunction(std::string_view name) {
  return EWS2ImpError(Format(VGT("Не могу получить функцию '%s' из библиотеки winsocket2"), {name}));
}

TWS2_Dll::TWS2_Dll() {
  try {
    lister_.emplace();
  } catch (const platform::NetBindError& e) {
    if (e.Missing() == platform::NetBindError::What::Library) throw EWS2ImpError::CannotLoad();
    throw EWS2ImpError::MissingFunction(e.Function());
  }
}

int TWS2_Dll::InterfaceList(std::vector<platform::InterfaceEntry>& entries) const { return lister_->List(entries); }

uint32_t InterfaceMask(uint32_t address) {
  try {
    const TWS2_Dll dll;
    std::vector<platform::InterfaceEntry> entries;
    if (dll.InterfaceList(entries) != 0) return 0;
    const std::string wanted = platform::DottedText(address);
    for (const auto& e : entries)
      if (platform::DottedText(e.address) == wanted) return e.mask;
  } catch (...) {
    // The mask is only a hint for the proxy bypass; without it nothing counts as local.
  }
  return 0;
}

}  // namespace vg
