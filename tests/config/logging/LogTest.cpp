#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <sstream>
#include <thread>

#include "LogSupport.h"
#include "config/EasyLog.h"
#include "config/fLogMngr.h"
#include "platform/MessageBox.h"

using namespace logtest;
using vg::TLogManager;

TEST_F(LogDirTest, FirstRecordCreatesMissingDirectoriesAndDailyFile) {
  FixedClock clock;
  clock.now = At(2026, 12, 8, 9, 5, 7);
  TLogManager log(clock);
  log.SetFirstLabel("&");
  log.SetSecondLabel("server1");
  const std::string msg = "GET / HTTP/1.1\r\nHost: a\r\n\r\n";
  ASSERT_TRUE(log.WriteTraffic(TLogManager::kRequest, msg));
  const fs::path file = dir_ / "08_12_2026_flow.log";
  ASSERT_TRUE(fs::exists(file));
  EXPECT_EQ(ReadFile(file), "\r\n---< 08.12.2026 09:05:07 R & - server1 >---\r\n" + msg);
}

TEST_F(LogDirTest, ServiceLineLayoutAndAnswerLetter) {
  FixedClock clock;
  clock.now = At(2026, 1, 2, 23, 4, 5);
  TLogManager log(clock);
  EXPECT_EQ(log.FirstLabel(), "<unknown>");
  ASSERT_TRUE(log.WriteService("message"));
  EXPECT_EQ(ReadFile(dir_ / "02_01_2026_service.log"), "02.01.2026 23:04:05 <unknown> - <unknown> : message\r\n");
  ASSERT_TRUE(log.WriteTraffic(TLogManager::kAnswer, "x"));
  EXPECT_NE(ReadFile(dir_ / "02_01_2026_flow.log").find(" A <unknown>"), std::string::npos);
}

TEST_F(LogDirTest, BinaryAndLineBreaksAreWrittenUnchangedAndRecordsAppend) {
  FixedClock clock;
  clock.now = At(2026, 3, 4);
  TLogManager log(clock);
  std::string bin("a\0b\r\n\r\n\xFF", 8);
  ASSERT_TRUE(log.WriteTraffic(0, bin));
  ASSERT_TRUE(log.WriteTraffic(0, bin));
  const std::string content = ReadFile(dir_ / "04_03_2026_flow.log");
  EXPECT_EQ(CountWholeRecords(content, bin), 2);
}

TEST_F(LogDirTest, RecordsGoToTheFileOfTheirDayAcrossMidnight) {
  FixedClock clock;
  clock.now = At(2026, 12, 31, 23, 59, 59, 900);
  TLogManager log(clock);
  ASSERT_TRUE(log.WriteService("old"));
  clock.now = At(2027, 1, 1, 0, 0, 0, 1);
  ASSERT_TRUE(log.WriteService("new"));
  EXPECT_NE(ReadFile(dir_ / "31_12_2026_service.log").find("old"), std::string::npos);
  EXPECT_NE(ReadFile(dir_ / "01_01_2027_service.log").find("new"), std::string::npos);
  EXPECT_EQ(ReadFile(dir_ / "31_12_2026_service.log").find("new"), std::string::npos);
}

TEST_F(LogDirTest, AFileHeldByAnotherWriterMakesTheRecordFailAfterRetries) {
  FixedClock clock;
  clock.now = At(2026, 5, 6);
  fs::create_directories(dir_);
  vg::platform::File holder;
  ASSERT_EQ(vg::platform::OpenExclusiveWriter((dir_ / "06_05_2026_service.log").string(), true, holder),
            vg::platform::OpenStatus::Ok);
  TLogManager log(clock);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(log.WriteService("lost"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  holder.Close();
  EXPECT_TRUE(log.WriteService("kept"));
}

TEST_F(LogDirTest, UnwritableDirectoryFailsWithoutRaising) {
  vg::SetLogDirectorySource([] { return std::string("/proc/version/cannot"); });
  TLogManager log;
  EXPECT_FALSE(log.WriteService("x"));
  EXPECT_FALSE(log.WriteTraffic(0, "x"));
}

TEST_F(LogDirTest, PurgeDeletesOnlyDatedFilesOlderThanTheInterval) {
  fs::create_directories(dir_);
  const char* names[] = {"01_02_2005_flow.log", "15_11_2026_service.log", "08_11_2026_flow.log",
                         "09_11_2026_flow.log", "ab_cd_efgh_flow.log",    "31_02_2020_flow.log",
                         "01_02_2005_flow.txt", ".01_01_2001_hidden.log", "01_01_2001_.log"};
  for (const char* n : names) std::ofstream(dir_ / n) << "x";
  // Today 9 December 2026, interval 30: 9 November plus 30 days is today, not before it.
  const int deleted = vg::PurgeLogFiles(dir_.string(), 30, At(2026, 12, 9));
  EXPECT_EQ(deleted, 3);
  EXPECT_FALSE(fs::exists(dir_ / "01_02_2005_flow.log"));
  EXPECT_FALSE(fs::exists(dir_ / "08_11_2026_flow.log"));
  EXPECT_TRUE(fs::exists(dir_ / "09_11_2026_flow.log"));
  EXPECT_TRUE(fs::exists(dir_ / "15_11_2026_service.log"));
  EXPECT_TRUE(fs::exists(dir_ / "ab_cd_efgh_flow.log"));
  EXPECT_TRUE(fs::exists(dir_ / "31_02_2020_flow.log"));     // not a valid date
  EXPECT_TRUE(fs::exists(dir_ / "01_02_2005_flow.txt"));     // other extension
  EXPECT_TRUE(fs::exists(dir_ / ".01_01_2001_hidden.log"));  // does not begin with a date
  EXPECT_FALSE(fs::exists(dir_ / "01_01_2001_.log"));
}

TEST(LogError, OneBoxAtATime) {
  std::promise<void> entered, release;
  auto releaseFuture = release.get_future().share();
  std::atomic<int> shown{0};
  vg::platform::SetMessageBoxPresenter([&](const std::string&, const std::string&, vg::platform::MessageBoxKind) {
    if (shown++ == 0) {
      entered.set_value();
      releaseFuture.wait();
    }
  });
  std::thread first([] { TLogManager::ShowLogError("first"); });
  entered.get_future().wait();
  TLogManager::ShowLogError("second while open");  // returns at once
  EXPECT_EQ(shown.load(), 1);
  release.set_value();
  first.join();
  TLogManager::ShowLogError("third");
  EXPECT_EQ(shown.load(), 2);
  vg::platform::SetMessageBoxPresenter(nullptr);
}

TEST(EasyLog, NestedOpenKeepsOneFileAndPrefixStartsEveryLine) {
  const fs::path file = fs::temp_directory_path() / ("vgeasy-" + std::to_string(std::random_device{}()) + ".log");
  fs::remove(file);
  {
    vg::TTimedLog log(file.string(), "T: ");
    EXPECT_FALSE(log.IsOpen());
    log.Open();
    log.Open();
    EXPECT_EQ(log.OpenCount(), 2);
    EXPECT_TRUE(log.IsOpen());
    log.WriteLine("one");
    log.Close();
    EXPECT_TRUE(log.IsOpen());
    log.WriteLine("two");
    log.Close();
    EXPECT_FALSE(log.IsOpen());
  }
  {
    vg::TEasyLog plain(file.string());
    plain.WriteLine("three");
    plain.Write("raw", 3);
  }
  EXPECT_EQ(ReadFile(file), "T: one\r\nT: two\r\nthree\r\nraw");
  fs::remove(file);
}

TEST(EasyLog, UnopenableFileRaisesAfterItsAttempts) {
  vg::TEasyLog log("/proc/version/none.log");
  int waits = 0;
  log.SetRetryWait([&] { ++waits; });
  EXPECT_THROW(log.WriteLine("x"), vg::EEasyLogError);
  EXPECT_EQ(waits, 100);
  EXPECT_EQ(log.OpenCount(), 0);
}
