#pragma once
// The protected path as real processes: a web server of the test, vggate in front of it and
// vgproxy protecting it under one host name; curl as the browser.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "support/RelaySupport.h"

namespace e2etest {

using relaytest::Process;
using relaytest::ProcessResult;
using relaytest::ReadFileText;
using relaytest::WriteFileText;

inline const std::string kHost = "www.protected.test";
inline const std::string kBinDir = VG_TEST_BIN_DIR;

inline size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Key agreements in a gateway log: a key answer names the issued record with use counter 0.
inline size_t KeyAgreements(const std::string& gateLog) {
  const std::regex line("status=200 key=[0-9a-f]{8}#0\n");
  return static_cast<size_t>(
      std::distance(std::sregex_iterator(gateLog.begin(), gateLog.end(), line), std::sregex_iterator()));
}

// vggate as a process of the test in front of one web server, which it serves under kHost;
// stopped by its process id. Every start writes a log file of its own; the port stays.
class GatewayProcess {
 public:
  ~GatewayProcess() { Stop(); }

  // Engine lines; the emulation engine partnered with the tunnel's "client-1" by default.
  std::string engine = "Engine=Emulation/1.0\n";
  std::string engineParams = "UID=gate-1\nPartner=client-1\n";

  // gateway: more [Gateway] items; faults: [Faults] lines. A running gateway is stopped first.
  void Start(const std::string& dir, int webPort, const std::vector<std::string>& env, const std::string& gateway = "",
             const std::string& faults = "") {
    Stop();
    if (port_ == 0) port_ = relaytest::FreePort();
    dir_ = dir;
    const std::string ini = dir + "/gate.ini";
    WriteFileText(ini, "[Gateway]\nListen=127.0.0.1:" + std::to_string(port_) + "\n" + engine + gateway + "[Engine]\n" +
                           engineParams + "[Backends]\n" + kHost + "=127.0.0.1:" + std::to_string(webPort) +
                           "\n[Faults]\n" + faults);
    ++runs_;
    process_ =
        std::make_unique<Process>(std::vector<std::string>{kBinDir + "/vggate", "--config", ini}, env, LogFile());
    ASSERT_TRUE(relaytest::WaitForPort(port_, 10000)) << Log();
  }
  void Stop() {
    if (process_) process_->Stop(SIGTERM, 10000);
    process_.reset();
  }
  int Port() const { return port_; }
  std::string Location() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string LogFile() const { return dir_ + "/gate" + std::to_string(runs_) + ".txt"; }
  // The gateway's log: one line per exchange with its status and key.
  std::string Log() const { return ReadFileText(LogFile()); }

 private:
  std::unique_ptr<Process> process_;
  std::string dir_;
  int port_ = 0;
  int runs_ = 0;
};

class ProtectedPath : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = {"VG_REGISTRY_DIR=" + dir_.File("registry"), "XDG_RUNTIME_DIR=" + dir_.Path(),
            "DISPLAY=", "WAYLAND_DISPLAY=", "LD_LIBRARY_PATH=" + kBinDir};
  }
  void TearDown() override { StopAll(); }

  // Engine lines for each side; the emulation engine by default.
  std::string gateEngine_ = "Engine=Emulation/1.0\n";
  std::string gateEngineParams_ = "UID=gate-1\nPartner=client-1\n";
  std::string tunnelEngine_ = "Emulation/1.0";
  std::string tunnelEngineParams_ = "UID=client-1\nPartner=gate-1\n";

  void StartGate(const std::string& gateway = "", const std::string& faults = "") {
    gate_.engine = gateEngine_;
    gate_.engineParams = gateEngineParams_;
    gate_.Start(dir_.Path(), web_.Port(), env_, gateway, faults);
    gatePort_ = gate_.Port();
  }

  // record: extra items of the protected server's record; location: port of "veilgate location".
  // options: items replacing those of the default settings file, "Name=value" lines.
  void StartTunnel(const std::string& record = "", bool errorTrace = false, int location = 0,
                   const std::string& options = "") {
    WriteTunnelConfig(record, errorTrace, location, options);
    if (HasFatalFailure()) return;
    tunnel_ =
        std::make_unique<Process>(std::vector<std::string>{kBinDir + "/vgproxy", "--headless", "--config", Config()},
                                  env_, dir_.File("tunnel.txt"));
    ASSERT_TRUE(relaytest::WaitForPort(proxyPort_, 10000)) << ReadFileText(dir_.File("tunnel.txt"));
  }

  // The settings file StartTunnel gives the program, written to Config().
  void WriteTunnelConfig(const std::string& record = "", bool errorTrace = false, int location = 0,
                         const std::string& options = "") {
    if (proxyPort_ == 0) proxyPort_ = relaytest::FreePort();
    std::string cfg = ReadFileText(kBinDir + "/veilgate.cfg");
    ASSERT_FALSE(cfg.empty());
    cfg = std::regex_replace(cfg, std::regex("Self TCP port=\\d+"), "Self TCP port=" + std::to_string(proxyPort_));
    cfg = std::regex_replace(cfg, std::regex("Error trace mode=\\d"),
                             std::string("Error trace mode=") + (errorTrace ? "1" : "0"));
    cfg = std::regex_replace(cfg, std::regex("Log-file name=[^\n]*"), "Log-file name=" + dir_.File("logs"));
    std::smatch item;
    for (std::string rest = options; std::regex_search(rest, item, std::regex("([^=\n]+)=([^\n]*)\n"));
         rest = item.suffix())
      cfg =
          std::regex_replace(cfg, std::regex(item[1].str() + "=[^\n]*"), item[0].str().substr(0, item[0].length() - 1));
    cfg += "\n[Client\\Web servers\\s1]\nweb server host=" + kHost +
           "\nveilgate location=127.0.0.1:" + std::to_string(location ? location : gatePort_) +
           "\ncrypto engine=" + tunnelEngine_ + "\n" + record + "[Client\\Web servers\\s1\\Crypto engine]\n" +
           tunnelEngineParams_;
    WriteFileText(Config(), cfg);
  }

  void StopAll() {
    if (tunnel_) {
      EXPECT_EQ(tunnel_->Stop(SIGTERM, 10000), 0);
    }
    gate_.Stop();
    tunnel_.reset();
  }

  ProcessResult Curl(std::vector<std::string> args, int timeoutMs = 30000) {
    std::vector<std::string> all = {"curl",       "-s",
                                    "--max-time", std::to_string(timeoutMs / 1000 - 2),
                                    "-x",         "http://127.0.0.1:" + std::to_string(proxyPort_)};
    all.insert(all.end(), args.begin(), args.end());
    return relaytest::RunProcess(all, timeoutMs);
  }

  std::string Config() const { return dir_.File("veilgate.cfg"); }
  std::string GateLog() const { return gate_.Log(); }
  std::string TunnelLogs() const { return relaytest::RunProcess({"sh", "-c", "cat " + dir_.File("logs") + "/*"}).out; }
  std::string Diagnostics() const {
    return "\n--- gate:\n" + GateLog() + "\n--- tunnel:\n" + ReadFileText(dir_.File("tunnel.txt")) +
           "\n--- tunnel logs:\n" + TunnelLogs();
  }

  relaytest::TempDir dir_;
  relaytest::TestHttpServer web_;
  std::vector<std::string> env_;
  GatewayProcess gate_;
  std::unique_ptr<Process> tunnel_;
  int gatePort_ = 0;
  int proxyPort_ = 0;
};

}  // namespace e2etest
