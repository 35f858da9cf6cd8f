#include "protection/HeadlessPrompts.h"

#include <algorithm>
#include <cstdio>

#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/SysUtils.h"

namespace vg {
namespace {

void WriteStandardError(const std::string& utf8) {
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

THeadlessPromptService::THeadlessPromptService()
    : THeadlessPromptService(platform::ReadHiddenLine, WriteStandardError, [](const std::string& text) {
        WriteStandardError(platform::Cp1251ToUtf8(StampedNotice(text)) + "\n");
      }) {}

THeadlessPromptService::THeadlessPromptService(TLineReader reader, TErrorWriter errorWriter, TNoticeSink notice)
    : reader_(std::move(reader)), errorWriter_(std::move(errorWriter)), notice_(std::move(notice)) {}

std::string THeadlessPromptService::StampedNotice(const std::string& text) {
  const platform::LocalTime t = platform::Clock::System().Local();
  return Format("%.2d.%.2d.%.4d %.2d:%.2d:%.2d %s", {t.day, t.month, t.year, t.hour, t.minute, t.second, text});
}

bool THeadlessPromptService::AskPassword(std::string& password) {
  if (cancelled_) return false;
  std::string line;
  const platform::TerminalRead result =
      reader_(platform::Cp1251ToUtf8(VGT("Пожалуйста, введите пароль секретного ключа: ")), line, &cancelled_);
  switch (result) {
    case platform::TerminalRead::Ok:
      password = platform::Utf8ToCp1251(line);
      std::fill(line.begin(), line.end(), '\0');
      return true;
    case platform::TerminalRead::NoTerminal:
      if (notice_) notice_(VGT("Пароль секретного ключа не запрошен: у программы нет управляющего терминала"));
      return false;
    case platform::TerminalRead::Closed:
      return false;
  }
  return false;
}

void THeadlessPromptService::ShowKeyMediumPrompt() {
  errorWriter_(platform::Cp1251ToUtf8(VGT("Используйте touch-memory")) + "\n");
}

void THeadlessPromptService::HideKeyMediumPrompt() {
  errorWriter_(platform::Cp1251ToUtf8(VGT("Запрос touch-memory снят")) + "\n");
}

std::shared_ptr<THeadlessPromptService> InstallHeadlessPrompts() {
  auto service = std::make_shared<THeadlessPromptService>();
  InstallPromptService(service);
  return service;
}

}  // namespace vg
