/* The loaded file of a test module, found from an address inside it. */
#define _GNU_SOURCE
#include <dlfcn.h>

static int gMarker;

const char* MockModulePath(void) {
  Dl_info info;
  if (dladdr(&gMarker, &info) && info.dli_fname) return info.dli_fname;
  return "?";
}
