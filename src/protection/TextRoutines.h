#pragma once
// Small text routines around the protocol: version texts, the program's version and dates.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace vg {

// "major.minor" as 65536 * major + minor; a missing or invalid word counts as 0.
uint32_t ParseVersion(std::string_view text);
// The running program's file version as "%d.%d.%d.%d", read once.
const std::string& ProgramVersion();
// dd.mm.yyyy
std::string DateText(int year, int month, int day);
inline std::string DateText(const platform::LocalTime& t) { return DateText(t.year, t.month, t.day); }

}  // namespace vg
