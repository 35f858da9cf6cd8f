#include "platform/DynLib.h"

#include <dlfcn.h>
#include <sys/stat.h>

namespace vg::platform {

LibraryHandle LoadLibraryFile(const std::string& pathOrName) {
  if (pathOrName.empty()) return nullptr;
  // Local binding keeps two modules that export the same names from resolving to each other.
  return ::dlopen(pathOrName.c_str(), RTLD_NOW | RTLD_LOCAL);
}

std::string LastLibraryError() {
  const char* text = ::dlerror();
  return text ? std::string(text) : std::string();
}

void* LibrarySymbol(LibraryHandle library, const char* name) {
  if (!library || !name) return nullptr;
  return ::dlsym(library, name);
}

void FreeLibraryFile(LibraryHandle library) {
  if (library) ::dlclose(library);
}

std::string LibraryPathOf(const void* address) {
  Dl_info info{};
  if (!address || ::dladdr(address, &info) == 0 || !info.dli_fname) return {};
  return info.dli_fname;
}

bool LibraryFileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace vg::platform
