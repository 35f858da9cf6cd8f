#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/Net.h"

using namespace vg::platform;
using Ms = std::chrono::milliseconds;

namespace {

constexpr Ipv4 kLoopback = 0x0100007F;

auto Elapsed(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - since);
}

// A connected loopback pair: the outgoing side and the side the listener took.
struct Pair {
  ListenSocket listener;
  ClientSocket client;
  ClientSocket server;

  Pair() {
    EXPECT_EQ(listener.Listen(0, true), 0);
    EXPECT_EQ(client.Connect(kLoopback, listener.Port(), 2000), 0);
    EXPECT_EQ(listener.Accept(server, 2000), IoStatus::Done);
  }
};

std::string ReadSome(ClientSocket& s, size_t max, int timeoutMs = 2000) {
  std::string buf(max, '\0');
  const IoResult r = s.Read(buf.data(), buf.size(), timeoutMs);
  EXPECT_EQ(r.status, IoStatus::Done);
  buf.resize(r.bytes);
  return buf;
}

int FreePort() {
  ListenSocket l;
  EXPECT_EQ(l.Listen(0, true), 0);
  return l.Port();
}

}  // namespace

TEST(Net, ConnectAcceptAndExchange) {
  Pair p;
  EXPECT_TRUE(p.client.Connected());
  EXPECT_TRUE(p.server.Connected());
  EXPECT_EQ(p.server.Address(), "127.0.0.1");
  EXPECT_EQ(p.server.Port(), p.client.LocalPort());
  EXPECT_EQ(p.server.PeerAddress(), kLoopback);
  EXPECT_EQ(p.client.PeerPort(), p.listener.Port());
  EXPECT_EQ(p.server.LocalPort(), p.listener.Port());
  EXPECT_EQ(p.client.LocalAddress(), kLoopback);

  const IoResult w = p.client.Write("hello", 5, 2000);
  EXPECT_EQ(w.status, IoStatus::Done);
  EXPECT_EQ(w.bytes, 5u);
  EXPECT_TRUE(WaitReadable(p.server, 2000).first);
  EXPECT_EQ(p.server.Pending(), 5u);
  EXPECT_EQ(ReadSome(p.server, 3), "hel");
  EXPECT_EQ(p.server.Pending(), 2u);
  EXPECT_EQ(ReadSome(p.server, 100), "lo");

  const IoResult back = p.server.Write("\0\r\n", 3, 2000);
  EXPECT_EQ(back.bytes, 3u);
  EXPECT_EQ(ReadSome(p.client, 10), std::string("\0\r\n", 3));
}

TEST(Net, OpenByAddressOrHostName) {
  ListenSocket listener;
  ASSERT_EQ(listener.Listen(0, false), 0);
  ClientSocket byName;
  byName.SetHost("localhost");
  byName.SetPort(listener.Port());
  EXPECT_EQ(byName.Open(2000), 0);
  ClientSocket byAddress;
  byAddress.SetAddress("127.0.0.1");
  byAddress.SetHost("ignored.invalid");
  byAddress.SetPort(listener.Port());
  EXPECT_EQ(byAddress.Open(2000), 0);
  ClientSocket taken;
  EXPECT_EQ(listener.Accept(taken, 2000), IoStatus::Done);
  EXPECT_EQ(listener.Accept(taken, 2000), IoStatus::Done);
}

TEST(Net, ConnectFailuresCarryTheSystemCodes) {
  ClientSocket s;
  EXPECT_EQ(s.Connect(kLoopback, FreePort(), 2000), neterr::kConnectionRefused);
  EXPECT_FALSE(s.Connected());
  EXPECT_EQ(s.Connect(kLoopback, 0, 2000), neterr::kAddressNotAvailable);
  EXPECT_EQ(s.Connect(kLoopback, 65536, 2000), neterr::kAddressNotAvailable);

  s.SetHost("name.that.does.not.exist.invalid");
  s.SetPort(80);
  const int rc = s.Open(2000);
  EXPECT_TRUE(rc >= neterr::kHostNotFound && rc <= neterr::kNoData) << rc;
  s.SetHost("");
  EXPECT_EQ(s.Open(2000), neterr::kHostNotFound);
  s.SetAddress("1.2.3");
  EXPECT_EQ(s.Open(2000), neterr::kAddressNotAvailable);
}

TEST(Net, ListenFailsOnAPortInUse) {
  ListenSocket first;
  ASSERT_EQ(first.Listen(0, false), 0);
  ListenSocket second;
  EXPECT_EQ(second.Listen(first.Port(), false), neterr::kAddressInUse);
  EXPECT_FALSE(second.IsListening());
  EXPECT_EQ(second.Listen(70000), neterr::kAddressNotAvailable);
}

TEST(Net, ListenerCanBeReopenedOnItsPortAtOnce) {
  ListenSocket l;
  ASSERT_EQ(l.Listen(0, true), 0);
  const int port = l.Port();
  {
    ClientSocket c, s;
    ASSERT_EQ(c.Connect(kLoopback, port, 2000), 0);
    ASSERT_EQ(l.Accept(s, 2000), IoStatus::Done);
    s.Close();  // the listener's side closes first and keeps TIME_WAIT
  }
  l.Close();
  EXPECT_EQ(l.Listen(port, true), 0);
}

TEST(Net, PeerCloseIsReadableWithNothingPending) {
  Pair p;
  p.server.Close();
  EXPECT_FALSE(p.server.Connected());
  const Readiness r = WaitReadable(p.client, 2000);
  EXPECT_TRUE(r.first);
  EXPECT_EQ(p.client.Pending(), 0u);
  char c;
  EXPECT_EQ(p.client.Read(&c, 1, 2000).status, IoStatus::Closed);
}

TEST(Net, ShutdownSendEndsOneDirectionOnly) {
  Pair p;
  p.client.ShutdownSend();
  char c;
  EXPECT_EQ(p.server.Read(&c, 1, 2000).status, IoStatus::Closed);
  EXPECT_EQ(p.server.Write("x", 1, 2000).bytes, 1u);
  EXPECT_EQ(ReadSome(p.client, 1), "x");
  const IoResult w = p.client.Write("y", 1, 2000);
  EXPECT_EQ(w.status, IoStatus::Failed);
  EXPECT_EQ(w.error, neterr::kShutdown);
}

TEST(Net, TimeOutsEndReadsAcceptsAndWaits) {
  Pair p;
  char c;
  auto start = std::chrono::steady_clock::now();
  const IoResult r = p.client.Read(&c, 1, 150);
  EXPECT_EQ(r.status, IoStatus::TimedOut);
  EXPECT_EQ(r.bytes, 0u);
  EXPECT_GE(Elapsed(start), Ms(140));
  EXPECT_LT(Elapsed(start), Ms(5000));

  ClientSocket none;
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(p.listener.Accept(none, 100), IoStatus::TimedOut);
  EXPECT_GE(Elapsed(start), Ms(90));
  EXPECT_FALSE(none.Connected());

  const Readiness w = WaitReadable(p.client, p.server, 100);
  EXPECT_FALSE(w.Any());
  EXPECT_FALSE(w.woken);
  EXPECT_EQ(w.error, 0);
}

TEST(Net, WriteToAReaderThatDoesNotReadTimesOutWithPartialCount) {
  Pair p;
  const std::vector<char> big(64 << 20, 'z');
  const auto start = std::chrono::steady_clock::now();
  const IoResult w = p.client.Write(big.data(), big.size(), 300);
  EXPECT_EQ(w.status, IoStatus::TimedOut);
  EXPECT_GT(w.bytes, 0u);
  EXPECT_LT(w.bytes, big.size());
  EXPECT_LT(Elapsed(start), Ms(5000));
}

TEST(Net, WaitOnTwoSocketsTellsWhichIsReady) {
  Pair a, b;
  ASSERT_EQ(b.server.Write("b", 1, 1000).bytes, 1u);
  Readiness r = WaitReadable(a.client, b.client, 2000);
  EXPECT_FALSE(r.first);
  EXPECT_TRUE(r.second);
  ASSERT_EQ(a.server.Write("a", 1, 1000).bytes, 1u);
  ASSERT_EQ(ReadSome(b.client, 1), "b");
  r = WaitReadable(a.client, b.client, 2000);
  EXPECT_TRUE(r.first);
  EXPECT_FALSE(r.second);
}

TEST(Net, WakeSignalEndsWaitsOfAnotherThread) {
  Pair p;
  WakeSignal wake;
  EXPECT_FALSE(wake.IsSignalled());
  const auto start = std::chrono::steady_clock::now();
  std::thread signaller([&] {
    std::this_thread::sleep_for(Ms(50));
    wake.Signal();
  });
  const Readiness r = WaitReadable(p.client, p.server, 20000, &wake);
  signaller.join();
  EXPECT_TRUE(r.woken);
  EXPECT_FALSE(r.Any());
  EXPECT_LT(Elapsed(start), Ms(5000));

  // The signal holds until reset: every later wait ends at once.
  EXPECT_TRUE(wake.IsSignalled());
  char c;
  EXPECT_EQ(p.client.Read(&c, 1, 20000, &wake).status, IoStatus::Woken);
  ClientSocket none;
  EXPECT_EQ(p.listener.Accept(none, 20000, &wake), IoStatus::Woken);

  wake.Reset();
  EXPECT_FALSE(wake.IsSignalled());
  EXPECT_EQ(p.client.Read(&c, 1, 50, &wake).status, IoStatus::TimedOut);
}

TEST(Net, SlicedWaitAsksBetweenSlicesAndStopsEarly) {
  Pair p;
  int asked = 0;
  auto start = std::chrono::steady_clock::now();
  Readiness r = WaitReadableSliced(p.client, nullptr, 60000, 20, [&] { return ++asked < 3; });
  EXPECT_FALSE(r.Any());
  EXPECT_EQ(asked, 3);
  EXPECT_LT(Elapsed(start), Ms(5000));

  asked = 0;
  start = std::chrono::steady_clock::now();
  r = WaitReadableSliced(p.client, nullptr, 130, 50, [&] { return ++asked, true; });
  EXPECT_FALSE(r.Any());
  // Asked after the slices ending at 50 and 100 ms, never after the last; a loaded machine
  // may stretch a slice past 100 ms and skip one question.
  EXPECT_GE(asked, 1);
  EXPECT_LE(asked, 2);
  EXPECT_GE(Elapsed(start), Ms(120));

  std::thread writer([&] {
    std::this_thread::sleep_for(Ms(60));
    p.server.Write("q", 1, 1000);
  });
  r = WaitReadableSliced(p.client, &p.server, 10000, 20, [] { return true; });
  writer.join();
  EXPECT_TRUE(r.first);
}

TEST(Net, OperationsOnAClosedSocketFailCleanly) {
  ClientSocket s;
  char c;
  EXPECT_EQ(s.Read(&c, 1, 10).error, neterr::kNotConnected);
  EXPECT_EQ(s.Write(&c, 1, 10).error, neterr::kNotConnected);
  EXPECT_EQ(WaitReadable(s, 10).error, neterr::kNotConnected);
  EXPECT_EQ(s.Pending(), 0u);
  EXPECT_EQ(s.PeerAddress(), 0u);
  ListenSocket l;
  int error = 0;
  EXPECT_EQ(l.Accept(s, 10, nullptr, &error), IoStatus::Failed);
  EXPECT_EQ(error, neterr::kNotSocket);
}

TEST(Net, MovedSocketKeepsTheConnection) {
  Pair p;
  ClientSocket moved = std::move(p.client);
  EXPECT_FALSE(p.client.Connected());
  ASSERT_TRUE(moved.Connected());
  EXPECT_EQ(moved.Write("m", 1, 1000).bytes, 1u);
  EXPECT_EQ(ReadSome(p.server, 1), "m");
}
