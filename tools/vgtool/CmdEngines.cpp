// vgtool engines / engine-params: what the crypto library offers, as the tunnel sees it.
#include <iomanip>
#include <iostream>
#include <sstream>

#include "Command.h"
#include "platform/CodePage.h"
#include "protection/CipherhubLib.h"
#include "protection/fcrypt.h"

namespace {

// Terminal columns of a system text once shown as UTF-8 (Cyrillic letters are two bytes there).
std::string Padded(const std::string& cp1251, size_t width) {
  std::string text = vg::platform::Cp1251ToUtf8(cp1251);
  if (cp1251.size() < width) text.append(width - cp1251.size(), ' ');
  return text;
}

const char* StatusText(int32_t status) {
  switch (status) {
    case 1: return "available";
    case 0: return "not available";
    default: return "status unknown (library failure)";
  }
}

// The library's own load error, for a list that came back empty.
[[noreturn]] void RaiseLoadError() {
  vg::chlib::GetMaxCryptoEngineTypeLength();
  throw vg::ELoadCipherhubError("the crypto library lists no engine types");
}

int ListEngines(const vgtool::Args& args) {
  if (!args.empty()) throw vgtool::UsageError{"no arguments expected"};
  {
    const vg::TCryptoEngineList list;
    if (list.Count() == 0) RaiseLoadError();
    size_t width = 0;
    for (const auto& name : list.Names()) width = std::max(width, name.size());
    for (int i = 0; i < list.Count(); ++i) {
      const int32_t status = vg::chlib::GetCryptoEngineStatus(list[i].c_str());
      std::cout << std::setw(2) << i + 1 << "  " << Padded(list[i], width) << "  " << StatusText(status) << "\n";
    }
  }
  vg::chlib::Unbind();
  return 0;
}

int ListParams(const vgtool::Args& args) {
  if (args.size() != 1) throw vgtool::UsageError{"expected one engine type name"};
  const std::string typeName = vg::platform::Utf8ToCp1251(args[0]);
  {
    vg::TCryptoParamsEditorLink link;
    link.SetEngineType(typeName);
    if (typeName.empty() || link.EngineType() != typeName) {
      std::cerr << "vgtool: the engine type \"" << args[0]
                << "\" cannot be opened (unknown name, or its engine module is missing or incomplete)\n";
      return 1;
    }
    size_t width = 4;
    for (int i = 0; i < link.ParamCount(); ++i) {
      std::string name;
      link.ParamName(i, name);
      width = std::max(width, name.size());
    }
    std::cout << "Engine type: " << args[0] << "\n";
    std::cout << "No.  " << Padded("Name", width) << "  Default value\n";
    for (int i = 0; i < link.ParamCount(); ++i) {
      std::string name;
      link.ParamName(i, name);
      std::ostringstream number;
      number << std::left << std::setw(3) << i + 1;
      std::cout << number.str() << "  " << Padded(name, width) << "  "
                << vg::platform::Cp1251ToUtf8(link.DefaultValue(i)) << "\n";
    }
  }
  vg::chlib::Unbind();
  return 0;
}

vgtool::Registration engines("engines", "engines  (every engine type of the crypto library and whether it is available)",
                             ListEngines);
vgtool::Registration params("engine-params", "engine-params NAME  (parameters of an engine type with their defaults)",
                            ListParams);

}  // namespace
