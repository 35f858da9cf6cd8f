#include "platform/ProgramInfo.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/VersionInfoFormat.h"

namespace vg::platform {

std::string ProgramPath() {
  std::vector<char> buf(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    buf.resize(buf.size() * 2);
  }
}

std::string ProgramDir() {
  const std::string path = ProgramPath();
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string ProgramFileName() {
  const std::string path = ProgramPath();
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (!out.empty() && out.back() != '/' && !name.empty() && name.front() != '/') out.push_back('/');
  out.append(name);
  return out;
}

namespace {
bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  if (s.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), s.end() - static_cast<ptrdiff_t>(suffix.size()),
                    [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}
}  // namespace

std::string ModuleFileName(std::string_view systemName) {
  std::string name(systemName);
  if (EndsWithNoCase(name, ".so")) return name;
  if (EndsWithNoCase(name, ".dll")) name.resize(name.size() - 4);
  return name + ".so";
}

std::string ProgramFileNameFor(std::string_view systemName) {
  std::string name(systemName);
  if (EndsWithNoCase(name, ".exe")) name.resize(name.size() - 4);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name;
}

FileVersion ReadFileVersion(const std::string& path) {
  FileVersion result;
  std::ifstream in(path, std::ios::binary);
  if (!in) return result;
  // Read in one piece: a character-by-character read takes seconds on a large executable.
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size <= 0) return result;
  in.seekg(0, std::ios::beg);
  std::vector<char> data(static_cast<size_t>(size));
  if (!in.read(data.data(), size)) return result;
  unsigned char marker[16];
  for (int i = 0; i < 16; ++i) marker[i] = static_cast<unsigned char>(~version_detail::kMarkerInverted[i]);
  const char* begin = data.data();
  const char* end = begin + data.size();
  const char* m = reinterpret_cast<const char*>(marker);
  for (const char* p = begin; p < end;) {
    p = std::search(p, end, m, m + 16);
    if (p == end || static_cast<size_t>(end - p) < sizeof(version_detail::Record)) break;
    version_detail::Record r;
    std::memcpy(&r, p, sizeof r);
    if (r.check == version_detail::CheckOf(r.parts)) {
      for (int i = 0; i < 4; ++i) result.parts[static_cast<size_t>(i)] = r.parts[i];
      r.fileVersion[sizeof r.fileVersion - 1] = 0;
      result.text = r.fileVersion;
      result.present = true;
      return result;
    }
    ++p;
  }
  return result;
}

}  // namespace vg::platform
