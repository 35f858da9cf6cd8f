#pragma once
// Run-time loading of shared libraries and lookup of their exports by name, as the
// system's module loaders need it: load by path or bare name, resolve, free, and find
// the file a loaded piece of code came from.
#include <string>

namespace vg::platform {

// Opaque handle of a loaded library; nullptr means "not loaded".
using LibraryHandle = void*;

// Loads a library by full path, or by bare name through the system's own library search.
// All of the library's references are bound at once, so a library with unresolved
// dependencies fails here rather than at its first call. Returns nullptr on failure.
LibraryHandle LoadLibraryFile(const std::string& pathOrName);

// Text of the loader's last failure on this thread (empty when there is none).
std::string LastLibraryError();

// Address of the export `name`, or nullptr when the library lacks it.
void* LibrarySymbol(LibraryHandle library, const char* name);

// Drops one reference to the library; a null handle is ignored.
void FreeLibraryFile(LibraryHandle library);

// Full file name of the loaded library (or program) whose code or data holds `address`;
// empty when the system cannot tell.
std::string LibraryPathOf(const void* address);

// True when `path` names an existing regular file (the loaders' "the name exists there").
bool LibraryFileExists(const std::string& path);

}  // namespace vg::platform
