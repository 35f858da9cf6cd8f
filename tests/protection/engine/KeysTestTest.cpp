// The keys test against the real library and the emulation engine.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "EmulationCodes.h"
#include "ScriptedPrompts.h"
#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/SysUtils.h"
#include "protection/KeysTest.h"
#include "protection/PromptService.h"

namespace {

namespace fs = std::filesystem;
using vg::TCryptoParams;
using vg::TKeysTest;

class RecordingView : public vg::IKeysTestView {
 public:
  void Status(const std::string& text, int position) override {
    statuses.push_back(text + "@" + std::to_string(position));
  }
  void StatusStep(const std::string& text) override { statuses.push_back(text + "@+"); }
  void ProgressRange(int maximum) override { ranges.push_back(maximum); }
  void ErrorCount(int count) override { shownErrors = count; }
  void Busy(bool busy) override {
    busyDepth += busy ? 1 : -1;
    if (busy) ++engineCalls;
  }
  void Message(const std::string& text) override { messages.push_back(text); }
  void BreakEnabled(bool enabled) override { breakStates.push_back(enabled); }
  bool BreakRequested() override { return breakAfterEvents >= 0 && events >= breakAfterEvents; }
  void ProcessEvents() override { ++events; }

  std::vector<std::string> statuses, messages;
  std::vector<int> ranges;
  std::vector<bool> breakStates;
  int shownErrors = 0, busyDepth = 0, engineCalls = 0, events = 0;
  int breakAfterEvents = -1;
};

// Parameters of the emulation engine by name: UID, Partner, Fail, Password, TouchMemory, Subscribers.
TCryptoParams Emulation(std::vector<std::pair<emulation::Parameter, std::string>> values,
                        const std::string& type = "Emulation/1.0") {
  TCryptoParams params;
  params.SetEngineType(type);
  for (auto& [p, value] : values) params.AddParam(p - 1, value);
  return params;
}

TCryptoParams Client(std::vector<std::pair<emulation::Parameter, std::string>> extra = {}) {
  std::vector<std::pair<emulation::Parameter, std::string>> values = {{emulation::kParamUID, "client-1"},
                                                                      {emulation::kParamPartner, "gate-1"}};
  values.insert(values.end(), extra.begin(), extra.end());
  return Emulation(values);
}

class KeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("keystest-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    report_ = (dir_ / "KeysTest.log").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  int Run(const TCryptoParams& params, bool extended = false) {
    TKeysTest test(view_);
    test.SetRootPath(dir_.string() + "/");
    test.SetEndingPause([] {});
    const int errors = test.Run(params, report_, extended);
    EXPECT_EQ(errors, test.ErrorCount());
    EXPECT_EQ(view_.busyDepth, 0);
    return errors;
  }
  // The report as UTF-8 lines (every line must end with CR LF).
  std::vector<std::string> Lines() {
    std::string bytes;
    EXPECT_EQ(vg::platform::ReadWholeFile(report_, bytes), 0);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
      lines.push_back(vg::platform::Cp1251ToUtf8(bytes.substr(start, end - start)));
    EXPECT_EQ(start, bytes.size()) << "the report does not end with CR LF";
    return lines;
  }
  bool Has(const std::string& utf8Line) {
    for (const auto& line : Lines())
      if (line == utf8Line) return true;
    return false;
  }

  fs::path dir_;
  std::string report_;
  RecordingView view_;
};

TEST_F(KeysTest, ExtendedRunWritesTheReportLineForLine) {
  const int errors = Run(Client({{emulation::kParamSubscribers, "peer-a;client-1;client-1"}}), true);
  EXPECT_EQ(errors, 0);
  std::vector<std::string> lines = Lines();
  ASSERT_GT(lines.size(), 3u);
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(" {8}\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d"))) << lines[2];
  lines[2] = "        <date and time>";
  const std::regex fingerprint("fingerprint [0-9A-F]{16}");
  std::ostringstream actual;
  for (const auto& line : lines) actual << std::regex_replace(line, fingerprint, "fingerprint <fingerprint>") << "\n";
  std::ifstream golden(std::string(VG_TEST_SOURCE_DIR) + "/tests/protection/engine/golden/KeysTestExtended.txt");
  std::stringstream expected;
  expected << golden.rdbuf();
  EXPECT_EQ(actual.str(), expected.str());

  // The face followed the run: the break button only around the extended test, a progress
  // range per part, a status step per subscriber, the hourglass around every engine call.
  EXPECT_EQ(view_.breakStates, (std::vector<bool>{true, false}));
  EXPECT_EQ(view_.ranges, (std::vector<int>{100, 3}));
  EXPECT_EQ(vg::platform::Cp1251ToUtf8(view_.statuses.back()), "Тест завершен !@0");
  EXPECT_EQ(std::count_if(view_.statuses.begin(), view_.statuses.end(),
                          [](const std::string& s) { return s.size() > 2 && s.substr(s.size() - 2) == "@+"; }),
            3);
  EXPECT_GE(view_.engineCalls, 9);
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_FALSE(fs::exists(report_ + ".new"));
}

TEST_F(KeysTest, EarlyEndsAtTheFirstThreeSteps) {
  // An engine type that cannot be opened: header, step 1, the error and its box.
  EXPECT_EQ(Run(Emulation({}, "No such engine")), 1);
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[5], "1. Инициализация CryptoEngine ...");
  EXPECT_EQ(lines[6], "   Тип криптографии : No such engine");
  EXPECT_EQ(lines[7], "ОШИБКА в InitCryptoEngine !");
  EXPECT_EQ(view_.messages, (std::vector<std::string>{VGT("ОШИБКА в InitCryptoEngine !")}));

  // A refused value ends after the box that says so.
  view_ = RecordingView();
  EXPECT_EQ(Run(Client({{emulation::kParamTouchMemory, "7"}})), 1);
  EXPECT_TRUE(Has("ОШИБКА в SetCryptoParamValue ! : 7"));
  EXPECT_EQ(view_.messages,
            (std::vector<std::string>{VGT("ОШИБКА в SetCryptoParamValue ! : 7\r\n Тестирование не возможно!")}));
  EXPECT_EQ(view_.shownErrors, 0) << "no status update follows the failure";

  // The user's UID cannot be had: the run ends there, without a box.
  view_ = RecordingView();
  EXPECT_EQ(Run(Client({{emulation::kParamFail, "UID"}})), 1);
  lines = Lines();
  EXPECT_EQ(lines.back().rfind("ОШИБКА в GetCurrentUserUID : ", 0), 0u) << lines.back();
  EXPECT_TRUE(view_.messages.empty());

  // No parameters at all: step 2 has only its closing line; without a partner the encryption
  // for no UID is the one error.
  view_ = RecordingView();
  EXPECT_EQ(Run(Emulation({})), 1);
  lines = Lines();
  const auto step2 = std::find(lines.begin(), lines.end(), "2. Установка криптопараметров ...");
  ASSERT_NE(step2, lines.end());
  EXPECT_EQ(*(step2 + 1), "   ... Криптопараметры установлены.");
  EXPECT_TRUE(Has("        ТЕСТ  ЗАВЕРШЕН "));
}

TEST_F(KeysTest, FailedStepsSkipOnlyTheStepThatDependsOnThem) {
  EXPECT_EQ(Run(Client({{emulation::kParamFail, "Sign"}})), 1);
  EXPECT_TRUE(Has("5. !!! Из-за ошибки подписи проверка подписи не производилась !"));
  EXPECT_FALSE(Has("5. Проверка подписи ..."));
  EXPECT_TRUE(Has("7. Проверка шифрования ..."));
  EXPECT_EQ(view_.shownErrors, 1);

  view_ = RecordingView();
  // Encryption fails twice (own UID and partner); decryption is skipped.
  EXPECT_EQ(Run(Client({{emulation::kParamFail, "Encode"}})), 2);
  EXPECT_TRUE(Has("5. Проверка подписи ..."));
  EXPECT_TRUE(Has("7. !!! Из-за ошибки шифрования проверка шифрования не производилась !"));
  EXPECT_TRUE(Has("        ТЕСТ  ЗАВЕРШЕН "));
}

TEST_F(KeysTest, ExtendedTestNeedsTheSubscriberListAndCanBeBroken) {
  // The report cannot be had: the extended test is not offered, the main test runs on.
  EXPECT_EQ(Run(Client({{emulation::kParamFail, "Report"}}), true), 1);
  EXPECT_TRUE(Has(" !!! Расширенный тест не возможен !!!"));
  EXPECT_FALSE(Has("        РАСШИРЕННЫЙ  ТЕСТ"));
  EXPECT_TRUE(Has("8. Шифрование тестовых данных (без UID) ..."));
  EXPECT_TRUE(view_.breakStates.empty());

  // "Прервать" pressed while the first subscriber is tested stops before the second.
  view_ = RecordingView();
  view_.breakAfterEvents = 1;
  EXPECT_EQ(Run(Client({{emulation::kParamSubscribers, "peer-a;peer-b;peer-c"}}), true), 0);
  EXPECT_TRUE(Has("--- N 1 UID = peer-a -------------------------------------"));
  EXPECT_FALSE(Has("--- N 2 UID = peer-b -------------------------------------"));
  EXPECT_TRUE(Has(" !!! Расширенный тест ПРЕРВАН !!!"));
  EXPECT_TRUE(Has("     Причина :    ... ТЕСТ ПРЕРВАН ПОЛЬЗОВАТЕЛЕМ."));
  EXPECT_TRUE(Has("        ТЕСТ  ЗАВЕРШЕН "));
  EXPECT_EQ(view_.breakStates, (std::vector<bool>{true, false}));
}

TEST_F(KeysTest, PasswordIsAskedDuringTheRun) {
  auto prompts = std::make_shared<enginetest::ScriptedPrompts>();
  prompts->Answer(std::string("secret"));
  vg::InstallPromptService(prompts);
  EXPECT_EQ(Run(Client({{emulation::kParamPassword, "secret"}})), 0);
  EXPECT_TRUE(Has("   ... подпись : ошибок нет!"));
  // Cancelled: the signature fails with the engine's text, the rest runs.
  view_ = RecordingView();
  EXPECT_EQ(Run(Client({{emulation::kParamPassword, "secret"}})), 1);
  vg::RemovePromptService();
  EXPECT_FALSE(Has("   ... подпись : ошибок нет!"));
  EXPECT_TRUE(Has("        ТЕСТ  ЗАВЕРШЕН "));
}

TEST_F(KeysTest, ReportThatCannotBeWrittenKeepsThePreviousOne) {
  vg::platform::MakeDirectories(report_ + ".new");  // the new report's place is taken
  std::ofstream(report_) << "previous report";
  EXPECT_EQ(Run(Client()), 1);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_NE(view_.messages[0].find(report_), std::string::npos);
  std::string kept;
  vg::platform::ReadWholeFile(report_, kept);
  EXPECT_EQ(kept, "previous report");
  EXPECT_EQ(view_.engineCalls, 0);
}

TEST(KeysTestPaths, DefaultReportGoesBesideTheLogsElseToTheTemporaryDirectory) {
  const fs::path logs = fs::temp_directory_path() / ("keystest-logs-" + std::to_string(::getpid())) / "a" / "b";
  EXPECT_EQ(TKeysTest::DefaultReportPath(logs.string()), (logs / "KeysTest.log").string());
  EXPECT_TRUE(fs::is_directory(logs));
  fs::remove_all(logs.parent_path().parent_path());
  EXPECT_EQ(fs::path(TKeysTest::DefaultReportPath("")).filename(), "KeysTest.log");
  EXPECT_EQ(fs::path(TKeysTest::DefaultReportPath("")).parent_path(), fs::path(vg::platform::TempDirectory()));
}

TEST(KeysTestCommand, ExitStatusSaysWhetherTheTestFoundErrors) {
  const std::string dir = fs::temp_directory_path() / ("keystest-cmd-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string tool = std::string(VG_TEST_BIN_DIR) + "/vgtool keys-test --engine Emulation/1.0 --report " + dir +
                           "/r.log --param UID=client-1 --param Partner=gate-1";
  auto status = [](const std::string& command) {
    const int raw = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  };
  EXPECT_EQ(status(tool), 0);
  std::string report;
  vg::platform::ReadWholeFile(dir + "/r.log", report);
  EXPECT_NE(report.find(VGT("   ... CurrentUserUID : client-1")), std::string::npos);
  EXPECT_EQ(status(tool + " --param Fail=Verify"), 1);
  EXPECT_EQ(status(tool + " --param NoSuchName=1"), 1);
  EXPECT_EQ(status(std::string(VG_TEST_BIN_DIR) + "/vgtool keys-test --server x --engine y"), 1);
  fs::remove_all(dir);
}

}  // namespace
