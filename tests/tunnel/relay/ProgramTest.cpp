// The vgproxy program itself: start-up checks, one instance per desktop, serving and unloading.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "platform/CodePage.h"
#include "platform/Instance.h"
#include "platform/Registry.h"
#include "support/RelaySupport.h"

using namespace relaytest;

namespace {

const std::string kProgram = std::string(VG_TEST_BIN_DIR) + "/vgproxy";

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = FreePort();
    // The default settings file as the build writes it, on a port of the test's own.
    std::string cfg = ReadFileText(std::string(VG_TEST_BIN_DIR) + "/veilgate.cfg");
    ASSERT_FALSE(cfg.empty()) << "the build writes a default veilgate.cfg";
    cfg = std::regex_replace(cfg, std::regex("Self TCP port=\\d+"), "Self TCP port=" + std::to_string(port_));
    WriteFileText(Config(), cfg);
    // Under the address sanitizer a module loaded by bare name is not looked for along the
    // program's run path; the library path stands in for it.
    env_ = {"VG_REGISTRY_DIR=" + dir_.File("registry"), "XDG_RUNTIME_DIR=" + dir_.Path(),
            "DISPLAY=", "WAYLAND_DISPLAY=", "LD_LIBRARY_PATH=" + std::string(VG_TEST_BIN_DIR)};
  }

  std::string Config() const { return dir_.File("veilgate.cfg"); }
  std::unique_ptr<Process> Start(const std::string& out = "out.txt") {
    return std::make_unique<Process>(std::vector<std::string>{kProgram, "--headless", "--config", Config()}, env_,
                                     dir_.File(out));
  }
  // Starts the program through a shell line ("$0" is the program) until it listens on a port of
  // its own: a port found free can be taken by another test before the program binds it, and
  // then the program ends at once while the other listener answers.
  std::unique_ptr<Process> StartListening(const std::string& shellLine) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      auto tunnel = std::make_unique<Process>(
          std::vector<std::string>{"/bin/sh", "-c", shellLine, kProgram, "--headless", "--config", Config()}, env_,
          dir_.File("out.txt"));
      if (WaitForPort(port_)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (tunnel->Running()) return tunnel;
      }
      tunnel->Stop(SIGTERM, 5000);
      port_ = FreePort();
      WriteFileText(Config(), std::regex_replace(ReadFileText(Config()), std::regex("Self TCP port=\\d+"),
                                                 "Self TCP port=" + std::to_string(port_)));
    }
    ADD_FAILURE() << "the program did not listen: " << Output();
    return nullptr;
  }
  // What the program wrote to standard output and error (UTF-8 for the terminal).
  std::string Output(const std::string& out = "out.txt") { return ReadFileText(dir_.File(out)); }
  // Makes this process see the same desktop and registry as the program.
  void ShareEnvironment() {
    ::setenv("XDG_RUNTIME_DIR", dir_.Path().c_str(), 1);
    ::setenv("VG_REGISTRY_DIR", dir_.File("registry").c_str(), 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
  }

  TempDir dir_;
  int port_ = 0;
  std::vector<std::string> env_;
};

TEST_F(ProgramTest, ServesHttpAndTunnelsWithTheDefaultSettings) {
  TestHttpServer server;
  auto tunnel = Start();
  ASSERT_TRUE(WaitForPort(port_)) << Output();
  const std::string proxy = "http://127.0.0.1:" + std::to_string(port_);
  ProcessResult r = RunProcess(
      {"curl", "-s", "--max-time", "15", "-x", proxy, "http://127.0.0.1:" + std::to_string(server.Port()) + "/len/26"});
  EXPECT_EQ(r.out, Body(26)) << r.err;

  const ProcessResult made =
      RunProcess({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", dir_.File("key.pem"), "-out",
                  dir_.File("cert.pem"), "-subj", "/CN=localhost", "-days", "1"});
  ASSERT_EQ(made.exitCode, 0);
  const int tlsPort = FreePort();
  Process tls({"openssl", "s_server", "-accept", std::to_string(tlsPort), "-cert", dir_.File("cert.pem"), "-key",
               dir_.File("key.pem"), "-www", "-quiet"});
  ASSERT_TRUE(WaitForPort(tlsPort));
  r = RunProcess({"curl", "-sk", "--max-time", "15", "-x", proxy, "-o", "/dev/null", "-w", "%{http_code}",
                  "https://127.0.0.1:" + std::to_string(tlsPort) + "/"});
  tls.Stop(SIGTERM, 5000);
  EXPECT_EQ(r.out, "200") << r.err;
  EXPECT_EQ(tunnel->Stop(SIGTERM, 5000), 0);
}

TEST_F(ProgramTest, ASecondStartEndsSilentlyAndTheFirstGoesOn) {
  auto first = Start();
  ASSERT_TRUE(WaitForPort(port_)) << Output();
  const ProcessResult second = RunProcess({kProgram, "--headless", "--config", Config()}, 5000, env_);
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(second.out + second.err, "");
  EXPECT_TRUE(first->Running());
  EXPECT_TRUE(WaitForPort(port_, 500));
  EXPECT_EQ(first->Stop(SIGINT, 5000), 0);
}

TEST_F(ProgramTest, UnloadEndsConnectionsBlockedInLongWaits) {
  TestHttpServer server;
  auto tunnel = Start();
  ASSERT_TRUE(WaitForPort(port_)) << Output();
  RawClient idle(port_);
  RawClient waiting(port_);
  waiting.Send(ProxyGet(server.Port(), "/hang"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(tunnel->Stop(SIGTERM, 5000), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(1500));
  EXPECT_TRUE(idle.PeerClosed(500));
  EXPECT_TRUE(waiting.PeerClosed(500));
}

// Descriptors the program holds now, and its soft and hard limit as it sees them.
size_t OpenDescriptors(int pid) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
    ++n;
  return n;
}
std::string DescriptorLimits(int pid) {
  std::smatch m;
  const std::string limits = ReadFileText("/proc/" + std::to_string(pid) + "/limits");
  return std::regex_search(limits, m, std::regex("Max open files +(\\S+) +(\\S+)")) ? m[1].str() + " " + m[2].str()
                                                                                    : "";
}

TEST_F(ProgramTest, ManyConnectionsAtTheCommonDescriptorLimit) {
  constexpr int kConnections = 1500;
  rlimit own{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &own), 0);
  if (own.rlim_max != RLIM_INFINITY && own.rlim_max < 2 * kConnections + 200)
    GTEST_SKIP() << "the hard descriptor limit is too low for this test";
  rlimit raised = own;
  raised.rlim_cur = own.rlim_max;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &raised), 0);
  WriteFileText(Config(), std::regex_replace(ReadFileText(Config()), std::regex("Log-file name=[^\n]*"),
                                             "Log-file name=" + dir_.File("logs")));
  TestHttpServer server;
  // The soft limit as many systems set it; the program raises it to the hard limit.
  const std::string limited = "ulimit -Sn 1024 && exec \"$0\" \"$@\"";
  auto tunnel = StartListening(limited);
  ASSERT_TRUE(tunnel);
  const std::string hard = own.rlim_max == RLIM_INFINITY ? "unlimited" : std::to_string(own.rlim_max);
  EXPECT_EQ(DescriptorLimits(tunnel->Pid()), hard + " " + hard);
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < kConnections; ++i) {
    clients.push_back(std::make_unique<RawClient>(port_));
    ASSERT_TRUE(clients.back()->Connected()) << i;
  }
  // Served from the first to the last, which also waits until every connection was taken.
  for (int i = kConnections - 1; i >= 0; i -= 299) {
    clients[i]->Send(ProxyGet(server.Port(), "/len/2"));
    EXPECT_EQ(BodyOf(clients[i]->ReadAnswer(10000)), "ab") << i;
  }
  // An idle connection costs its socket and one wake-up descriptor.
  EXPECT_LT(OpenDescriptors(tunnel->Pid()), 2u * kConnections + 100u);
  clients.clear();
  EXPECT_EQ(tunnel->Stop(SIGTERM, 20000), 0);

  // Where the hard limit is low as well, reaching it is logged.
  tunnel = StartListening("ulimit -n 256 && exec \"$0\" \"$@\"");
  ASSERT_TRUE(tunnel);
  for (int i = 0; i < 200; ++i) clients.push_back(std::make_unique<RawClient>(port_));
  std::string logs;
  const std::string refused = vg::platform::Utf8ToCp1251("Соединение не принято: ");
  for (int i = 0; i < 50 && logs.find(refused) == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    logs = RunProcess({"sh", "-c", "cat " + dir_.File("logs") + "/*"}).out;
  }
  EXPECT_NE(logs.find(refused), std::string::npos) << logs;
  clients.clear();
  EXPECT_EQ(tunnel->Stop(SIGTERM, 20000), 0);
}

TEST_F(ProgramTest, APostedQuitUnloadsTheProgram) {
  ShareEnvironment();
  auto tunnel = Start();
  ASSERT_TRUE(WaitForPort(port_)) << Output();
  EXPECT_TRUE(vg::platform::FindWindowByClass("TQSVeilgateAboutForm"));
  EXPECT_TRUE(vg::platform::PostQuitToWindow("TQSVeilgateAboutForm"));
  EXPECT_EQ(tunnel->WaitExit(5000), 0);
  EXPECT_FALSE(vg::platform::FindWindowByClass("TQSVeilgateAboutForm"));
}

// A display variable left from a session that has ended: windows cannot come up, so the tunnel
// runs without them instead of ending in the GUI toolkit's start-up.
TEST_F(ProgramTest, ADisplayThatDoesNotAnswerLeavesTheProgramWithoutWindows) {
  const std::string display = ":" + std::to_string(700 + ::getpid() % 200);
  for (std::string& var : env_)
    if (var == "DISPLAY=") var = "DISPLAY=" + display;
  env_.push_back("QT_QPA_PLATFORM=");
  auto tunnel =
      std::make_unique<Process>(std::vector<std::string>{kProgram, "--config", Config()}, env_, dir_.File("out.txt"));
  EXPECT_TRUE(WaitForPort(port_, 10000)) << Output();
  EXPECT_EQ(tunnel->Stop(SIGTERM, 5000), 0);
  EXPECT_NE(Output().find("the display \"" + display + "\" does not answer"), std::string::npos) << Output();
}

TEST_F(ProgramTest, AnEarlierReleaseEndsTheProgramWithItsMessage) {
  ShareEnvironment();
  namespace reg = vg::platform::registry;
  reg::Key key;
  ASSERT_EQ(reg::CreateKey(reg::Key::RootKey(reg::Root::kLocalMachine),
                           "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QS-Veilgate", key),
            reg::kSuccess);
  const ProcessResult r = RunProcess({kProgram, "--headless", "--config", Config()}, 10000, env_);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Versions error!: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("(релиз 15)"), std::string::npos) << r.err;
}

// The headless program tells its service manager: status 1 (the tray program stays instead).
TEST_F(ProgramTest, BrokenSettingsAndABusyPortAreShownAndTheHeadlessProgramEnds) {
  TestHttpServer busy;
  std::string cfg = ReadFileText(Config());
  WriteFileText(Config(), std::regex_replace(cfg, std::regex("Self TCP port=\\d+"),
                                             "Self TCP port=" + std::to_string(busy.Port())));
  auto tunnel = Start();
  EXPECT_EQ(tunnel->WaitExit(5000), 1);
  EXPECT_NE(Output().find("QS-Veilgate (клиентская часть) : Windows socket error: Address already in use (10048)"),
            std::string::npos)
      << Output();

  WriteFileText(Config(), std::regex_replace(cfg, std::regex("Self TCP port=\\d+\n"), ""));
  tunnel = Start("out2.txt");
  EXPECT_EQ(tunnel->WaitExit(5000), 1);
  EXPECT_NE(Output("out2.txt").find("QS-Veilgate (клиентская часть) : Ошибка при чтении конфигурации"),
            std::string::npos)
      << Output("out2.txt");
  EXPECT_FALSE(WaitForPort(port_, 200));
}

TEST_F(ProgramTest, AProtectedServerThroughTheReferenceGateway) {
  TestHttpServer web;
  const int gatePort = FreePort();
  WriteFileText(dir_.File("gate.ini"),
                "[Gateway]\nListen=127.0.0.1:" + std::to_string(gatePort) +
                    "\nEngine=Emulation/1.0\nCompress=2\n[Engine]\nUID=gate-1\nPartner=client-1\n"
                    "[Backends]\nwww.protected.test=127.0.0.1:" +
                    std::to_string(web.Port()) + "\n");
  Process gate({std::string(VG_TEST_BIN_DIR) + "/vggate", "--config", dir_.File("gate.ini")}, env_,
               dir_.File("gate.txt"));
  ASSERT_TRUE(WaitForPort(gatePort)) << ReadFileText(dir_.File("gate.txt"));
  WriteFileText(Config(), ReadFileText(Config()) +
                              "\n[Client\\Web servers\\s1]\nweb server host=www.protected.test\n"
                              "veilgate location=127.0.0.1:" +
                              std::to_string(gatePort) +
                              "\ncrypto engine=Emulation/1.0\ncompress mode=2\n"
                              "[Client\\Web servers\\s1\\Crypto engine]\nUID=client-1\nPartner=gate-1\n");
  auto tunnel = Start();
  ASSERT_TRUE(WaitForPort(port_)) << Output();
  const std::string proxy = "http://127.0.0.1:" + std::to_string(port_);
  ProcessResult r = RunProcess({"curl", "-s", "--max-time", "15", "-x", proxy, "http://www.protected.test/len/5000"});
  EXPECT_EQ(r.out, Body(5000)) << r.err << Output();
  r = RunProcess({"curl", "-s", "--max-time", "15", "-x", proxy, "--data-binary", "field=value",
                  "http://www.protected.test/echo"});
  EXPECT_NE(r.out.find("\r\n\r\nfield=value"), std::string::npos) << r.out;
  EXPECT_EQ(tunnel->Stop(SIGTERM, 5000), 0);
  gate.Stop(SIGTERM, 5000);
  // The web server saw the plain requests the gateway forwarded; the gateway saw them protected.
  EXPECT_EQ(web.Requests().size(), 2u);
  EXPECT_NE(ReadFileText(dir_.File("gate.txt")).find("status=200"), std::string::npos)
      << ReadFileText(dir_.File("gate.txt"));
}

TEST(ReleaseMarkerTest, TheProgramCarriesTheMarkerOnce) {
  const std::string image = ReadFileText(kProgram);
  const std::string signature = "QSVG-RelMark\x8C\x3E\x51\xA7";
  const size_t at = image.find(signature);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(image.find(signature, at + 1), std::string::npos);
  EXPECT_EQ(image.substr(at + 16, 4), std::string("\x05\x00\x01\x00", 4));
}

}  // namespace
