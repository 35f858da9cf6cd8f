#include "config/Cfg_Abst.h"

#include "platform/TextCase.h"

namespace vg {
namespace {

bool ListHolds(const std::vector<std::string>& list, const std::string& name) {
  for (const std::string& s : list)
    if (platform::SameTextCp1251(s, name)) return true;
  return false;
}

}  // namespace

bool TConfigStorage::SectionExists(const std::string& name) {
  std::vector<std::string> list;
  ListSections(list);
  return ListHolds(list, name);
}

bool TConfigStorage::ItemExists(const std::string& name) {
  std::vector<std::string> list;
  ListItems(list);
  return ListHolds(list, name);
}

int32_t TConfigStorage::ReadIntegerDef(const std::string& name, int32_t def) {
  try {
    return ReadInteger(name);
  } catch (const EConfigException&) {
    return def;
  }
}

std::string TConfigStorage::ReadStringDef(const std::string& name, const std::string& def) {
  try {
    return ReadString(name);
  } catch (const EConfigException&) {
    return def;
  }
}

bool TConfigStorage::ReadBoolDef(const std::string& name, bool def) {
  try {
    return ReadBool(name);
  } catch (const EConfigException&) {
    return def;
  }
}

int TConfig::AddSection(const std::string& name) {
  for (size_t i = 0; i < sections_.size(); ++i)
    if (platform::SameTextCp1251(sections_[i], name)) return static_cast<int>(i);
  sections_.push_back(name);
  return static_cast<int>(sections_.size() - 1);
}

bool TConfig::LoadFrom(TConfigStorage& storage) {
  bool ok = true;
  for (size_t i = 0; i < sections_.size(); ++i) {
    std::unique_ptr<TConfigStorage> section = storage.OpenSection(sections_[i], true, false);
    if (!LoadSection(static_cast<int>(i), *section)) ok = false;
  }
  return ok;
}

bool TConfig::SaveTo(TConfigStorage& storage) {
  bool ok = true;
  for (size_t i = 0; i < sections_.size(); ++i) {
    std::unique_ptr<TConfigStorage> section = storage.OpenSection(sections_[i], false, true);
    if (!SaveSection(static_cast<int>(i), *section)) ok = false;
  }
  return ok;
}

std::unique_ptr<TConfig> TConfig::Clone() const {
  std::unique_ptr<TConfig> copy = CreateEmpty();
  copy->Assign(*this);
  return copy;
}

}  // namespace vg
