#pragma once
// Private profile (INI) file routines. Every call reads the file afresh, so separate readers
// see each other's writes at once; every write replaces the file atomically under a file lock.
//
// File rules: "[name]" lines start sections, "key=value" lines inside a section are entries,
// lines starting with ";" are comments; blank lines, comments and lines that are neither are
// kept as they are by every edit. Section and key names compare case-insensitively
// (Windows-1251 letters included); blanks around names and values are not part of them, and a
// value enclosed in a pair of matching quotes (" or ') is read without them. Names and values
// are byte strings. When a key or section occurs twice, the first occurrence wins for reads.
#include <cstdint>
#include <string>
#include <string_view>

namespace vg::platform::profile {

// Copies the value of key in section into buffer, or def when there is none, always
// NUL-terminated. Returns the number of bytes copied without the terminator; when buffer is
// too small the text is cut and the result is size - 1.
uint32_t ReadValue(const std::string& file, std::string_view section, std::string_view key,
                   std::string_view def, char* buffer, uint32_t size);

// Fill buffer with the names of all sections, or of all keys of section, in file order, each
// followed by a NUL and the list by one more NUL. Returns the number of bytes copied without
// the final NUL; when buffer is too small the list is cut, ends in two NULs and the result is
// size - 2.
uint32_t ReadSectionNames(const std::string& file, char* buffer, uint32_t size);
uint32_t ReadKeyNames(const std::string& file, std::string_view section, char* buffer, uint32_t size);

// Sets key in section to value, creating the file, the section and the key as needed.
// Values that would otherwise lose their surrounding blanks or quotes on reading are written
// quoted. Names or values that cannot be stored (line breaks, NUL, "=" or "]" where they would
// end the name, empty names) are refused with EINVAL. Returns false on failure (see LastError).
bool WriteValue(const std::string& file, std::string_view section, std::string_view key,
                std::string_view value);
// Adds an empty section at the end of the file, creating the file as needed, in one rewrite;
// an existing section is left as it is. Returns false on failure (see LastError).
bool AddSection(const std::string& file, std::string_view section);
// Removes the key (every occurrence of it in the section); a missing key or file is no error.
bool DeleteKey(const std::string& file, std::string_view section, std::string_view key);
// Removes the section with all its lines (every occurrence of it); a missing one is no error.
bool DeleteSection(const std::string& file, std::string_view section);

// The system error code of this thread's last failing call (0 after a successful write).
int LastError();

}  // namespace vg::platform::profile
