#pragma once
// Case-insensitive comparison of Windows-1251 names, Cyrillic letters included, as the
// system's settings and registry names are compared.
#include <string>
#include <string_view>

namespace vg::platform {

char LowerCp1251(char c);
std::string LowerCp1251(std::string_view text);
bool SameTextCp1251(std::string_view a, std::string_view b);
bool StartsWithTextCp1251(std::string_view text, std::string_view prefix);
// Negative, zero or positive like a three-way comparison of the lowered texts.
int CompareTextCp1251(std::string_view a, std::string_view b);

}  // namespace vg::platform
