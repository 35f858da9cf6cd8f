// vgtool engines: the engine types cipherhub offers and whether each one's module is usable.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "Command.h"
#include "cipherhub/cipherhub.h"
#include "platform/DynLib.h"
#include "platform/ProgramInfo.h"

namespace {

int ListEngines(const vgtool::Args& args) {
  if (!args.empty()) throw vgtool::UsageError{"engines takes no arguments"};
  namespace p = vg::platform;
  const std::string path = p::JoinPath(p::ProgramDir(), p::ModuleFileName("cipherhub.dll"));
  p::LibraryHandle hub = p::LoadLibraryFile(path);
  if (!hub) {
    std::cerr << "vgtool: cannot load " << path << ": " << p::LastLibraryError() << "\n";
    return 2;
  }
  auto types = reinterpret_cast<decltype(&GetCryptoEngineTypes)>(p::LibrarySymbol(hub, "GetCryptoEngineTypes"));
  auto status = reinterpret_cast<decltype(&GetCryptoEngineStatus)>(p::LibrarySymbol(hub, "GetCryptoEngineStatus"));
  auto length = reinterpret_cast<decltype(&GetMaxCryptoEngineTypeLength)>(
      p::LibrarySymbol(hub, "GetMaxCryptoEngineTypeLength"));
  if (!types || !status || !length) {
    std::cerr << "vgtool: " << path << " lacks the engine list exports\n";
    p::FreeLibraryFile(hub);
    return 2;
  }
  std::vector<char> name(static_cast<size_t>(length()) + 1, '\0');
  for (int32_t i = 1; i <= 100; ++i) {
    name[0] = '\0';
    types(i, name.data());
    if (name[0] == '\0') break;
    const int32_t s = status(name.data());
    char number[16];
    std::snprintf(number, sizeof number, "%3d  ", i);
    std::cout << number;
    vgtool::PrintSystem(std::cout, name.data());
    std::cout << "  " << (s == 1 ? "available" : s == 0 ? "unavailable" : "error") << "\n";
  }
  p::FreeLibraryFile(hub);
  return 0;
}

vgtool::Registration reg("engines", "engines  (the engine types of cipherhub and whether each is available)",
                         ListEngines);

}  // namespace
