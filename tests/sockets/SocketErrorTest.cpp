#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "platform/CodePage.h"
#include "platform/Net.h"
#include "sockets/SockErr.h"
#include "sockets/WS2_Imp.h"

namespace neterr = vg::platform::neterr;

TEST(SocketErrors, WideErrorTextAndCode) {
  const auto e = vg::EWideSocketError::ForCode(10061);
  EXPECT_EQ(e.Message(), "Windows socket error: Connection refused (10061)");
  EXPECT_EQ(e.Code(), 10061);
  EXPECT_EQ(vg::EWideSocketError::ForCode(10060).Message(), "Windows socket error: Connection timed out (10060)");
  EXPECT_EQ(vg::EWideSocketError::ForCode(10055).Message(), "Windows socket error: No buffer space available (10055)");
  EXPECT_EQ(vg::EWideSocketError::ForCode(4242).Message(), "Windows socket error: Unknown error (4242)");
}

TEST(SocketErrors, OperationErrorText) {
  const auto e = vg::EWideSocketError::ForOperation("Read", 10054);
  EXPECT_EQ(e.Message(), "Read error 10054, Connection reset by peer");
  EXPECT_EQ(e.Code(), 10054);
  EXPECT_EQ(vg::EWideSocketError::ForOperation("Write", 10058).Message(),
            "Write error 10058, Cannot send after socket shutdown");
}

TEST(SocketErrors, ErrnoValuesTakeTheSystemNumbers) {
  EXPECT_EQ(vg::platform::NetErrorFromErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(vg::platform::NetErrorFromErrno(ETIMEDOUT), 10060);
  EXPECT_EQ(vg::platform::NetErrorFromErrno(ENOBUFS), 10055);
  EXPECT_EQ(vg::platform::NetErrorFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(vg::platform::NetErrorFromErrno(EADDRINUSE), 10048);
  EXPECT_EQ(vg::platform::NetErrorFromErrno(EWOULDBLOCK), 10035);
  EXPECT_EQ(vg::ErrorText(11001), "Host not found");
}

TEST(SocketErrors, ProcedureIsPerThreadAndRestored) {
  EXPECT_EQ(vg::CurrentSocketErrorProc(), &vg::DefaultSocketErrorProc);
  try {
    vg::CheckSocket(10061);
    FAIL() << "no exception";
  } catch (const vg::EWideSocketError&) {
    FAIL() << "the default procedure raised the wide error";
  } catch (const vg::ESocketError& e) {
    EXPECT_EQ(e.Message(), "Windows socket error: Connection refused (10061)");
  }
  {
    const vg::TSocketErrorProcScope scope;
    EXPECT_EQ(vg::CurrentSocketErrorProc(), &vg::WideSocketErrorProc);
    std::thread([] { EXPECT_EQ(vg::CurrentSocketErrorProc(), &vg::DefaultSocketErrorProc); }).join();
    try {
      vg::CheckSocket(10060);
      FAIL() << "no exception";
    } catch (const vg::EWideSocketError& e) {
      EXPECT_EQ(e.Code(), 10060);
    }
    EXPECT_NO_THROW(vg::CheckSocket(0));
  }
  EXPECT_EQ(vg::CurrentSocketErrorProc(), &vg::DefaultSocketErrorProc);
}

namespace {
void ReturningProc(int32_t) {}
}  // namespace

TEST(SocketErrors, AProcedureThatReturnsStillRaises) {
  const vg::TSocketErrorProcScope scope(&ReturningProc);
  EXPECT_THROW(vg::RaiseSocketError(10054), vg::ESocketError);
}

TEST(SocketErrors, BindingErrorTexts) {
  EXPECT_EQ(vg::platform::Cp1251ToUtf8(vg::EWS2ImpError::CannotLoad().Message()),
            "Не могу загрузить библиотеку winsocket2");
  EXPECT_EQ(vg::platform::Cp1251ToUtf8(vg::EWS2ImpError::MissingFunction("WSAIoctl").Message()),
            "Не могу получить функцию 'WSAIoctl' из библиотеки winsocket2");
  EXPECT_NO_THROW(vg::TWS2_Dll());
}
