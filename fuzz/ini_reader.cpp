// The INI reader on arbitrary file content: the input's first line holds queries (section,
// key), the rest is the file. Every read path of the storage runs over it, and then one edit,
// whose result must still hold every other section of the file.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "config/Cfg_Ini.h"
#include "platform/IniProfile.h"

namespace {

const std::string& FilePath() {
  static const std::string path = [] {
    // A memory file system keeps the writes fast (nothing to flush to a disk).
    char tmpl[] = "/dev/shm/vgfuzz-ini-XXXXXX";
    if (::access("/dev/shm", W_OK) != 0) std::strcpy(tmpl, "/tmp/vgfuzz-ini-XXXXXX");
    const char* dir = ::mkdtemp(tmpl);
    if (!dir) std::abort();
    return std::string(dir) + "/fuzz.ini";
  }();
  return path;
}

std::vector<std::string> Sections(const std::string& file) {
  std::vector<char> buf(64);
  uint32_t n;
  while ((n = vg::platform::profile::ReadSectionNames(file, buf.data(), static_cast<uint32_t>(buf.size()))) + 2 >=
         buf.size())
    buf.resize(buf.size() * 2);
  std::vector<std::string> out;
  for (size_t pos = 0; pos < n && buf[pos];) {
    out.emplace_back(buf.data() + pos);
    pos += out.back().size() + 1;
  }
  return out;
}

void Exercise(vg::TConfigStorage& s, const std::string& key) {
  std::vector<std::string> list;
  s.ListSections(list);
  s.ListItems(list);
  for (size_t i = 0; i < list.size() && i < 16; ++i) {
    const std::string& item = list[i];
    try {
      s.ItemKinds(item);
      s.ReadString(item);
      s.ReadIntegerDef(item, 0);
      s.ReadBoolDef(item, false);
      unsigned char buf[16];
      if (s.BinarySize(item) < 4096) s.ReadBinary(item, buf, sizeof buf);
    } catch (const vg::EConfigException&) {
    }
  }
  try {
    s.ReadString(key);
  } catch (const vg::EConfigException&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t nl = input.find('\n');
  const std::string query = nl == std::string::npos ? input : input.substr(0, nl);
  const std::string content = nl == std::string::npos ? std::string() : input.substr(nl + 1);
  const size_t tab = query.find('\t');
  const std::string section = query.substr(0, tab);
  const std::string key = tab == std::string::npos ? "k" : query.substr(tab + 1);

  const std::string& file = FilePath();
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
  }
  for (bool typed : {false, true}) {
    vg::TIniConfigStorage root(file, section, true, typed);
    Exercise(root, key);
    std::vector<std::string> subs;
    root.ListSections(subs);
    for (size_t i = 0; i < subs.size() && i < 4; ++i) {
      auto child = root.OpenSection(subs[i], true, false);
      Exercise(*child, key);
    }
  }

  // An edit keeps every section that was there (the edited one may only gain).
  const std::vector<std::string> before = Sections(file);
  if (vg::platform::profile::WriteValue(file, section, key, "value")) {
    const std::vector<std::string> after = Sections(file);
    for (const std::string& s : before) {
      bool found = false;
      for (const std::string& a : after) found = found || a == s;
      if (!found) std::abort();
    }
    char buf[16];
    const uint32_t n = vg::platform::profile::ReadValue(file, section, key, "", buf, sizeof buf);
    if (std::string(buf, n) != "value") std::abort();
  }
  return 0;
}
