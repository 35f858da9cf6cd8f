#include <gtest/gtest.h>

#include "platform/Net.h"
#include "sockets/fEntry.h"

using vg::THttpEntry;

namespace {
THttpEntry Parsed(std::string_view text) {
  THttpEntry e;
  e.Parse(text);
  return e;
}
}  // namespace

TEST(HttpEntry, ParseForms) {
  struct Case {
    const char* text;
    const char* host;
    int port;
  } cases[] = {
      {"example.org", "example.org", 80},
      {"example.org:8080", "example.org", 8080},
      {"  example.org  ", "example.org", 80},
      {" example.org : 8080 ", "example.org", 8080},
      {"example.org:http", "example.org", 80},
      {"example.org:", "example.org", 80},
      {"example.org:80x", "example.org", 80},
      {"example.org:+81", "example.org", 81},
      {"example.org:-1", "example.org", -1},
      {"example.org:99999999999", "example.org", 80},
      {"example.org:2147483647", "example.org", 2147483647},
      {"10.0.0.1:443:extra", "10.0.0.1", 80},
      {":8080", "", 8080},
      {"", "", 80},
      {"\t\r\nhost\x01", "host", 80},
  };
  for (const auto& c : cases) {
    const THttpEntry e = Parsed(c.text);
    EXPECT_EQ(e.Host(), c.host) << c.text;
    EXPECT_EQ(e.Port(), c.port) << c.text;
  }
}

TEST(HttpEntry, AsTextShowsOnlyANonDefaultPort) {
  EXPECT_EQ(Parsed("example.org:http").AsText(), "example.org");
  EXPECT_EQ(Parsed("example.org:80").AsText(), "example.org");
  EXPECT_EQ(Parsed("example.org:8080").AsText(), "example.org:8080");
  EXPECT_EQ(Parsed(":8080").AsText(), "");

  THttpEntry e;
  e.SetDefaultPort(443);
  e.Parse("secure.example");
  EXPECT_EQ(e.Port(), 443);
  EXPECT_EQ(e.AsText(), "secure.example");
  e.SetPort(80);
  EXPECT_EQ(e.AsText(), "secure.example:80");
}

TEST(HttpEntry, SetHostOnlyKeepsThePort) {
  THttpEntry e = Parsed("a:8080");
  e.SetHostOnly("  b.example:9090 ");
  EXPECT_EQ(e.Host(), "b.example");
  EXPECT_EQ(e.Port(), 8080);
}

TEST(HttpEntry, SameAsIgnoresCaseOfHostOnly) {
  EXPECT_TRUE(Parsed("Gate.Example.ORG:81").SameAs(Parsed("gate.example.org:81")));
  EXPECT_FALSE(Parsed("gate.example.org:81").SameAs(Parsed("gate.example.org:82")));
  EXPECT_FALSE(Parsed("gate.example.org").SameAs(Parsed("gate.example.or")));
  EXPECT_FALSE(Parsed("gate1").SameAs(Parsed("gate2")));
  // Bytes outside ASCII are compared as they are.
  EXPECT_FALSE(Parsed("\xC0").SameAs(Parsed("\xE0")));
}

TEST(HttpEntry, AssignCopiesHostAndPortOnly) {
  THttpEntry source;
  source.SetDefaultPort(8000);
  source.Parse("src.example");
  THttpEntry target = Parsed("dst:1");
  target.Assign(source);
  EXPECT_EQ(target.Host(), "src.example");
  EXPECT_EQ(target.Port(), 8000);
  EXPECT_EQ(target.DefaultPort(), 80);
  EXPECT_EQ(target.AsText(), "src.example:8000");
}

TEST(HttpEntry, IsAddress) {
  EXPECT_TRUE(Parsed("192.168.0.1:8080").IsAddress());
  EXPECT_TRUE(Parsed("1..2.3").IsAddress());
  EXPECT_FALSE(Parsed("255.255.255.255").IsAddress());
  EXPECT_FALSE(Parsed("192.168.0.256").IsAddress());
  EXPECT_FALSE(Parsed("host.example").IsAddress());
  EXPECT_FALSE(Parsed("").IsAddress());
}

TEST(HttpEntry, ApplyToSetsAddressOrHostName) {
  vg::platform::ClientSocket socket;
  socket.SetHost("old-host");
  Parsed("10.1.2.3:8080").ApplyTo(socket);
  EXPECT_EQ(socket.Address(), "10.1.2.3");
  EXPECT_EQ(socket.Host(), "");
  EXPECT_EQ(socket.Port(), 8080);

  Parsed("gate.example").ApplyTo(socket);
  EXPECT_EQ(socket.Address(), "");
  EXPECT_EQ(socket.Host(), "gate.example");
  EXPECT_EQ(socket.Port(), 80);
}

TEST(HttpEntry, ApplyToLeavesAConnectedSocketAlone) {
  vg::platform::ListenSocket listener;
  ASSERT_EQ(listener.Listen(0, true), 0);
  vg::platform::ClientSocket socket;
  THttpEntry target;
  target.SetHostOnly("127.0.0.1");
  target.SetPort(listener.Port());
  target.ApplyTo(socket);
  ASSERT_EQ(socket.Open(2000), 0);

  Parsed("other.example:81").ApplyTo(socket);
  EXPECT_EQ(socket.Address(), "127.0.0.1");
  EXPECT_EQ(socket.Host(), "");
  EXPECT_EQ(socket.Port(), listener.Port());
}
