#pragma once
// The module's texts and UIDs are Windows-1251 bytes like the rest of the product; certificates,
// OpenSSL and the file system speak UTF-8. These two conversions are all the module needs.
#include <string>
#include <string_view>

namespace engmod10 {

// Characters without a Windows-1251 form become '?'; malformed UTF-8 bytes become '?' one by one.
std::string Utf8ToCp1251(std::string_view utf8);

// Every Windows-1251 byte maps to one character; the unassigned byte 0x98 becomes U+FFFD.
std::string Cp1251ToUtf8(std::string_view cp1251);

}  // namespace engmod10
