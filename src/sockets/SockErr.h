#pragma once
// Socket exceptions and the per-thread procedure that turns a failed socket call into one.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/SysUtils.h"

namespace vg {

// A socket call failed (the socket layer's own error).
class ESocketError : public Exception {
 public:
  using Exception::Exception;
};

// A socket failure with the system error code; raised while relay threads run.
class EWideSocketError : public ESocketError {
 public:
  EWideSocketError(std::string message, int32_t code) : ESocketError(std::move(message)), code_(code) {}
  int32_t Code() const { return code_; }

  // "Windows socket error: <system text> (<code>)".
  static EWideSocketError ForCode(int32_t code);
  // "<operation> error <code>, <system text>", for the relay's own reads ("Read") and writes ("Write").
  static EWideSocketError ForOperation(std::string_view operation, int32_t code);

 private:
  int32_t code_;
};

// The system's message text for a socket error code.
std::string ErrorText(int32_t code);

// Raises the exception for a failed socket call; it must not return.
using TSocketErrorProc = void (*)(int32_t code);

// The socket layer's own procedure: raises ESocketError.
[[noreturn]] void DefaultSocketErrorProc(int32_t code);
// The relay threads' procedure: raises EWideSocketError::ForCode(code).
[[noreturn]] void WideSocketErrorProc(int32_t code);

// The procedure of the calling thread (each thread starts with DefaultSocketErrorProc); returns the
// one it replaces. A null procedure stands for the default.
TSocketErrorProc SetSocketErrorProc(TSocketErrorProc proc);
TSocketErrorProc CurrentSocketErrorProc();

// Runs the calling thread's procedure for code; raises ESocketError should that procedure return.
[[noreturn]] void RaiseSocketError(int32_t code);
// Raises through the thread's procedure when code reports a failure (is not 0).
inline void CheckSocket(int32_t code) {
  if (code != 0) RaiseSocketError(code);
}

// Installs a procedure on the calling thread for its lifetime and restores the previous one.
class TSocketErrorProcScope {
 public:
  explicit TSocketErrorProcScope(TSocketErrorProc proc = WideSocketErrorProc) : previous_(SetSocketErrorProc(proc)) {}
  ~TSocketErrorProcScope() { SetSocketErrorProc(previous_); }
  TSocketErrorProcScope(const TSocketErrorProcScope&) = delete;
  TSocketErrorProcScope& operator=(const TSocketErrorProcScope&) = delete;

 private:
  TSocketErrorProc previous_;
};

}  // namespace vg
