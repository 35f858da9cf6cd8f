// vgtool ini get|set|list: reads and edits a settings file the way the tunnel does.
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Command.h"
#include "config/Cfg_Ini.h"
#include "platform/CodePage.h"

namespace {

// Opens SECTION (a backslash-separated path whose first name is the root) as the tunnel
// opens its sections: the root directly, every further level through OpenSection.
std::unique_ptr<vg::TConfigStorage> OpenPath(const std::string& file, const std::string& section, bool write) {
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos <= section.size()) {
    size_t bs = section.find('\\', pos);
    if (bs == std::string::npos) bs = section.size();
    if (bs > pos) names.push_back(section.substr(pos, bs - pos));
    pos = bs + 1;
  }
  if (names.empty()) throw vgtool::UsageError{"empty section path"};
  std::unique_ptr<vg::TConfigStorage> storage = vg::OpenIniStorage(file, names[0], !write, false);
  for (size_t i = 1; i < names.size(); ++i) storage = storage->OpenSection(names[i], !write, write);
  return storage;
}

void RequireFile(const std::string& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec))
    throw vg::Exception("no settings file \"" + vg::platform::Utf8ToCp1251(file) + "\"");
}

vgtool::Registration registration(
    "ini",
    "ini get FILE SECTION NAME | set FILE SECTION NAME VALUE | list FILE SECTION\n"
    "         (SECTION like \"Client\\TCP options\"; untyped items)",
    [](const vgtool::Args& args) {
      if (args.size() < 3) throw vgtool::UsageError{"expected an action, a file and a section"};
      const std::string& action = args[0];
      const std::string& file = args[1];
      const std::string section = vg::platform::Utf8ToCp1251(args[2]);
      if (action == "get" && args.size() == 4) {
        RequireFile(file);
        auto storage = OpenPath(file, section, false);
        vgtool::PrintSystem(std::cout, storage->ReadString(vg::platform::Utf8ToCp1251(args[3])));
        std::cout << "\n";
        return 0;
      }
      if (action == "set" && args.size() == 5) {
        auto storage = OpenPath(file, section, true);
        storage->WriteString(vg::platform::Utf8ToCp1251(args[3]), vg::platform::Utf8ToCp1251(args[4]));
        return 0;
      }
      if (action == "list" && args.size() == 3) {
        RequireFile(file);
        auto storage = OpenPath(file, section, false);
        std::vector<std::string> names;
        storage->ListSections(names);
        for (const std::string& n : names) std::cout << "[" << vg::platform::Cp1251ToUtf8(n) << "]\n";
        storage->ListItems(names);
        for (const std::string& n : names)
          std::cout << vg::platform::Cp1251ToUtf8(n) << "=" << vg::platform::Cp1251ToUtf8(storage->ReadString(n))
                    << "\n";
        return 0;
      }
      throw vgtool::UsageError{"unknown action or wrong number of arguments"};
    });

}  // namespace
