#include "cipherhub/RootPath.h"

#include <algorithm>
#include <cctype>

#include "platform/DynLib.h"
#include "platform/Environment.h"
#include "platform/ProgramInfo.h"

namespace vg::cipherhub {

namespace {

std::string WithTrailingSeparator(std::string path) {
  if (path.empty() || platform::kPathSeparators.find(path.back()) == std::string_view::npos)
    path.push_back(platform::kPathSeparator);
  return path;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// True when `entry` occurs in `list` as a whole entry: it starts the list or follows a
// separator, and it ends the list or is followed by one.
bool ContainsEntry(std::string_view list, std::string_view entry, char separator) {
  if (entry.empty()) return false;
  for (size_t pos = list.find(entry); pos != std::string_view::npos; pos = list.find(entry, pos + 1)) {
    const size_t end = pos + entry.size();
    const bool startsEntry = pos == 0 || list[pos - 1] == separator;
    const bool endsEntry = end == list.size() || list[end] == separator;
    if (startsEntry && endsEntry) return true;
  }
  return false;
}

}  // namespace

TRootPath::TRootPath(std::string programDir) : programDir_(std::move(programDir)) {
  if (!programDir_.empty()) programDir_ = WithTrailingSeparator(programDir_);
}

TRootPath::TRootPath() : TRootPath(platform::ProgramDir()) {}

void TRootPath::SetRoot(const char* path) {
  const std::string given = path ? path : "";
  const std::string wanted = WithTrailingSeparator(given);
  if (!root_.empty()) {
    // "keys\" and "keys/" name the same root where both separators are accepted.
    if (root_.compare(0, root_.size() - 1, wanted, 0, wanted.size() - 1) == 0) return;
    throw ERootPathError(Format("Could not set NorvelRoot to '%s'. Already set to '%s'.", {given, root_}));
  }
  root_ = wanted;
  const std::vector<std::string> added = {root_ + "EXE" + platform::kPathSeparator,
                                          root_ + "SYSTEM" + platform::kPathSeparator,
                                          root_ + "USER" + platform::kPathSeparator};
  searchDirs_.insert(searchDirs_.end(), added.begin(), added.end());
  AppendToProcessSearchPath(added);
}

std::string TRootPath::ResolveModulePath(const std::string& fileName) const {
  if (fileName.find_first_of(platform::kPathSeparators) != std::string::npos) return fileName;
  if (!programDir_.empty()) {
    const std::string beside = programDir_ + fileName;
    if (platform::LibraryFileExists(beside)) return beside;
  }
  for (const auto& dir : searchDirs_) {
    const std::string candidate = dir + fileName;
    if (platform::LibraryFileExists(candidate)) return candidate;
  }
  return fileName;
}

std::string AppendToSearchPath(std::string_view current, const std::vector<std::string>& dirs, char separator) {
  const std::string original = Lower(current);
  std::string text(current);
  for (const auto& dir : dirs) {
    if (text.empty()) {
      text = dir;
    } else if (!ContainsEntry(original, Lower(dir), separator)) {
      text.push_back(separator);
      text += dir;
    }
  }
  return text;
}

void AppendToProcessSearchPath(const std::vector<std::string>& dirs) {
  const char* name = platform::SearchPathVariableName();
  const std::string current = platform::ReadEnvironmentVariable(name).value_or(std::string());
  const std::string updated = AppendToSearchPath(current, dirs, platform::SearchPathListSeparator());
  if (Lower(updated) != Lower(current)) platform::WriteEnvironmentVariable(name, updated);
}

}  // namespace vg::cipherhub
