#include "TestHub.h"

#include <random>
#include <stdexcept>

#include "platform/DynLib.h"
#include "platform/Environment.h"

namespace chubtest {

ScratchDir::ScratchDir() {
  const fs::path base = fs::path(VG_TEST_BUILD_DIR) / "tests" / "scratch";
  fs::create_directories(base);
  std::mt19937_64 random(std::random_device{}());
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const fs::path candidate = base / ("chub-" + std::to_string(random() % 1000000000));
    // false for a name that is already there: another test's directory.
    if (fs::create_directory(candidate)) path_ = candidate;
  }
  if (path_.empty()) throw std::runtime_error("no scratch directory could be made");
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

fs::path ModuleFile(const std::string& stem) { return stem + CHUB_MODULE_SUFFIX; }
fs::path MockModule(const std::string& name) { return fs::path(CHUB_MOCK_DIR) / ModuleFile(name); }
fs::path EmulationModule() { return fs::path(VG_TEST_BIN_DIR) / ModuleFile("engmod01"); }
fs::path CipherHubLibrary() { return fs::path(VG_TEST_BIN_DIR) / ModuleFile("cipherhub"); }
fs::path TestTool(const std::string& name) { return fs::path(CHUB_MOCK_DIR) / ProgramFile(name); }
fs::path ProgramFile(const std::string& stem) { return stem + CHUB_PROGRAM_SUFFIX; }
std::string Normal(const fs::path& path) { return fs::absolute(path).lexically_normal().make_preferred().string(); }

Hub::Hub(const ScratchDir& dir, const fs::path& relative) {
  const fs::path copy = dir.Put(CipherHubLibrary(), relative);
  directory_ = copy.parent_path();
  library_ = vg::platform::LoadLibraryFile(copy.string());
  if (!library_) throw std::runtime_error("cannot load cipherhub copy: " + vg::platform::LastLibraryError());
#define CHUB_API_BIND(name)                                                                        \
  api_.name = reinterpret_cast<decltype(api_.name)>(vg::platform::LibrarySymbol(library_, #name)); \
  if (api_.name) ++resolved_;
  CH_EXPORTS(CHUB_API_BIND)
#undef CHUB_API_BIND
}

Hub::~Hub() { Unload(); }

void Hub::Unload() {
  vg::platform::FreeLibraryFile(library_);
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

SearchPathGuard::SearchPathGuard()
    : saved_(vg::platform::ReadEnvironmentVariable(vg::platform::SearchPathVariableName())) {}

SearchPathGuard::~SearchPathGuard() {
  vg::platform::WriteEnvironmentVariable(vg::platform::SearchPathVariableName(), saved_.value_or(""));
}

}  // namespace chubtest
