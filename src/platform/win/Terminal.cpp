#include "platform/Terminal.h"

#include <windows.h>

#include <algorithm>

namespace vg::platform {
namespace {

// Longest line kept; the rest of a longer line is read and dropped.
constexpr size_t kMaxLine = 4096;
constexpr wchar_t kEndOfInput = 0x1A;  // Ctrl+Z, the console's end of input

class ConsoleHandle {
 public:
  explicit ConsoleHandle(const char* name)
      : handle_(::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr)) {}
  ~ConsoleHandle() {
    if (Valid()) ::CloseHandle(handle_);
  }
  ConsoleHandle(const ConsoleHandle&) = delete;
  ConsoleHandle& operator=(const ConsoleHandle&) = delete;
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr, nullptr);
  return utf8;
}

void Write(HANDLE out, const std::string& text) {
  const std::wstring wide = Widen(text);
  DWORD written = 0;
  if (!wide.empty()) ::WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

}  // namespace

TerminalRead ReadHiddenLine(const std::string& prompt, std::string& line, const std::atomic<bool>* cancel) {
  ConsoleHandle in("CONIN$");
  DWORD saved = 0;
  if (!in.Valid() || !::GetConsoleMode(in.Get(), &saved)) return TerminalRead::NoTerminal;
  ConsoleHandle out("CONOUT$");
  // Keys are taken one by one, so that a cancel is seen in the middle of a line too; echo goes
  // off before the prompt appears, so nothing typed in answer to it is shown.
  ::SetConsoleMode(in.Get(), saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT | ENABLE_LINE_INPUT));
  ::FlushConsoleInputBuffer(in.Get());
  if (out.Valid()) Write(out.Get(), prompt);

  std::wstring text;
  bool gotAny = false;
  bool ended = false;
  bool cancelled = false;
  while (!ended) {
    if (cancel) {
      // Unloading must not wait for a user who never answers.
      const DWORD waited = ::WaitForSingleObject(in.Get(), 100);
      if (cancel->load()) {
        cancelled = true;
        break;
      }
      if (waited == WAIT_TIMEOUT) continue;
      if (waited != WAIT_OBJECT_0) break;
    }
    INPUT_RECORD record{};
    DWORD read = 0;
    if (!::ReadConsoleInputW(in.Get(), &record, 1, &read)) break;
    if (read == 0 || record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
    const wchar_t ch = record.Event.KeyEvent.uChar.UnicodeChar;
    if (ch == 0) continue;
    if (ch == kEndOfInput && text.empty()) break;
    gotAny = true;
    for (WORD repeat = std::max<WORD>(record.Event.KeyEvent.wRepeatCount, 1); repeat > 0 && !ended; --repeat) {
      if (ch == L'\r' || ch == L'\n')
        ended = true;
      else if (ch == L'\b')
        text.empty() ? void() : text.pop_back();
      else if (text.size() < kMaxLine)
        text.push_back(ch);
    }
    record = INPUT_RECORD{};
  }
  ::SetConsoleMode(in.Get(), saved);
  if (out.Valid()) Write(out.Get(), "\n");
  std::string result = Narrow(text);
  std::fill(text.begin(), text.end(), L'\0');
  if (!gotAny || cancelled || !ended) {
    std::fill(result.begin(), result.end(), '\0');
    return TerminalRead::Closed;
  }
  line.swap(result);
  std::fill(result.begin(), result.end(), '\0');
  return TerminalRead::Ok;
}

}  // namespace vg::platform
