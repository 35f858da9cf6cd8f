// The programs as a user runs them once installed: a read-only installation directory with
// per-user settings and logs, the headless tunnel's exit statuses and its SIGHUP reload, and
// the unpacked Debian package serving a protected page.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "support/E2eSupport.h"

namespace {

using relaytest::Process;
using relaytest::ProcessResult;
using relaytest::ReadFileText;
using relaytest::RunProcess;
using relaytest::WriteFileText;
namespace fs = std::filesystem;

const std::string kBuildDir = VG_TEST_BUILD_DIR;
// The user the programs run as when the tests run as root (nobody).
constexpr uid_t kOtherUid = 65534;

bool IsRoot() { return ::geteuid() == 0; }

std::string Replaced(const std::string& text, const std::string& item, const std::string& value) {
  return std::regex_replace(text, std::regex(item + "=[^\n]*"), item + "=" + value);
}

// A settings file of the build's default with the given port, protecting the test's host
// through the gateway at gatePort.
std::string TunnelSettings(int port, int gatePort) {
  std::string cfg = ReadFileText(e2etest::kBinDir + "/veilgate.cfg");
  cfg = Replaced(cfg, "Self TCP port", std::to_string(port));
  return cfg + "\n[Client\\Web servers\\s1]\nweb server host=" + e2etest::kHost +
         "\nveilgate location=127.0.0.1:" + std::to_string(gatePort) +
         "\ncrypto engine=Emulation/1.0\n[Client\\Web servers\\s1\\Crypto engine]\nUID=client-1\nPartner=gate-1\n";
}

// The protected path of E2eSupport with the tunnel started from another directory, as another
// user when the tests run as root: root may write a read-only installation and read any file.
class Installed : public e2etest::ProtectedPath {
 protected:
  void SetUp() override {
    ProtectedPath::SetUp();
    ::chmod(dir_.Path().c_str(), 0755);
    home_ = UserDir("home");
    env_ = {"HOME=" + home_,
            "XDG_CONFIG_HOME=",
            "XDG_STATE_HOME=",
            "XDG_RUNTIME_DIR=" + UserDir("run"),
            "DISPLAY=",
            "WAYLAND_DISPLAY=",
            "VG_REGISTRY_DIR=" + UserDir("registry"),
            "LD_LIBRARY_PATH=",
            "TMPDIR=" + UserDir("tmp")};
    UserDir("logs");
  }

  void SetEnv(const std::string& name, const std::string& value) {
    std::erase_if(env_, [&](const std::string& e) { return e.rfind(name + "=", 0) == 0; });
    env_.push_back(name + "=" + value);
  }

  // A directory owned by the programs' user.
  std::string UserDir(const std::string& name) {
    const std::string path = dir_.File(name);
    fs::create_directories(path);
    ::chmod(path.c_str(), 0700);
    if (IsRoot()) {
      EXPECT_EQ(::chown(path.c_str(), kOtherUid, kOtherUid), 0);
    }
    return path;
  }

  std::vector<std::string> AsUser(std::vector<std::string> args) const {
    if (IsRoot())
      args.insert(args.begin(), {"setpriv", "--reuid=" + std::to_string(kOtherUid),
                                 "--regid=" + std::to_string(kOtherUid), "--clear-groups", "--"});
    return args;
  }

  // The environment of a program. The sanitizers' runtime makes dlopen look like its own call,
  // so $ORIGIN no longer leads to the modules beside the program: a sanitized build names them.
  std::vector<std::string> EnvFor(const std::string& program) const {
    std::vector<std::string> env = env_;
#ifdef VG_TEST_SANITIZED
    std::erase_if(env, [](const std::string& e) { return e.rfind("LD_LIBRARY_PATH=", 0) == 0; });
    env.push_back("LD_LIBRARY_PATH=" + fs::canonical(program).parent_path().string());
#else
    (void)program;
#endif
    return env;
  }

  // The headless tunnel of the given program file, with extra arguments.
  std::unique_ptr<Process> Tunnel(const std::string& program, std::vector<std::string> args = {}) {
    args.insert(args.begin(), {program, "--headless"});
    return std::make_unique<Process>(AsUser(args), EnvFor(program), dir_.File("tunnel.txt"));
  }

  // Runs the headless tunnel to its end; its exit status and standard error.
  ProcessResult RunTunnel(std::vector<std::string> args) {
    args.insert(args.begin(), {e2etest::kBinDir + "/vgproxy", "--headless"});
    return RunProcess(AsUser(args), 20000, EnvFor(args.front()));
  }

  // "Self TCP port" of the settings file written for a test.
  std::string WriteSettings(int port) {
    const std::string file = dir_.File("user.cfg");
    WriteFileText(file, Replaced(TunnelSettings(port, gatePort_), "Log-file name", dir_.File("logs")));
    ::chmod(file.c_str(), 0644);
    return file;
  }

  void ExpectProtectedPage() {
    const ProcessResult page = Curl({"-i", "http://" + e2etest::kHost + "/len/100"});
    EXPECT_NE(page.out.find("HTTP/1.1 200"), std::string::npos) << page.out << Diagnostics();
  }

  std::string home_;
};

TEST_F(Installed, AReadOnlyInstallationKeepsSettingsAndLogsInTheUsersPlaces) {
  const std::string prefix = dir_.File("prefix");
  const ProcessResult install = RunProcess({VG_TEST_CMAKE, "--install", kBuildDir, "--prefix", prefix}, 120000);
  ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
  const std::string lib = prefix + "/lib/qs-veilgate";
  for (const char* file : {"vgproxy", "vgtool", "vgupdate", "cipherhub.so", "engmod01.so", "veilgate.cfg"})
    EXPECT_TRUE(fs::exists(lib + "/" + file)) << file;
  for (const char* program : {"vgproxy", "vgtool", "vgupdate"})
    EXPECT_EQ(fs::canonical(prefix + "/bin/" + program), fs::canonical(lib + "/" + program)) << program;
  EXPECT_TRUE(fs::exists(prefix + "/share/doc/qs-veilgate/README.md"));

  // The provider's defaults: this machine's port and the protected server.
  proxyPort_ = relaytest::FreePort();
  StartGate();
  WriteFileText(lib + "/veilgate.cfg", TunnelSettings(proxyPort_, gatePort_));
  RunProcess({"chmod", "-R", "a-w", prefix});

  tunnel_ = Tunnel(prefix + "/bin/vgproxy");
  ASSERT_TRUE(relaytest::WaitForPort(proxyPort_, 10000)) << ReadFileText(dir_.File("tunnel.txt"));
  ExpectProtectedPage();
  EXPECT_EQ(tunnel_->Stop(SIGTERM, 10000), 0);
  tunnel_.reset();

  const std::string userSettings = home_ + "/.config/qs-veilgate/veilgate.cfg";
  EXPECT_EQ(ReadFileText(userSettings), ReadFileText(lib + "/veilgate.cfg"));
  const std::string logs = home_ + "/.local/state/qs-veilgate/logs";
  const std::string all = RunProcess({"sh", "-c", "cat " + logs + "/*service.log"}).out;
  EXPECT_NE(all.find(userSettings), std::string::npos) << all;
  EXPECT_NE(RunProcess({"sh", "-c", "cat " + logs + "/*flow.log"}).out.find("/len/100"), std::string::npos);

  const ProcessResult show =
      RunProcess(AsUser({prefix + "/bin/vgtool", "config", "show"}), 20000, EnvFor(prefix + "/bin/vgtool"));
  EXPECT_EQ(show.exitCode, 0) << show.err;
  EXPECT_NE(show.out.find("settings file: " + userSettings + " (per-user)"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("(log files in " + logs + ")"), std::string::npos) << show.out;
  RunProcess({"chmod", "-R", "u+w", prefix});
}

TEST_F(Installed, AHeadlessTunnelThatCannotStartEndsWithStatusOneAndSaysWhy) {
  // Settings that exist but cannot be read.
  const std::string unreadable = WriteSettings(relaytest::FreePort());
  ::chmod(unreadable.c_str(), 0);
  ProcessResult run = RunTunnel({"--config", unreadable});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Permission denied"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(unreadable), std::string::npos) << run.err;

  // A port another program holds; the message goes to the service log too.
  const int busy = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof addr;
  ASSERT_EQ(::bind(busy, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(busy, 1), 0);
  ::getsockname(busy, reinterpret_cast<sockaddr*>(&addr), &size);
  const std::string settings = WriteSettings(ntohs(addr.sin_port));
  run = RunTunnel({"--config", settings});
  ::close(busy);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("QS-Veilgate"), std::string::npos) << run.err;
  const std::string serviceLog = RunProcess({"sh", "-c", "cat " + dir_.File("logs") + "/*service.log"}).out;
  EXPECT_NE(serviceLog.find("Address already in use"), std::string::npos) << serviceLog << run.err;

  // A runtime directory that is not there.
  SetEnv("XDG_RUNTIME_DIR", dir_.File("no-such-dir"));
  run = RunTunnel({"--config", WriteSettings(relaytest::FreePort())});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("runtime directory \"" + dir_.File("no-such-dir") + "\""), std::string::npos) << run.err;
}

TEST_F(Installed, TheFallbackRuntimeDirectoryMustBeTheUsersOwnAndClosed) {
  // Without XDG_RUNTIME_DIR the tunnel uses vg-runtime-<uid> in the temporary directory, where
  // anyone may have made that name first.
  const std::string tmp = dir_.File("shared-tmp");
  fs::create_directories(tmp);
  ::chmod(tmp.c_str(), 01777);
  SetEnv("XDG_RUNTIME_DIR", "");
  SetEnv("TMPDIR", tmp);
  const std::string runtime = tmp + "/vg-runtime-" + std::to_string(IsRoot() ? kOtherUid : ::getuid());
  const std::string settings = WriteSettings(relaytest::FreePort());

  fs::create_directories(runtime);
  ::chmod(runtime.c_str(), 0777);
  if (IsRoot()) {
    EXPECT_EQ(::chown(runtime.c_str(), kOtherUid, kOtherUid), 0);
  }
  ProcessResult run = RunTunnel({"--config", settings});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("open to other users (mode 0777)"), std::string::npos) << run.err;

  if (!IsRoot()) {
    std::cout << "[  NOTE    ] a directory owned by another user needs root to make; that case is left out\n";
  } else {
    ::chmod(runtime.c_str(), 0700);
    EXPECT_EQ(::chown(runtime.c_str(), 0, 0), 0);
    run = RunTunnel({"--config", settings});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("belongs to another user (uid 0)"), std::string::npos) << run.err;
  }

  // Its own closed directory is fine.
  ::chmod(runtime.c_str(), 0700);
  if (IsRoot()) {
    EXPECT_EQ(::chown(runtime.c_str(), kOtherUid, kOtherUid), 0);
  }
  tunnel_ = Tunnel(e2etest::kBinDir + "/vgproxy", {"--config", settings});
  const std::string port = std::regex_replace(ReadFileText(settings), std::regex("[^]*Self TCP port=(\\d+)[^]*"), "$1");
  EXPECT_TRUE(relaytest::WaitForPort(std::stoi(port), 10000)) << ReadFileText(dir_.File("tunnel.txt"));
}

TEST_F(Installed, SighupReloadsTheSettingsAndMovesTheListener) {
  StartGate();
  proxyPort_ = relaytest::FreePort();
  const std::string settings = WriteSettings(proxyPort_);
  tunnel_ = Tunnel(e2etest::kBinDir + "/vgproxy", {"--config", settings});
  ASSERT_TRUE(relaytest::WaitForPort(proxyPort_, 10000)) << ReadFileText(dir_.File("tunnel.txt"));
  ExpectProtectedPage();

  const int oldPort = proxyPort_;
  proxyPort_ = relaytest::FreePort();
  WriteFileText(settings, Replaced(TunnelSettings(proxyPort_, gatePort_), "Log-file name", dir_.File("logs")));
  ::kill(tunnel_->Pid(), SIGHUP);
  ASSERT_TRUE(relaytest::WaitForPort(proxyPort_, 10000)) << ReadFileText(dir_.File("tunnel.txt"));
  EXPECT_FALSE(relaytest::WaitForPort(oldPort, 200));
  ExpectProtectedPage();
  // The restart dropped the session key: a second agreement.
  EXPECT_EQ(e2etest::KeyAgreements(GateLog()), 2u) << GateLog();

  // Settings that do not load leave the running ones in place.
  WriteFileText(settings, "garbage\n");
  ::kill(tunnel_->Pid(), SIGHUP);
  const std::string failure = "Ошибка при чтении конфигурации";
  for (int i = 0; i < 50 && ReadFileText(dir_.File("tunnel.txt")).find(failure) == std::string::npos; ++i)
    ::usleep(100000);
  EXPECT_NE(ReadFileText(dir_.File("tunnel.txt")).find(failure), std::string::npos);
  EXPECT_TRUE(tunnel_->Running());
  ExpectProtectedPage();
}

TEST_F(Installed, TheUnpackedPackageServesAProtectedPage) {
  std::string deb;
  for (const auto& entry : fs::directory_iterator(kBuildDir))
    if (entry.path().extension() == ".deb" && entry.path().filename().string().rfind("qs-veilgate_", 0) == 0)
      deb = entry.path().string();
  if (deb.empty()) GTEST_SKIP() << "no package in " << kBuildDir << ": cmake --build build --target package";
  const std::string root = dir_.File("root");
  const ProcessResult unpack = RunProcess({"dpkg-deb", "-x", deb, root}, 60000);
  ASSERT_EQ(unpack.exitCode, 0) << unpack.err;
  for (const char* file :
       {"usr/bin/vgproxy", "usr/bin/vgtool", "usr/bin/vgupdate", "usr/lib/qs-veilgate/cipherhub.so",
        "usr/lib/qs-veilgate/veilgate.cfg", "usr/share/applications/qs-veilgate.desktop",
        "usr/share/qs-veilgate/autostart/qs-veilgate.desktop", "usr/share/icons/hicolor/scalable/apps/qs-veilgate.svg",
        "usr/lib/systemd/user/qs-veilgate.service", "usr/share/doc/qs-veilgate/copyright"})
    EXPECT_TRUE(fs::exists(root + "/" + file)) << file;
  const std::string unit = ReadFileText(root + "/usr/lib/systemd/user/qs-veilgate.service");
  EXPECT_NE(unit.find("ExecStart=/usr/bin/vgproxy --headless\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("Restart=on-failure\n"), std::string::npos) << unit;
  if (RunProcess({"sh", "-c", "command -v systemd-analyze"}).exitCode == 0) {
    // The unit as it would be installed, pointing at the unpacked program.
    WriteFileText(dir_.File("qs-veilgate.service"),
                  std::regex_replace(unit, std::regex("/usr/bin/vgproxy"), root + "/usr/bin/vgproxy"));
    const ProcessResult verify =
        RunProcess({"systemd-analyze", "--user", "verify", dir_.File("qs-veilgate.service")}, 60000, env_);
    EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
    EXPECT_EQ(verify.out + verify.err, "");  // an unknown key is only a warning
  }

  StartGate();
  proxyPort_ = relaytest::FreePort();
  tunnel_ = Tunnel(root + "/usr/bin/vgproxy", {"--config", WriteSettings(proxyPort_)});
  ASSERT_TRUE(relaytest::WaitForPort(proxyPort_, 10000)) << ReadFileText(dir_.File("tunnel.txt"));
  ExpectProtectedPage();
}

}  // namespace
