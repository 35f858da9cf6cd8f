#include <dlfcn.h>

#include "loader.h"

void* LoadHub(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
void* HubSymbol(void* library, const char* name) { return dlsym(library, name); }
void UnloadHub(void* library) { dlclose(library); }
const char* LoaderError(void) { return dlerror(); }
