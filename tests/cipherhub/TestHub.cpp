#include "TestHub.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <stdexcept>
#include <vector>

namespace chubtest {

ScratchDir::ScratchDir() {
  fs::path base = fs::path(VG_TEST_BUILD_DIR) / "tests" / "scratch";
  fs::create_directories(base);
  std::string pattern = (base / "chub-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!::mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

fs::path ScratchDir::Put(const fs::path& source, const fs::path& relative) const {
  const fs::path target = path_ / relative;
  fs::create_directories(target.parent_path());
  fs::copy_file(source, target, fs::copy_options::overwrite_existing);
  return target;
}

fs::path MockModule(const std::string& name) { return fs::path(CHUB_MOCK_DIR) / (name + ".so"); }
fs::path EmulationModule() { return fs::path(VG_TEST_BIN_DIR) / "engmod01.so"; }
fs::path CipherHubLibrary() { return fs::path(VG_TEST_BIN_DIR) / "cipherhub.so"; }
fs::path TestTool(const std::string& name) { return fs::path(CHUB_MOCK_DIR) / name; }

Hub::Hub(const ScratchDir& dir, const fs::path& relative) {
  const fs::path copy = dir.Put(CipherHubLibrary(), relative);
  directory_ = copy.parent_path();
  library_ = ::dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library_) throw std::runtime_error(std::string("cannot load cipherhub copy: ") + ::dlerror());
#define CHUB_API_BIND(name)                                                    \
  api_.name = reinterpret_cast<decltype(api_.name)>(::dlsym(library_, #name)); \
  if (api_.name) ++resolved_;
  CH_EXPORTS(CHUB_API_BIND)
#undef CHUB_API_BIND
}

Hub::~Hub() { Unload(); }

void Hub::Unload() {
  if (library_) ::dlclose(library_);
  library_ = nullptr;
}

std::string Report(const Hub& hub, CHEngineHandle engine) {
  std::string buffer(8192, '\0');
  if (hub->GetReport(engine, nullptr, buffer.data()) != 0) return "(report failed)";
  buffer.resize(buffer.find('\0'));
  return buffer;
}

std::string Field(const std::string& record, const std::string& key) {
  const std::string marker = key + "=";
  size_t pos = 0;
  while ((pos = record.find(marker, pos)) != std::string::npos) {
    if (pos == 0 || record[pos - 1] == ';') {
      const size_t start = pos + marker.size();
      const size_t end = record.find(';', start);
      return record.substr(start, end == std::string::npos ? std::string::npos : end - start);
    }
    pos += marker.size();
  }
  return {};
}

bool IsLoaded(const fs::path& path) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!handle) return false;
  ::dlclose(handle);
  return true;
}

}  // namespace chubtest
