#include "protection/TextRoutines.h"

#include <vector>

#include "platform/ProgramInfo.h"
#include "platform/SysUtils.h"

namespace vg {
namespace {

// A decimal integer with an optional sign that fits 32 bits, else 0.
int64_t WordValue(std::string_view w) {
  size_t i = 0;
  bool negative = false;
  if (i < w.size() && (w[i] == '+' || w[i] == '-')) negative = w[i++] == '-';
  if (i == w.size()) return 0;
  int64_t v = 0;
  for (; i < w.size(); ++i) {
    if (w[i] < '0' || w[i] > '9') return 0;
    v = v * 10 + (w[i] - '0');
    if (v > 0x80000000LL) return 0;
  }
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return 0;
  return v;
}

}  // namespace

uint32_t ParseVersion(std::string_view text) {
  std::vector<std::string_view> words;
  size_t start = 0;
  while (start <= text.size() && words.size() < 2) {
    const size_t dot = text.find('.', start);
    const size_t end = dot == std::string_view::npos ? text.size() : dot;
    if (end > start) words.push_back(text.substr(start, end - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  const uint32_t major = words.size() > 0 ? static_cast<uint32_t>(WordValue(words[0])) & 0xFFFF : 0;
  const uint32_t minor = words.size() > 1 ? static_cast<uint32_t>(WordValue(words[1])) & 0xFFFF : 0;
  return major * 65536 + minor;
}

const std::string& ProgramVersion() {
  static const std::string text = [] {
    const auto v = platform::ReadFileVersion(platform::ProgramPath());
    return Format("%d.%d.%d.%d", {v.parts[0], v.parts[1], v.parts[2], v.parts[3]});
  }();
  return text;
}

std::string DateText(int year, int month, int day) {
  return Format("%.2d.%.2d.%.4d", {day, month, year});
}

}  // namespace vg
