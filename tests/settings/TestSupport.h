#pragma once
// Shared by the settings tests: a private registry store and the build's crypto library for
// the whole run, and settings files written from text.
#include <string>

#include "support/ScratchDir.h"

namespace settingstest {

// The registry store directory every test of this program uses (empty at the start).
const std::string& RegistryDir();

// The default settings file of the source tree.
std::string TemplateText();

// A complete settings file: the template with extra lines appended.
std::string SettingsWith(const std::string& extra);

// The template with the line of item removed (the first line starting with "item=").
std::string TemplateWithout(const std::string& item);

// Sets HKEY_LOCAL_MACHINE\Software\NorvelSystems, value Path (no value when path is null);
// RemoveInstallKey deletes the key again.
void SetInstallKey(const char* path);
void RemoveInstallKey();

}  // namespace settingstest
