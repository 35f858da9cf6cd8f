// A control library for the updater's tests: each registration call appends a line naming the
// call and the file it was loaded from to the file in VG_TEST_OCX_LOG.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

int32_t Record(const char* call) {
  const char* log = std::getenv("VG_TEST_OCX_LOG");
  if (log == nullptr) return 1;
  FILE* f = std::fopen(log, "a");
  if (f == nullptr) return 1;
  Dl_info info{};
  ::dladdr(reinterpret_cast<void*>(&Record), &info);
  std::fprintf(f, "%s %s\n", call, info.dli_fname != nullptr ? info.dli_fname : "?");
  std::fclose(f);
  return 0;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t DllRegisterServer() { return Record("register"); }
extern "C" __attribute__((visibility("default"))) int32_t DllUnregisterServer() { return Record("unregister"); }
