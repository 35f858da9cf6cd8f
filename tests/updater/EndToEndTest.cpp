// vgupdate --headless against a real vgproxy running from a temporary installation.
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "platform/Instance.h"
#include "platform/Registry.h"
#include "updater/UpdaterSupport.h"

namespace updtest {
namespace {

namespace fs = std::filesystem;
namespace reg = vg::platform::registry;

std::string ExeOf(int pid) {
  std::error_code ec;
  return fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).string();
}

class EndToEndTest : public UpdaterTest {
 protected:
  void SetUp() override {
    UpdaterTest::SetUp();
    // The installation lies where the registry's program-files directory says.
    install_ = Root("pf/QS-Veilgate");
    fs::create_directories(install_);
    reg::Key versionKey;
    ASSERT_EQ(reg::CreateKey(reg::Key::RootKey(reg::Root::kLocalMachine),
                             "Software\\Microsoft\\Windows\\CurrentVersion", versionKey),
              reg::kSuccess);
    ASSERT_EQ(reg::SetValue(versionKey, "ProgramFilesDir", reg::kTypeString, Root("pf")), reg::kSuccess);

    port_ = relaytest::FreePort();
    fs::copy_file(std::string(VG_TEST_BIN_DIR) + "/vgproxy", install_ + "/vgproxy");
    std::string cfg = ReadFileText(std::string(VG_TEST_BIN_DIR) + "/veilgate.cfg");
    cfg = std::regex_replace(cfg, std::regex("Self TCP port=[0-9]+"), "Self TCP port=" + std::to_string(port_));
    cfg = std::regex_replace(cfg, std::regex("Log-file name=[^\n]*"), "Log-file name=" + Root("logs"));
    WriteFileText(install_ + "/veilgate.cfg", cfg);

    // The package: the same tunnel with a mark of its own, the control, the updater itself.
    WriteFileText(Pkg("vgproxy"), ReadFileText(std::string(VG_TEST_BIN_DIR) + "/vgproxy") + "new build");
    ::chmod(Pkg("vgproxy").c_str(), 0755);
    fs::copy_file(VG_TEST_OCX, Pkg("testctl.ocx"));
    fs::copy_file(std::string(VG_TEST_BIN_DIR) + "/vgupdate", Pkg("vgupdate"));
  }
  void TearDown() override {
    if (restarted_ > 0) {
      ::kill(restarted_, SIGTERM);
      for (int i = 0; i < 50 && ::kill(restarted_, 0) == 0; ++i) ::usleep(100000);
    }
  }
  relaytest::ProcessResult Update(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    std::vector<std::string> command{"/usr/bin/env", "-C", Pkg(), Pkg("vgupdate")};
    command.insert(command.end(), args.begin(), args.end());
    relaytest::ProcessResult result = relaytest::RunProcess(command, 30000, env);
    std::smatch m;
    if (std::regex_search(result.out, m, std::regex("vgproxy started, process ([0-9]+)"))) restarted_ = std::stoi(m[1]);
    return result;
  }
  std::string install_;
  int port_ = 0;
  int restarted_ = -1;
};

TEST_F(EndToEndTest, RunningTunnelIsReplacedAndStartedAgain) {
  relaytest::Process tunnel({install_ + "/vgproxy", "--headless"});
  ASSERT_TRUE(relaytest::WaitForPort(port_, 10000));

  const relaytest::ProcessResult result = Update({"--headless", "nud"});
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("Выгрузка QS-Veilgate"), std::string::npos) << result.out;
  EXPECT_EQ(tunnel.WaitExit(5000), 0);  // asked to quit, it ended by itself
  EXPECT_EQ(ReadFileText(install_ + "/vgproxy"), ReadFileText(Pkg("vgproxy")));
  EXPECT_EQ(OcxLog(), "register " + install_ + "/testctl.ocx\n");
  EXPECT_FALSE(fs::exists(install_ + "/Backup"));
  EXPECT_FALSE(fs::exists(install_ + "/vgupdate"));
  EXPECT_EQ(result.out.find("Поиск источника установки"), std::string::npos);  // nud

  // The new tunnel runs from the installation and serves the port again.
  ASSERT_GT(restarted_, 0) << result.out;
  EXPECT_EQ(ExeOf(restarted_), install_ + "/vgproxy");
  EXPECT_TRUE(relaytest::WaitForPort(port_, 10000));
}

TEST_F(EndToEndTest, HeadlessWithoutAnswersEndsAtTheMediumQuestion) {
  const relaytest::ProcessResult result = Update({"--headless"});
  EXPECT_EQ(result.exitCode, 3) << result.out << result.err;
  EXPECT_NE(result.err.find("--medium"), std::string::npos) << result.err;
  EXPECT_EQ(ReadFileText(install_ + "/vgproxy"), ReadFileText(Pkg("vgproxy")));

  const relaytest::ProcessResult usage = Update({"--bogus"});
  EXPECT_EQ(usage.exitCode, 2);
}

TEST_F(EndToEndTest, WindowRunsTheSameProcedureAndClosesAtTheEnd) {
  const std::string picture = Root("window.png");
  const relaytest::ProcessResult result =
      Update({"NUD", "--install-dir", install_},
             {"QT_QPA_PLATFORM=offscreen", "VG_UPDATE_GRAB=" + picture, "VG_UPDATE_GRAB_AT=9"});
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(ReadFileText(install_ + "/vgproxy"), ReadFileText(Pkg("vgproxy")));
  EXPECT_TRUE(fs::exists(picture));
  // The window's updater starts the tunnel with its tray (headless here, without a display).
  ASSERT_GT(restarted_, 0) << result.out;
  for (int i = 0; i < 50 && !vg::platform::FindWindowByClass("TQSVeilgateAboutForm"); ++i) ::usleep(100000);
  EXPECT_TRUE(vg::platform::FindWindowByClass("TQSVeilgateAboutForm"));
}

}  // namespace
}  // namespace updtest
