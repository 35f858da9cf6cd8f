// The medium's refresh: its starter and archive saved in Distrib.old, the archive rebuilt with
// the package's files, the space check, and the file routines underneath.
#include <filesystem>

#include "platform/FileTransfer.h"
#include "updater/UpdFiles.h"
#include "updater/UpdaterSupport.h"
#include "updater/ZipArc.h"

namespace updtest {
namespace {

namespace fs = std::filesystem;
using vg::TUpdateResult;

class MediumTest : public UpdaterTest {
 protected:
  void SetUp() override {
    UpdaterTest::SetUp();
    WriteFileText(Inst("vgproxy"), SyntheticTunnel(0x10005));
    WriteFileText(Pkg("vgproxy"), SyntheticTunnel(0x10005, "new"));
    WriteFileText(Pkg("new.txt"), "added by the package");
    WriteFileText(Pkg("Vgstart"), std::string(3000, 's'));
    // The medium as installed: the starter and an archive of the old files.
    WriteFileText(Medium("Vgstart"), "old starter");
    WriteFileText(Root("tmp/vgproxy"), SyntheticTunnel(0x10005));
    WriteFileText(Root("tmp/readme.txt"), "read me");
    vg::CreateZip(Medium("Veilgate.zip"), Root("tmp"), {"vgproxy", "readme.txt"});
    fs::remove(Root("tmp/vgproxy"));
    fs::remove(Root("tmp/readme.txt"));
    oldArchive_ = ReadFileText(Medium("Veilgate.zip"));
  }
  vg::TUpdateOptions MediumOptions() {
    vg::TUpdateOptions o = Options(false);
    o.removableDrives = [this] { return std::vector<std::string>{Root("nothing-here"), Medium()}; };
    return o;
  }
  std::string oldArchive_;
};

TEST_F(MediumTest, ArchiveRebuiltWithThePackagesFiles) {
  EXPECT_EQ(Run(MediumOptions()), TUpdateResult::Completed) << view_.MessageTexts();
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(view_.statuses.back(), "Запуск QS-Veilgate");
  EXPECT_TRUE(view_.SawStatus("Обновление завершено"));
  EXPECT_EQ(vg::ListZipEntries(Medium("Veilgate.zip")), (std::vector<std::string>{"vgproxy", "readme.txt", "new.txt"}));
  relaytest::TempDir out;
  vg::ExtractZip(Medium("Veilgate.zip"), out.Path());
  EXPECT_EQ(ReadFileText(out.File("vgproxy")), ReadFileText(Pkg("vgproxy")));
  EXPECT_EQ(ReadFileText(out.File("readme.txt")), "read me");
  EXPECT_EQ(ReadFileText(out.File("new.txt")), "added by the package");
  EXPECT_EQ(ReadFileText(Medium("Vgstart")), std::string(3000, 's'));
  // What the medium held before stays in the installation; the working directory goes.
  EXPECT_EQ(ReadFileText(Inst("Distrib.old/Veilgate.zip")), oldArchive_);
  EXPECT_EQ(ReadFileText(Inst("Distrib.old/Vgstart")), "old starter");
  EXPECT_TRUE(fs::is_empty(Root("tmp")));
  EXPECT_GE(view_.progress, 21);  // a stage for each step and each clean-up
}

TEST_F(MediumTest, OneClusterShortLeavesTheMediumAlone) {
  vg::TUpdateOptions options = MediumOptions();
  int64_t shortBy = 0;
  options.diskSpace = [&](const std::string&, vg::platform::DiskSpace& space) {
    space.clusterSize = 512;
    // Growth: the archive and the starter, each in whole clusters.
    uint64_t newArchive = 0;
    for (const auto& entry : fs::recursive_directory_iterator(Root("tmp")))
      if (entry.path().filename() == "Veilgate.zip") newArchive = entry.file_size();
    const auto clusters = [](uint64_t size) { return static_cast<int64_t>(((size - 1) / 512 + 1) * 512); };
    const int64_t needed = clusters(newArchive) - clusters(oldArchive_.size()) + clusters(3000) - clusters(11);
    space.freeBytes = static_cast<uint64_t>(needed - 512 + shortBy);
    return true;
  };
  EXPECT_EQ(Run(options), TUpdateResult::InstallationOnly);
  ASSERT_EQ(view_.messages.size(), 1u) << view_.MessageTexts();
  EXPECT_EQ(view_.messages[0].text,
            "Недостаточно места на установочной дискете для ее обновления\r\nОбновление QS-Veilgate не завершено");
  EXPECT_EQ(ReadFileText(Medium("Veilgate.zip")), oldArchive_);
  EXPECT_EQ(ReadFileText(Medium("Vgstart")), "old starter");
  EXPECT_EQ(ReadFileText(Inst("vgproxy")), ReadFileText(Pkg("vgproxy")));
  EXPECT_TRUE(fs::is_empty(Root("tmp")));

  // With exactly the growth free it fits.
  view_ = RecordingView{};
  view_.installAnswer = Inst();
  shortBy = 512;
  EXPECT_EQ(Run(options), TUpdateResult::Completed) << view_.MessageTexts();
  EXPECT_NE(ReadFileText(Medium("Veilgate.zip")), oldArchive_);
}

TEST_F(MediumTest, MediumFromTheFolderQuestionOrNone) {
  vg::TUpdateOptions options = Options(false);
  EXPECT_EQ(Run(options), TUpdateResult::InstallationOnly);  // no drive, no answer: no message
  EXPECT_TRUE(view_.messages.empty()) << view_.MessageTexts();
  EXPECT_EQ(ReadFileText(Medium("Veilgate.zip")), oldArchive_);

  view_ = RecordingView{};
  view_.installAnswer = Inst();
  view_.mediumAnswer = Medium();
  EXPECT_EQ(Run(options), TUpdateResult::Completed) << view_.MessageTexts();

  // "NUD" in any letter case, and nothing else, leaves the medium alone.
  EXPECT_TRUE(vg::IsNoMediumArgument("NUD"));
  EXPECT_TRUE(vg::IsNoMediumArgument("nud"));
  EXPECT_FALSE(vg::IsNoMediumArgument("NUDE"));
}

TEST_F(MediumTest, BrokenArchiveIsAnUnknownErrorAndTheInstallationStaysUpdated) {
  WriteFileText(Medium("Veilgate.zip"), "not a zip archive");
  EXPECT_EQ(Run(MediumOptions()), TUpdateResult::InstallationOnly);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].caption, "Внимание!");
  EXPECT_EQ(view_.messages[0].text.rfind("Неизвестная ошибка \"EZipError\" при обновлении QS-Veilgate\r\n", 0), 0u);
  EXPECT_EQ(view_.statuses.back(), "Обновление не завершено");
  EXPECT_EQ(ReadFileText(Inst("vgproxy")), ReadFileText(Pkg("vgproxy")));
  EXPECT_EQ(ReadFileText(Medium("Veilgate.zip")), "not a zip archive");
  EXPECT_TRUE(fs::is_empty(Root("tmp")));
}

TEST(UpdaterFiles, FindInFileAcrossBlocksWithWildcards) {
  relaytest::TempDir dir;
  std::string bytes(1024, 'a');
  bytes.replace(509, 6, "MARKER");  // straddles the first block boundary
  relaytest::WriteFileText(dir.File("f"), bytes);
  EXPECT_EQ(vg::FindInFile(dir.File("f"), {'M', 'A', 'R', 'K', 'E', 'R'}), 509);
  EXPECT_EQ(vg::FindInFile(dir.File("f"), {'M', 0, 0, 'K'}), 509);
  EXPECT_EQ(vg::FindInFile(dir.File("f"), {'a', 'M'}), 508);
  EXPECT_EQ(vg::FindInFile(dir.File("f"), {'M', 'A', 'R', 'X'}), -1);
  EXPECT_EQ(vg::FindInFile(dir.File("missing"), {'a'}), -1);
  // A pattern longer than what is left after the last match start.
  EXPECT_EQ(vg::FindInFile(dir.File("f"), std::vector<uint8_t>(1025, 0)), -1);
  EXPECT_EQ(vg::ReadReleaseVersion(dir.File("f")), 0u);
}

TEST(UpdaterFiles, DeleteTreeRemovesNestedDirectories) {
  relaytest::TempDir dir;
  const std::string top = dir.File("top");
  fs::create_directories(top + "/one/deeper");
  fs::create_directories(top + "/two");
  relaytest::WriteFileText(top + "/f", "1");
  relaytest::WriteFileText(top + "/one/deeper/g", "2");
  relaytest::WriteFileText(top + "/two/h", "3");
  std::string failed;
  EXPECT_TRUE(vg::DeleteTree(top, failed));
  EXPECT_FALSE(fs::exists(top));
  EXPECT_FALSE(vg::DeleteTree(top, failed));
  EXPECT_EQ(failed, top);
}

TEST(UpdaterFiles, ArchiveEntriesCannotLeaveTheTarget) {
  relaytest::TempDir dir;
  fs::create_directories(dir.File("src/sub"));
  relaytest::WriteFileText(dir.File("src/sub/x"), "x");
  vg::CreateZip(dir.File("a.zip"), dir.File("src"), {"sub/x"});
  vg::ExtractZip(dir.File("a.zip"), dir.File("out"));
  EXPECT_EQ(relaytest::ReadFileText(dir.File("out/sub/x")), "x");
  vg::CreateZip(dir.File("bad.zip"), dir.File("src"), {"sub/../sub/x"});
  EXPECT_THROW(vg::ExtractZip(dir.File("bad.zip"), dir.File("out2")), vg::EZipError);
  EXPECT_FALSE(fs::exists(dir.File("out2")));
}

}  // namespace
}  // namespace updtest
