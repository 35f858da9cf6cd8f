#include <gtest/gtest.h>

#include "platform/Net.h"
#include "sockets/WS2_Imp.h"
#include "sockets/fEntry.h"

using vg::platform::DottedText;
using vg::platform::kNoAddress;

namespace {
constexpr uint32_t Addr(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { return a | b << 8 | c << 16 | d << 24; }
}  // namespace

TEST(DottedAddress, ParsesExactlyFourGroups) {
  EXPECT_EQ(vg::ParseDottedAddress("192.168.1.2"), Addr(192, 168, 1, 2));
  EXPECT_EQ(vg::ParseDottedAddress("0.0.0.0"), 0u);
  EXPECT_EQ(vg::ParseDottedAddress("1..3."), Addr(1, 0, 3, 0));
  EXPECT_EQ(vg::ParseDottedAddress("..."), 0u);
  EXPECT_EQ(vg::ParseDottedAddress("001.002.003.004"), Addr(1, 2, 3, 4));
  EXPECT_EQ(vg::ParseDottedAddress("0000000000000000000255.1.1.1"), Addr(255, 1, 1, 1));
  EXPECT_EQ(vg::ParseDottedAddress("255.255.255.254"), Addr(255, 255, 255, 254));
}

TEST(DottedAddress, RejectsEverythingElse) {
  for (const char* text : {"", "1.2.3", "1.2.3.4.", "1.2.3.4.5", "256.1.1.1", "1.2.3.1000", " 1.2.3.4",
                           "1.2.3.4 ", "1.2.3.-4", "1.2.3.0x4", "a.b.c.d", "1,2,3,4", "99999999999999.1.1.1"})
    EXPECT_EQ(vg::ParseDottedAddress(text), kNoAddress) << text;
  EXPECT_EQ(vg::ParseDottedAddress(std::string_view("1.2.3.4\0", 8)), kNoAddress);
  // The all-ones address cannot be told from a failure.
  EXPECT_EQ(vg::ParseDottedAddress("255.255.255.255"), kNoAddress);
}

TEST(DottedAddress, TextRoundTrips) {
  for (uint32_t a : {0u, Addr(127, 0, 0, 1), Addr(10, 20, 30, 40), Addr(255, 0, 255, 0)})
    EXPECT_EQ(vg::ParseDottedAddress(DottedText(a)), a);
  EXPECT_EQ(DottedText(Addr(192, 168, 0, 1)), "192.168.0.1");
}

TEST(Resolve, NumericAndLoopbackNames) {
  EXPECT_EQ(vg::ResolveHost("127.0.0.1"), Addr(127, 0, 0, 1));
  EXPECT_EQ(vg::ResolveHost("localhost"), Addr(127, 0, 0, 1));
  EXPECT_EQ(vg::ResolveHost(""), kNoAddress);
  EXPECT_EQ(vg::ResolveHost(std::string_view("localhost\0.example", 18)), kNoAddress);
  EXPECT_EQ(vg::ResolveHost("name.that.does.not.exist.invalid"), kNoAddress);
}

TEST(OwnAddress, EveryLoopbackAddressIsOwn) {
  for (uint32_t b : {0u, 1u, 128u, 255u})
    for (uint32_t d : {0u, 1u, 254u, 255u}) EXPECT_TRUE(vg::IsOwnAddress(Addr(127, b, 200, d)));
  EXPECT_FALSE(vg::IsOwnAddress(Addr(128, 0, 0, 1)));
  EXPECT_FALSE(vg::IsOwnAddress(Addr(126, 255, 255, 255)));
  // A connection to the unspecified address reaches this machine's listeners.
  EXPECT_TRUE(vg::IsOwnAddress(Addr(0, 0, 0, 0)));
  EXPECT_FALSE(vg::IsOwnAddress(Addr(0, 0, 0, 1)));
}

TEST(OwnAddress, EveryAddressOfThisMachineIsOwn) {
  std::vector<vg::platform::InterfaceEntry> interfaces;
  ASSERT_EQ(vg::platform::InterfaceLister().List(interfaces), 0);
  ASSERT_FALSE(interfaces.empty());
  for (const auto& e : interfaces) EXPECT_TRUE(vg::IsOwnAddress(e.address)) << DottedText(e.address);
  std::vector<uint32_t> resolved;
  if (vg::platform::ResolveIPv4(vg::platform::HostName(), resolved) == 0) {
    for (uint32_t a : resolved) EXPECT_TRUE(vg::IsOwnAddress(a)) << DottedText(a);
  }
  // Documentation addresses belong to nobody's machine here.
  EXPECT_FALSE(vg::IsOwnAddress(Addr(198, 51, 100, 77)));
}

TEST(OwnAddress, ListWithSeveralInterfaces) {
  const vg::TOwnAddresses own({Addr(10, 0, 0, 5), Addr(192, 168, 7, 1), Addr(172, 16, 0, 9)});
  EXPECT_TRUE(own.Contains(Addr(10, 0, 0, 5)));
  EXPECT_TRUE(own.Contains(Addr(192, 168, 7, 1)));
  EXPECT_TRUE(own.Contains(Addr(172, 16, 0, 9)));
  EXPECT_FALSE(own.Contains(Addr(10, 0, 0, 6)));
}

TEST(OwnAddress, BuiltOnceAndKept) {
  vg::InitOwnAddresses();
  const auto* first = &vg::OwnAddresses();
  vg::InitOwnAddresses();
  EXPECT_EQ(first, &vg::OwnAddresses());
}

TEST(LocalNetwork, MaskOfAnInterface) {
  EXPECT_EQ(vg::InterfaceMask(Addr(127, 0, 0, 1)), Addr(255, 0, 0, 0));
  EXPECT_EQ(vg::InterfaceMask(Addr(198, 51, 100, 77)), 0u);
  EXPECT_EQ(vg::InterfaceMask(0), 0u);
}

TEST(LocalNetwork, AddressesInAndOutsideTheOwnNetwork) {
  const uint32_t local = vg::LocalAddress();
  ASSERT_NE(local, 0u);
  // The first own address is the one on the machine's network when it has one.
  std::vector<vg::platform::InterfaceEntry> interfaces;
  ASSERT_EQ(vg::platform::InterfaceLister().List(interfaces), 0);
  bool hasExternal = false;
  for (const auto& e : interfaces) hasExternal |= (e.address & 0xFF) != 127;
  if (hasExternal) {
    EXPECT_NE(local & 0xFF, 127u) << DottedText(local);
  }

  const uint32_t mask = vg::InterfaceMask(local);
  ASSERT_NE(mask, 0u) << DottedText(local);
  EXPECT_TRUE(vg::IsLocalNetwork(local));
  const uint32_t neighbour = (local & mask) | (~local & ~mask);
  EXPECT_TRUE(vg::IsLocalNetwork(neighbour)) << DottedText(neighbour);
  // Changing any bit of the network part leaves the network.
  const uint32_t outside = local ^ (mask & (0u - mask));
  EXPECT_FALSE(vg::IsLocalNetwork(outside)) << DottedText(outside);
}
