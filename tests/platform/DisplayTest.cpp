// Whether a window system answers: a display variable counts only when its socket accepts.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Display.h"
#include "support/ScratchDir.h"

namespace {

// A listening socket: local (a leading '@' for the abstract namespace) or TCP on loopback.
class Listener {
 public:
  explicit Listener(const std::string& name) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, name.data(), name.size());
    if (name[0] == '@') a.sun_path[0] = '\0';
    ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), offsetof(sockaddr_un, sun_path) + name.size()) == 0 &&
          ::listen(fd_, 4) == 0;
  }
  explicit Listener(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd_, 4) == 0;
  }
  ~Listener() { ::close(fd_); }
  bool Ok() const { return ok_; }

 private:
  int fd_;
  bool ok_ = false;
};

class DisplayProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kNames) {
      const char* v = ::getenv(name);
      saved_.emplace_back(v ? std::optional<std::string>(v) : std::nullopt);
      ::unsetenv(name);
    }
  }
  void TearDown() override {
    for (size_t i = 0; i < saved_.size(); ++i)
      saved_[i] ? ::setenv(kNames[i], saved_[i]->c_str(), 1) : ::unsetenv(kNames[i]);
  }
  static void Expect(bool available, const std::string& problemPart = "") {
    const vg::platform::DisplayProbe probe = vg::platform::ProbeDisplay(std::chrono::milliseconds(500));
    EXPECT_EQ(probe.available, available) << probe.problem;
    if (problemPart.empty())
      EXPECT_EQ(probe.problem, "");
    else
      EXPECT_NE(probe.problem.find(problemPart), std::string::npos) << probe.problem;
  }
  static constexpr const char* kNames[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"};
  std::vector<std::optional<std::string>> saved_;
  vgtest::ScratchDir dir_;
};

TEST_F(DisplayProbeTest, OnlyADisplayThatAcceptsCounts) {
  Expect(false);  // none named: quietly without windows
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  Expect(true);
  ::unsetenv("QT_QPA_PLATFORM");

  // Wayland: the socket's name under the runtime directory.
  ::setenv("XDG_RUNTIME_DIR", dir_.Path().c_str(), 1);
  ::setenv("WAYLAND_DISPLAY", "wayland-vg", 1);
  Expect(false, "the display \"wayland-vg\" does not answer (No such file or directory)");
  {
    Listener compositor(dir_.File("wayland-vg"));
    ASSERT_TRUE(compositor.Ok());
    Expect(true);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);  // the toolkit told to use X only
    Expect(false);
    ::unsetenv("QT_QPA_PLATFORM");
  }
  ::unsetenv("WAYLAND_DISPLAY");

  // X on this machine (the abstract socket of display n) and on a host (TCP port 6000+n).
  const int n = 700 + ::getpid() % 200;
  const std::string local = ":" + std::to_string(n) + ".0";
  ::setenv("DISPLAY", local.c_str(), 1);
  Expect(false, "the display \"" + local + "\" does not answer");
  {
    Listener server("@/tmp/.X11-unix/X" + std::to_string(n));
    ASSERT_TRUE(server.Ok());
    Expect(true);
  }
  int tcp = n;
  std::unique_ptr<Listener> server;
  for (; tcp < n + 50; ++tcp) {
    server = std::make_unique<Listener>(6000 + tcp);
    if (server->Ok()) break;
  }
  ASSERT_TRUE(server->Ok());
  const std::string remote = "127.0.0.1:" + std::to_string(tcp);
  ::setenv("DISPLAY", remote.c_str(), 1);
  Expect(true);
  server.reset();
  Expect(false, "(Connection refused)");

  ::setenv("DISPLAY", "nonsense", 1);
  Expect(false, "the display \"nonsense\" does not answer (not a display name)");
}

}  // namespace
