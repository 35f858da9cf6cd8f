#pragma once
// Conversion between the system's Windows-1251 byte strings and UTF-8 (display only).
#include <string>
#include <string_view>

namespace vg::platform {

// Every Windows-1251 byte maps to one Unicode character; the one unassigned byte (0x98) becomes U+FFFD.
std::string Cp1251ToUtf8(std::string_view cp1251);

// Characters without a Windows-1251 form become '?'; malformed UTF-8 bytes become '?' one by one.
std::string Utf8ToCp1251(std::string_view utf8);

}  // namespace vg::platform
