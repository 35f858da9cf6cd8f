#include "sockets/SockErr.h"

#include "platform/Net.h"

namespace vg {

namespace {
thread_local TSocketErrorProc currentProc = nullptr;

std::string CodeMessage(int32_t code) { return Format("Windows socket error: %s (%d)", {ErrorText(code), code}); }
}  // namespace

EWideSocketError EWideSocketError::ForCode(int32_t code) { return EWideSocketError(CodeMessage(code), code); }

EWideSocketError EWideSocketError::ForOperation(std::string_view operation, int32_t code) {
  return EWideSocketError(Format("%s error %d, %s", {operation, code, ErrorText(code)}), code);
}

std::string ErrorText(int32_t code) { return platform::NetErrorText(code); }

void DefaultSocketErrorProc(int32_t code) { throw ESocketError(CodeMessage(code)); }

void WideSocketErrorProc(int32_t code) { throw EWideSocketError::ForCode(code); }

TSocketErrorProc SetSocketErrorProc(TSocketErrorProc proc) {
  const TSocketErrorProc previous = CurrentSocketErrorProc();
  currentProc = proc == DefaultSocketErrorProc ? nullptr : proc;
  return previous;
}

TSocketErrorProc CurrentSocketErrorProc() { return currentProc ? currentProc : DefaultSocketErrorProc; }

void RaiseSocketError(int32_t code) {
  CurrentSocketErrorProc()(code);
  DefaultSocketErrorProc(code);
}

}  // namespace vg
