#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "loader.h"

static char gError[64];

void* LoadHub(const char* path) {
  HMODULE library = LoadLibraryA(path);
  if (!library) snprintf(gError, sizeof gError, "system error %lu", (unsigned long)GetLastError());
  return (void*)library;
}

void* HubSymbol(void* library, const char* name) {
  FARPROC entry = GetProcAddress((HMODULE)library, name);
  void* result;
  /* A function address passed on as the data pointer the caller stores it in. */
  memcpy(&result, &entry, sizeof result);
  return result;
}

void UnloadHub(void* library) { FreeLibrary((HMODULE)library); }
const char* LoaderError(void) { return gError; }
