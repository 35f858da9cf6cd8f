// vg_postquit CLASS [TIMEOUT_MS]: does to a running program what the updater does before it
// replaces it: finds its top-level window by class name, posts it the quit message and waits
// until that window is gone. Exit status 0 when it went, 2 when there was no such window, 3 when
// it was still there after the time-out.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vg_postquit CLASS [TIMEOUT_MS]\n");
    return 1;
  }
  const DWORD timeoutMs = argc > 2 ? static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)) : 5000;
  const HWND window = FindWindowA(argv[1], nullptr);
  if (!window) return 2;
  if (!PostMessageA(window, WM_QUIT, 0, 0)) {
    std::fprintf(stderr, "PostMessageA failed: %lu\n", GetLastError());
    return 1;
  }
  for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
    if (FindWindowA(argv[1], nullptr) != window) return 0;
    Sleep(100);
  }
  return 3;
}
