#pragma once
// The installation medium's archive: a standard ZIP file of plain file names. Failures raise
// EZipError with the archive's or entry's name and the library's reason.
#include <string>
#include <vector>

#include "platform/SysUtils.h"

namespace vg {

class EZipError : public Exception {
 public:
  using Exception::Exception;
};

// Entry names in archive order (directory entries included, as stored).
std::vector<std::string> ListZipEntries(const std::string& archive);

// Extracts every entry below dir. Names that would leave dir (absolute, or with a ".." part)
// are refused before anything is written.
void ExtractZip(const std::string& archive, const std::string& dir);

// Creates a new archive from the files names (relative to dir), compressed with deflate. The
// archive is written whole or not at all.
void CreateZip(const std::string& archive, const std::string& dir, const std::vector<std::string>& names);

}  // namespace vg
