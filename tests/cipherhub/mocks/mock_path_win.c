/* The loaded file of a test module, found from an address inside it. */
#include <windows.h>

static int gMarker;
static char gPath[MAX_PATH];

const char* MockModulePath(void) {
  HMODULE module = NULL;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          (LPCSTR)&gMarker, &module))
    return "?";
  DWORD n = GetModuleFileNameA(module, gPath, sizeof gPath);
  return n > 0 && n < sizeof gPath ? gPath : "?";
}
