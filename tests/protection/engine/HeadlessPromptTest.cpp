// Prompts without windows: the terminal password prompt and the key-medium lines.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <regex>

#include "ScriptedPrompts.h"
#include "platform/CodePage.h"
#include "platform/SysUtils.h"
#include "platform/Terminal.h"
#include "protection/HeadlessPrompts.h"
#include "protection/PasswF.h"
#include "protection/TMReq.h"

namespace {

using enginetest::InstalledPrompts;
using vg::THeadlessPromptService;
using vg::platform::TerminalRead;

struct Captured {
  std::vector<std::string> prompts;
  std::vector<std::string> errorOutput;
  std::vector<std::string> notices;
};

std::shared_ptr<THeadlessPromptService> Headless(Captured& captured, TerminalRead result, std::string line = {}) {
  return std::make_shared<THeadlessPromptService>(
      [&captured, result, line](const std::string& prompt, std::string& out, const std::atomic<bool>*) {
        captured.prompts.push_back(prompt);
        if (result == TerminalRead::Ok) out = line;
        return result;
      },
      [&captured](const std::string& text) { captured.errorOutput.push_back(text); },
      [&captured](const std::string& text) { captured.notices.push_back(text); });
}

TEST(HeadlessPrompts, PasswordComesFromTheTerminalInTheSystemCodePage) {
  Captured captured;
  InstalledPrompts installed(Headless(captured, TerminalRead::Ok, "пароль"));
  char buffer[32] = {};
  EXPECT_EQ(vg::PasswordRequestFunc(buffer, sizeof buffer), -1);
  EXPECT_EQ(std::string(buffer), VGT("пароль"));
  ASSERT_EQ(captured.prompts.size(), 1u);
  EXPECT_EQ(captured.prompts[0], "Пожалуйста, введите пароль секретного ключа: ");
  EXPECT_TRUE(captured.notices.empty());
}

TEST(HeadlessPrompts, WithoutTerminalTheRequestIsRefusedWithANotice) {
  Captured captured;
  InstalledPrompts installed(Headless(captured, TerminalRead::NoTerminal));
  char buffer[16] = "untouched";
  EXPECT_EQ(vg::PasswordRequestFunc(buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(captured.notices, std::vector<std::string>{
                                  VGT("Пароль секретного ключа не запрошен: у программы нет управляющего терминала")});
}

TEST(HeadlessPrompts, EndOfInputCancelsQuietly) {
  Captured captured;
  InstalledPrompts installed(Headless(captured, TerminalRead::Closed));
  char buffer[16] = "untouched";
  EXPECT_EQ(vg::PasswordRequestFunc(buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_TRUE(captured.notices.empty());
}

TEST(HeadlessPrompts, KeyMediumPromptIsALineWhenItAppearsAndWhenItGoes) {
  Captured captured;
  auto service = Headless(captured, TerminalRead::Closed);
  service->ShowKeyMediumPrompt();
  service->HideKeyMediumPrompt();
  EXPECT_EQ(captured.errorOutput,
            (std::vector<std::string>{"Используйте touch-memory\n", "Запрос touch-memory снят\n"}));
}

TEST(HeadlessPrompts, NoticeLineIsStampedLikeAServiceLogLine) {
  const std::string line = THeadlessPromptService::StampedNotice("text");
  EXPECT_TRUE(std::regex_match(line, std::regex(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d text)"))) << line;
}

// Runs ReadHiddenLine in a child whose controlling terminal is a new pseudo-terminal, types
// `typed` into it after the prompt appears, and returns the child's result and what the
// terminal showed.
struct TerminalRun {
  std::string result;  // "<code>:<line>"
  std::string shown;
};

TerminalRun RunOnPseudoTerminal(const std::string& typed) {
  int report[2];
  if (::pipe(report) != 0) return {};
  int master = -1;
  const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (child == 0) {
    ::close(report[0]);
    std::string line;
    const TerminalRead r = vg::platform::ReadHiddenLine("Password: ", line);
    const std::string out = std::to_string(static_cast<int>(r)) + ":" + line;
    (void)!::write(report[1], out.data(), out.size());
    ::_exit(0);
  }
  ::close(report[1]);
  TerminalRun run;
  if (child < 0) return run;
  // Reads what the terminal shows until the child is gone (the master then reports an error)
  // or two seconds pass; types once the prompt has appeared.
  bool typedYet = false;
  for (int rounds = 0; rounds < 100; ++rounds) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 20) > 0) {
      char chunk[256];
      const ssize_t n = ::read(master, chunk, sizeof chunk);
      if (n <= 0) break;
      run.shown.append(chunk, static_cast<size_t>(n));
    }
    if (!typedYet && run.shown.find("Password: ") != std::string::npos) {
      (void)!::write(master, typed.data(), typed.size());
      typedYet = true;
    }
  }
  ::kill(child, SIGKILL);  // harmless when it has ended already
  ::waitpid(child, nullptr, 0);
  char rest[256];
  ssize_t n;
  while ((n = ::read(report[0], rest, sizeof rest)) > 0) run.result.append(rest, static_cast<size_t>(n));
  ::close(report[0]);
  ::close(master);
  return run;
}

TEST(Terminal, ReadsALineWithoutEchoingIt) {
  const TerminalRun run = RunOnPseudoTerminal("s3cret\n");
  EXPECT_EQ(run.result, "0:s3cret");
  EXPECT_EQ(run.shown.find("s3cret"), std::string::npos) << run.shown;
}

TEST(Terminal, EndOfInputBeforeAnythingIsClosed) {
  const TerminalRun run = RunOnPseudoTerminal("\x04");
  EXPECT_EQ(run.result, "2:");
}

TEST(Terminal, AProcessWithoutControllingTerminalHasNone) {
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::setsid();  // a new session has no controlling terminal
    std::string line;
    const char code = static_cast<char>('0' + static_cast<int>(vg::platform::ReadHiddenLine("x", line)));
    (void)!::write(report[1], &code, 1);
    ::_exit(0);
  }
  ::close(report[1]);
  char code = '?';
  ASSERT_EQ(::read(report[0], &code, 1), 1);
  ::close(report[0]);
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(code, '1');
}

}  // namespace
