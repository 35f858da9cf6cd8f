// The update procedure in process on synthetic installations.
#include <sys/stat.h>

#include <filesystem>

#include "config/Cfg_Ini.h"
#include "config/Cfg_Rgry.h"
#include "platform/Instance.h"
#include "platform/Registry.h"
#include "updater/UpdaterSupport.h"

namespace updtest {
namespace {

namespace fs = std::filesystem;
using vg::TUpdateResult;

// An installed 1.5 with settings, and a package with a new tunnel, a library and the control.
class ProcedureTest : public UpdaterTest {
 protected:
  void SetUp() override {
    UpdaterTest::SetUp();
    WriteFileText(Inst("vgproxy"), SyntheticTunnel(0x10005));
    WriteFileText(Inst("veilgate.cfg"), "[Client\\Log options]\nError trace mode=0\n");
    WriteFileText(Inst("a.dll"), "old a");
    WriteFileText(Inst("b.dll"), "old b");
    WriteFileText(Pkg("vgproxy"), SyntheticTunnel(0x10005, "new"));
    WriteFileText(Pkg("a.dll"), "new a");
    WriteFileText(Pkg("b.dll"), "new b");
    WriteFileText(Pkg("c.dll"), "new c");
    WriteFileText(Pkg("vgupdate"), "the updater itself");
    WriteFileText(Pkg("VGUPDATE.INF"), "its description");
    fs::copy_file(VG_TEST_OCX, Pkg("testctl.ocx"));
  }
  bool Has(const std::string& prefix) const { return view_.SawStatus(prefix); }
};

TEST_F(ProcedureTest, ReplacesFilesRegistersControlsAndRemovesBackup) {
  ::chmod(Inst("a.dll").c_str(), 0444);
  EXPECT_EQ(Run(Options()), TUpdateResult::Completed) << view_.MessageTexts();
  EXPECT_TRUE(view_.messages.empty()) << view_.MessageTexts();
  EXPECT_EQ(ReadFileText(Inst("vgproxy")), ReadFileText(Pkg("vgproxy")));
  EXPECT_EQ(ReadFileText(Inst("a.dll")), "new a");
  EXPECT_EQ(ReadFileText(Inst("c.dll")), "new c");
  EXPECT_FALSE(fs::exists(Inst("vgupdate")));
  EXPECT_FALSE(fs::exists(Inst("VGUPDATE.INF")));
  EXPECT_FALSE(fs::exists(Inst("Backup")));
  // Version 1.5 carries no settings.
  EXPECT_EQ(ReadFileText(Inst("veilgate.cfg")), "[Client\\Log options]\nError trace mode=0\n");
  // The old control was not there to unregister; the new one registered from the installation.
  EXPECT_EQ(OcxLog(), "register " + Inst("testctl.ocx") + "\n");
  EXPECT_TRUE(Has("Сохранение резервной копии в каталоге " + Inst("Backup")));
  EXPECT_TRUE(Has("Запуск QS-Veilgate"));
  EXPECT_FALSE(Has("Поиск источника установки"));  // NUD
  EXPECT_GT(view_.progress, 10);
  EXPECT_LE(view_.progress, vg::kUpdateProgressMax);

  // A second run finds the control installed and unregisters it before copying.
  fs::remove(Root("ocx.log"));
  EXPECT_EQ(Run(Options()), TUpdateResult::Completed);
  EXPECT_EQ(OcxLog(), "unregister " + Inst("testctl.ocx") + "\nregister " + Inst("testctl.ocx") + "\n");
}

TEST_F(ProcedureTest, NoControlsNoRegistrationSteps) {
  fs::remove(Pkg("testctl.ocx"));
  EXPECT_EQ(Run(Options()), TUpdateResult::Completed);
  EXPECT_FALSE(Has("Разрегистрация ActiveX"));
  EXPECT_FALSE(Has("Регистрация ActiveX"));
}

TEST_F(ProcedureTest, InstalledReleaseDecidesWhatHappens) {
  // 1.6 is newer than the package: nothing changes, the tunnel is started again.
  WriteFileText(Inst("vgproxy"), SyntheticTunnel(0x10006));
  EXPECT_EQ(Run(Options()), TUpdateResult::NotUpdated);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].caption, "Ошибка");
  EXPECT_EQ(view_.messages[0].text,
            "Попытка установки устаревшей версии QS-Veilgate\r\nОбновление QS-Veilgate не завершено");
  EXPECT_EQ(ReadFileText(Inst("a.dll")), "old a");
  EXPECT_FALSE(fs::exists(Inst("Backup")));
  EXPECT_TRUE(Has("Запуск QS-Veilgate"));

  // No marker at all.
  view_ = RecordingView{};
  view_.installAnswer = Inst();
  WriteFileText(Inst("vgproxy"), std::string(2000, 'q'));
  EXPECT_EQ(Run(Options()), TUpdateResult::NotUpdated);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text.substr(0, 50),
            std::string("Ошибка при анализе файла vgproxy.exe - неверный формат файла").substr(0, 50));
  EXPECT_EQ(ReadFileText(Inst("a.dll")), "old a");
}

TEST_F(ProcedureTest, OldReleaseCarriesSettingsFromTheRegistry) {
  WriteFileText(Inst("vgproxy"), OldSyntheticTunnel('3'));
  WriteFileText(Inst("veilgate.cfg"), "[Client\\Log options]\nLog interval=60\n");
  {
    auto old = vg::OpenRegistryStorage("Software\\NorvelSystems\\QS-Veilgate\\Client", false, true,
                                       vg::platform::registry::Root::kCurrentUser);
    auto log = old->OpenSection("Log options", false, true);
    log->WriteInteger("Error trace regim", 1);
    log->WriteString("Log-file name", "C:\\logs");
    auto server = old->OpenSection("Web servers", false, true)->OpenSection("s1", false, true);
    const uint8_t key[3] = {1, 2, 3};
    server->WriteBinary("Key", key, sizeof key);
  }
  EXPECT_EQ(Run(Options()), TUpdateResult::Completed) << view_.MessageTexts();
  auto cfg = vg::OpenIniStorage(Inst("veilgate.cfg"), "Client", true, false);
  auto log = cfg->OpenSection("Log options", true, false);
  EXPECT_EQ(log->ReadInteger("Error trace mode"), 1);
  EXPECT_FALSE(log->ItemExists("Error trace regim"));
  EXPECT_EQ(log->ReadString("Log-file name"), "C:\\logs");
  EXPECT_EQ(log->ReadInteger("Log interval"), 60);
  EXPECT_EQ(cfg->OpenSection("Web servers", true, false)->OpenSection("s1", true, false)->ReadString("Key"), "BIwA");
  EXPECT_EQ(vg::ReadReleaseVersion(Pkg("vgproxy")), 0x10005u);
}

TEST_F(ProcedureTest, SettingsWithoutLogSectionRestoreTheInstallation) {
  WriteFileText(Inst("vgproxy"), OldSyntheticTunnel('2'));
  WriteFileText(Inst("veilgate.cfg"), "[Client\\TCP options]\nSelf TCP port=1030\n");
  EXPECT_EQ(Run(Options()), TUpdateResult::NotUpdated);
  ASSERT_EQ(view_.messages.size(), 2u) << view_.MessageTexts();
  EXPECT_EQ(view_.messages[0].text, "Ошибка при переносе настроек\r\nОбновление QS-Veilgate не завершено");
  EXPECT_EQ(view_.messages[1].text, "Восстановлена предыдущая версия QS-Veilgate");
  EXPECT_EQ(ReadFileText(Inst("a.dll")), "old a");
  EXPECT_EQ(ReadFileText(Inst("vgproxy")), OldSyntheticTunnel('2'));
}

TEST_F(ProcedureTest, ThirdFileFailingRestoresAndStillRegisters) {
  fs::create_directory(Inst("c.dll"));  // a.dll, b.dll, c.dll, testctl.ocx, vgproxy: c.dll is third
  fs::copy_file(VG_TEST_OCX, Inst("testctl.ocx"));
  EXPECT_EQ(Run(Options()), TUpdateResult::NotUpdated);
  ASSERT_EQ(view_.messages.size(), 2u) << view_.MessageTexts();
  EXPECT_EQ(view_.messages[0].text,
            "Ошибка при копировании файла \"" + Inst("c.dll") + "\"\r\nОбновление QS-Veilgate не завершено");
  EXPECT_EQ(view_.messages[1].caption, "Внимание!");
  EXPECT_EQ(view_.messages[1].text, "Восстановлена предыдущая версия QS-Veilgate");
  EXPECT_EQ(OcxLog(), "unregister " + Inst("testctl.ocx") + "\nregister " + Inst("testctl.ocx") + "\n");
  EXPECT_EQ(ReadFileText(Inst("a.dll")), "old a");
  EXPECT_EQ(ReadFileText(Inst("b.dll")), "old b");
  EXPECT_FALSE(fs::exists(Inst("Backup")));
  EXPECT_TRUE(Has("Запуск QS-Veilgate"));
}

TEST_F(ProcedureTest, FailedRestoreKeepsTheBackup) {
  fs::create_directory(Inst("c.dll"));
  // Something takes b.dll's place while the restore runs.
  view_.onStatus = [this](const std::string& status) {
    if (status.rfind("Восстановление предыдущей версии", 0) == 0) {
      fs::remove(Inst("b.dll"));
      fs::create_directory(Inst("b.dll"));
    }
  };
  EXPECT_EQ(Run(Options()), TUpdateResult::NotUpdated);
  ASSERT_EQ(view_.messages.size(), 3u) << view_.MessageTexts();
  EXPECT_EQ(
      view_.messages[1].text,
      "Ошибка при восстановлении файла \"b.dll\" предыдущей версии QS-Veilgate\r\nОбновление QS-Veilgate не завершено");
  EXPECT_NE(view_.messages[2].text.find(Inst("Backup")), std::string::npos);
  EXPECT_TRUE(backupKept_);
  EXPECT_EQ(ReadFileText(Inst("Backup/b.dll")), "old b");
  EXPECT_EQ(ReadFileText(Inst("Backup/vgproxy")), SyntheticTunnel(0x10005));

  // The next update sets the kept copy aside instead of overwriting it with the mixed files.
  view_ = RecordingView{};
  view_.installAnswer = Inst();
  fs::remove(Inst("b.dll"));
  fs::remove(Inst("c.dll"));
  EXPECT_EQ(Run(Options()), TUpdateResult::Completed) << view_.MessageTexts();
  EXPECT_EQ(ReadFileText(Inst("Backup.1/b.dll")), "old b");
  EXPECT_FALSE(fs::exists(Inst("Backup")));
}

TEST_F(ProcedureTest, MissingInstallationIsReported) {
  view_.installAnswer.clear();
  EXPECT_EQ(Run(Options()), TUpdateResult::NotUpdated);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, "Не обнаружен каталог QS-Veilgate\r\nОбновление QS-Veilgate не завершено");
  EXPECT_FALSE(Has("Запуск QS-Veilgate"));
}

TEST_F(ProcedureTest, TunnelThatDoesNotQuitThenBusyExecutable) {
  // A window that ignores the quit request: the warning, then the wait for the program file.
  vg::platform::WindowClassInstance deaf("TQSVeilgateAboutForm");
  ASSERT_TRUE(deaf.Register([] {}));
  // The installed tunnel is a running program for a second: its file is busy meanwhile.
  const std::string tunnel = Inst("vgproxy");
  fs::remove(tunnel);
  fs::copy_file("/bin/sleep", tunnel);
  {
    std::string bytes = ReadFileText(tunnel) + SyntheticTunnel(0x10004);
    WriteFileText(tunnel, bytes);
    ::chmod(tunnel.c_str(), 0755);
  }
  relaytest::Process busy({tunnel, "1"});
  ASSERT_GT(busy.Pid(), 0);
  vg::TUpdateOptions options = Options();
  options.busyWait = std::chrono::milliseconds(5000);
  EXPECT_EQ(Run(options), TUpdateResult::Completed) << view_.MessageTexts();
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].caption, "Внимание!");
  EXPECT_EQ(view_.messages[0].text, "Пожалуйста закройте QS-Veilgate");
  EXPECT_EQ(busy.WaitExit(1000), 0);
  EXPECT_EQ(ReadFileText(Inst("a.dll")), "new a");
}

TEST_F(ProcedureTest, ExecutableStillBusyAfterTheWaitChangesNothing) {
  const std::string tunnel = Inst("vgproxy");
  fs::remove(tunnel);
  fs::copy_file("/bin/sleep", tunnel);
  WriteFileText(tunnel, ReadFileText(tunnel) + SyntheticTunnel(0x10005));
  ::chmod(tunnel.c_str(), 0755);
  relaytest::Process busy({tunnel, "30"});
  ASSERT_GT(busy.Pid(), 0);
  EXPECT_EQ(Run(Options()), TUpdateResult::NotUpdated);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, "Ошибка при выгрузке QS-Veilgate\r\nОбновление QS-Veilgate не завершено");
  EXPECT_EQ(ReadFileText(Inst("a.dll")), "old a");
  EXPECT_FALSE(Has("Запуск QS-Veilgate"));
  busy.Stop(SIGTERM, 2000);
}

}  // namespace
}  // namespace updtest
