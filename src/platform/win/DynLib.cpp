#include "platform/DynLib.h"

#include <windows.h>

#include <vector>

#include "platform/win/WinError.h"

namespace vg::platform {
namespace {

// The system keeps the last error per thread, but later calls overwrite it; the loader's own
// failure is kept here until it is asked for.
thread_local DWORD tLastLoaderError = ERROR_SUCCESS;

void Remember() { tLastLoaderError = ::GetLastError(); }

}  // namespace

LibraryHandle LoadLibraryFile(const std::string& pathOrName) {
  if (pathOrName.empty()) return nullptr;
  // A module that is missing or has missing dependencies fails here, without a message box.
  const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = ::LoadLibraryA(pathOrName.c_str());
  if (!module) Remember();
  ::SetErrorMode(previous);
  return reinterpret_cast<LibraryHandle>(module);
}

std::string LastLibraryError() {
  const DWORD code = tLastLoaderError;
  tLastLoaderError = ERROR_SUCCESS;
  return code == ERROR_SUCCESS ? std::string() : win::Win32ErrorText(code);
}

void* LibrarySymbol(LibraryHandle library, const char* name) {
  if (!library || !name) return nullptr;
  FARPROC address = ::GetProcAddress(reinterpret_cast<HMODULE>(library), name);
  if (!address) Remember();
  return reinterpret_cast<void*>(address);
}

void FreeLibraryFile(LibraryHandle library) {
  if (library) ::FreeLibrary(reinterpret_cast<HMODULE>(library));
}

std::string LibraryPathOf(const void* address) {
  HMODULE module = nullptr;
  if (!address ||
      !::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<const char*>(address), &module))
    return {};
  std::vector<char> buf(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameA(module, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return std::string(buf.data(), n);
    buf.resize(buf.size() * 2);
  }
}

bool LibraryFileExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace vg::platform
