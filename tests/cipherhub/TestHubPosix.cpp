#include <dlfcn.h>

#include "TestHub.h"

namespace chubtest {

bool IsLoaded(const fs::path& path) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!handle) return false;
  ::dlclose(handle);
  return true;
}

}  // namespace chubtest
