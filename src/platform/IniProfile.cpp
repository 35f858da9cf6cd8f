#include "platform/IniProfile.h"

#include <cerrno>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/TextCase.h"

namespace vg::platform::profile {
namespace {

thread_local int tLastError = 0;

enum class LineKind { kBlank, kComment, kOther, kHeader, kEntry };

struct Line {
  LineKind kind = LineKind::kOther;
  std::string_view name;   // section name or key, without surrounding blanks
  std::string_view value;  // entry value, without surrounding blanks, quotes still on
  size_t begin = 0;        // first byte of the line
  size_t contentEnd = 0;   // where the line break starts
  size_t next = 0;         // first byte of the following line
};

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

void Classify(std::string_view text, Line& line) {
  std::string_view s = Trim(text.substr(line.begin, line.contentEnd - line.begin));
  line.name = {};
  line.value = {};
  if (s.empty()) {
    line.kind = LineKind::kBlank;
    return;
  }
  if (s[0] == ';') {
    line.kind = LineKind::kComment;
    return;
  }
  line.kind = LineKind::kOther;
  if (s[0] == '[') {
    const size_t close = s.find(']');
    line.kind = LineKind::kHeader;
    line.name = Trim(s.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    return;
  }
  const size_t eq = s.find('=');
  if (eq == std::string_view::npos) return;
  const std::string_view key = Trim(s.substr(0, eq));
  if (key.empty()) return;
  line.kind = LineKind::kEntry;
  line.name = key;
  line.value = Trim(s.substr(eq + 1));
}

// Calls f(line) for each line of text until f returns false.
template <class F>
void ForEachLine(std::string_view text, F&& f) {
  size_t pos = 0;
  const size_t n = text.size();
  Line line;
  while (pos < n) {
    const void* nl = std::memchr(text.data() + pos, '\n', n - pos);
    const size_t lf = nl ? static_cast<size_t>(static_cast<const char*>(nl) - text.data()) : n;
    line.begin = pos;
    line.contentEnd = (lf > pos && text[lf - 1] == '\r') ? lf - 1 : lf;
    line.next = nl ? lf + 1 : n;
    Classify(text, line);
    if (!f(line)) return;
    pos = line.next;
  }
}

// The read paths look only at section headers and at the lines of the wanted section, so a
// read costs little more than finding the line starts.
// onHeader(name) returns whether the following lines are wanted; onEntry(line) returns false
// to stop the scan.
template <class OnHeader, class OnEntry>
void ScanFile(std::string_view text, OnHeader&& onHeader, OnEntry&& onEntry) {
  const size_t n = text.size();
  size_t pos = 0;
  bool wanted = false;
  Line line;
  while (pos < n) {
    const void* nl = std::memchr(text.data() + pos, '\n', n - pos);
    const size_t lf = nl ? static_cast<size_t>(static_cast<const char*>(nl) - text.data()) : n;
    size_t first = pos;
    while (first < lf && IsBlank(text[first])) ++first;
    if (first < lf && text[first] == '[') {
      line.begin = pos;
      line.contentEnd = (lf > pos && text[lf - 1] == '\r') ? lf - 1 : lf;
      Classify(text, line);
      wanted = onHeader(line.name);
    } else if (wanted && first < lf && text[first] != ';') {
      line.begin = pos;
      line.contentEnd = (lf > pos && text[lf - 1] == '\r') ? lf - 1 : lf;
      line.next = nl ? lf + 1 : n;
      Classify(text, line);
      if (line.kind == LineKind::kEntry && !onEntry(line)) return;
    }
    pos = nl ? lf + 1 : n;
  }
}

std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

bool NeedsQuotes(std::string_view v) {
  if (v.empty()) return false;
  if (IsBlank(v.front()) || IsBlank(v.back())) return true;
  return v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
}

// Reads the file into a per-thread buffer; a missing or unreadable file reads as empty.
std::string_view Load(const std::string& file) {
  thread_local std::string content;
  tLastError = ReadWholeFile(file, content);
  if (tLastError != 0) content.clear();
  return content;
}

uint32_t CopyText(std::string_view text, char* buffer, uint32_t size) {
  if (size == 0 || buffer == nullptr) return 0;
  const size_t n = text.size() < size ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<uint32_t>(n);
}

uint32_t CopyList(const std::string& list, char* buffer, uint32_t size) {
  if (size == 0 || buffer == nullptr) return 0;
  if (list.size() + 1 <= size) {
    std::memcpy(buffer, list.data(), list.size());
    buffer[list.size()] = '\0';
    return static_cast<uint32_t>(list.size());
  }
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, list.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

void AddUnique(std::string& list, std::unordered_set<std::string>& seen, std::string_view name) {
  // A name holding a NUL would read as two names in the list, neither of which can be read back.
  if (name.find('\0') != std::string_view::npos) return;
  if (seen.insert(LowerCp1251(name)).second) {
    list.append(name);
    list.push_back('\0');
  }
}

std::string_view LineBreakOf(std::string_view text) {
  const size_t lf = text.find('\n');
  if (lf != std::string_view::npos && (lf == 0 || text[lf - 1] != '\r')) return "\n";
  return "\r\n";
}

bool ValidSection(std::string_view section) {
  return !section.empty() && section.find_first_of(std::string_view("]\r\n\0", 4)) == std::string_view::npos;
}

bool ValidKey(std::string_view key) {
  return !key.empty() && key.front() != ';' && key.front() != '[' &&
         key.find_first_of(std::string_view("=\r\n\0", 4)) == std::string_view::npos;
}

// True for an empty text too, so that a new file does not start with a blank line.
bool LastLineBlank(std::string_view content) {
  if (content.empty()) return true;
  size_t end = content.size();
  if (content[end - 1] == '\n') --end;
  size_t begin = end;
  while (begin > 0 && content[begin - 1] != '\n') --begin;
  std::string_view last = content.substr(begin, end - begin);
  if (!last.empty() && last.back() == '\r') last.remove_suffix(1);
  return Trim(last).empty();
}

bool Finish(int err) {
  tLastError = err;
  return err == 0;
}

}  // namespace

uint32_t ReadValue(const std::string& file, std::string_view section, std::string_view key,
                   std::string_view def, char* buffer, uint32_t size) {
  section = Trim(section);
  key = Trim(key);
  const std::string_view text = Load(file);
  std::string_view result = def;
  ScanFile(
      text, [&](std::string_view name) { return SameTextCp1251(name, section); },
      [&](const Line& line) {
        if (!SameTextCp1251(line.name, key)) return true;
        result = Unquote(line.value);
        return false;
      });
  return CopyText(result, buffer, size);
}

uint32_t ReadSectionNames(const std::string& file, char* buffer, uint32_t size) {
  const std::string_view text = Load(file);
  std::string list;
  std::unordered_set<std::string> seen;
  ScanFile(
      text,
      [&](std::string_view name) {
        if (!name.empty()) AddUnique(list, seen, name);
        return false;
      },
      [](const Line&) { return true; });
  return CopyList(list, buffer, size);
}

uint32_t ReadKeyNames(const std::string& file, std::string_view section, char* buffer, uint32_t size) {
  section = Trim(section);
  const std::string_view text = Load(file);
  std::string list;
  std::unordered_set<std::string> seen;
  ScanFile(
      text, [&](std::string_view name) { return SameTextCp1251(name, section); },
      [&](const Line& line) {
        AddUnique(list, seen, line.name);
        return true;
      });
  return CopyList(list, buffer, size);
}

bool WriteValue(const std::string& file, std::string_view section, std::string_view key,
                std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  if (!ValidSection(section) || !ValidKey(key) ||
      value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
    return Finish(EINVAL);
  std::string entry(key);
  entry.push_back('=');
  if (NeedsQuotes(value)) {
    entry.push_back('"');
    entry.append(value);
    entry.push_back('"');
  } else {
    entry.append(value);
  }
  return Finish(UpdateFileLocked(
      file,
      [&](std::string& content, bool& changed) {
        const std::string_view br = LineBreakOf(content);
        // Every line ends in a break before anything is added after it.
        const bool unterminated = !content.empty() && content.back() != '\n';
        if (unterminated) content.append(content.back() == '\r' ? std::string_view("\n") : br);
        bool inSection = false, sectionFound = false, inFirstBlock = false;
        size_t insertAt = 0;  // after the last entry of the section's first block
        size_t foundBegin = 0, foundEnd = 0;
        std::string foundKey;
        bool keyFound = false;
        ForEachLine(content, [&](const Line& line) {
          if (line.kind == LineKind::kHeader) {
            inSection = SameTextCp1251(line.name, section);
            inFirstBlock = inSection && !sectionFound;
            if (inFirstBlock) {
              sectionFound = true;
              insertAt = line.next;
            }
          } else if (inSection && line.kind == LineKind::kEntry) {
            if (SameTextCp1251(line.name, key)) {
              keyFound = true;
              foundKey = std::string(line.name);
              foundBegin = line.begin;
              foundEnd = line.contentEnd;
              return false;
            }
            if (inFirstBlock) insertAt = line.next;
          }
          return true;
        });
        if (keyFound) {
          // The key keeps the spelling it has in the file.
          const std::string line = foundKey + entry.substr(key.size());
          if (!unterminated && content.compare(foundBegin, foundEnd - foundBegin, line) == 0) return 0;
          content.replace(foundBegin, foundEnd - foundBegin, line);
        } else if (sectionFound) {
          content.insert(insertAt, entry + std::string(br));
        } else {
          if (!LastLineBlank(content)) content.append(br);  // a blank line before the new section
          content.append("[").append(section).append("]").append(br);
          content.append(entry).append(br);
        }
        changed = true;
        return 0;
      },
      true));
}

bool AddSection(const std::string& file, std::string_view section) {
  section = Trim(section);
  if (!ValidSection(section)) return Finish(EINVAL);
  return Finish(UpdateFileLocked(
      file,
      [&](std::string& content, bool& changed) {
        bool found = false;
        ScanFile(
            content,
            [&](std::string_view name) {
              found = found || SameTextCp1251(name, section);
              return false;
            },
            [](const Line&) { return true; });
        if (found) return 0;
        const std::string_view br = LineBreakOf(content);
        if (!content.empty() && content.back() != '\n')
          content.append(content.back() == '\r' ? std::string_view("\n") : br);
        if (!LastLineBlank(content)) content.append(br);  // a blank line before the new section
        content.append("[").append(section).append("]").append(br);
        changed = true;
        return 0;
      },
      true));
}

namespace {

using Cuts = std::vector<std::pair<size_t, size_t>>;

// Applies the byte ranges (ascending, not overlapping) that pick() chooses to remove.
template <class Pick>
bool RemoveRanges(const std::string& file, Pick&& pick) {
  return Finish(UpdateFileLocked(
      file,
      [&](std::string& content, bool& changed) {
        std::vector<Line> lines;
        ForEachLine(content, [&](const Line& line) {
          lines.push_back(line);
          return true;
        });
        Cuts cut;
        pick(lines, cut);
        if (cut.empty()) return 0;
        std::string out;
        out.reserve(content.size());
        size_t pos = 0;
        for (const auto& [b, e] : cut) {
          out.append(content, pos, b - pos);
          pos = e;
        }
        out.append(content, pos, std::string::npos);
        content.swap(out);
        changed = true;
        return 0;
      },
      false));
}

void AddCut(Cuts& cut, size_t begin, size_t end) {
  if (!cut.empty() && cut.back().second == begin)
    cut.back().second = end;
  else
    cut.emplace_back(begin, end);
}

}  // namespace

bool DeleteKey(const std::string& file, std::string_view section, std::string_view key) {
  section = Trim(section);
  key = Trim(key);
  return RemoveRanges(file, [&](const std::vector<Line>& lines, Cuts& cut) {
    bool inSection = false;
    for (const Line& line : lines) {
      if (line.kind == LineKind::kHeader) inSection = SameTextCp1251(line.name, section);
      if (inSection && line.kind == LineKind::kEntry && SameTextCp1251(line.name, key))
        AddCut(cut, line.begin, line.next);
    }
  });
}

bool DeleteSection(const std::string& file, std::string_view section) {
  section = Trim(section);
  return RemoveRanges(file, [&](const std::vector<Line>& lines, Cuts& cut) {
    const size_t n = lines.size();
    size_t i = 0;
    while (i < n) {
      if (lines[i].kind != LineKind::kHeader || !SameTextCp1251(lines[i].name, section)) {
        ++i;
        continue;
      }
      // The section's lines go up to its last entry (or other content line) and the blank
      // lines after it; comments that follow introduce the next section and stay.
      size_t last = i, j = i + 1;
      for (; j < n && lines[j].kind != LineKind::kHeader; ++j)
        if (lines[j].kind != LineKind::kBlank && lines[j].kind != LineKind::kComment) last = j;
      while (last + 1 < j && lines[last + 1].kind == LineKind::kBlank) ++last;
      AddCut(cut, lines[i].begin, lines[last].next);
      i = j;
    }
  });
}

int LastError() { return tLastError; }

}  // namespace vg::platform::profile
