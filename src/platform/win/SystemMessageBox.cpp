#include "platform/SystemMessageBox.h"

#include <windows.h>

#include "platform/CodePage.h"

namespace vg::platform {
namespace {
// Windows-1251 to UTF-16 through the system's own code page table, whatever the ANSI code page.
std::wstring Wide(const std::string& cp1251) {
  const std::string utf8 = Cp1251ToUtf8(cp1251);
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

UINT IconOf(MessageBoxKind kind) {
  switch (kind) {
    case MessageBoxKind::Error: return MB_ICONERROR;
    case MessageBoxKind::Warning: return MB_ICONWARNING;
    case MessageBoxKind::Information: break;
  }
  return MB_ICONINFORMATION;
}
}  // namespace

// The program may have no window of its own: the box is modal to its thread and comes forward.
void ShowSystemMessageBox(const std::string& caption, const std::string& text, MessageBoxKind kind) {
  ::MessageBoxW(nullptr, Wide(text).c_str(), Wide(caption).c_str(),
                MB_OK | MB_TASKMODAL | MB_SETFOREGROUND | IconOf(kind));
}

}  // namespace vg::platform
