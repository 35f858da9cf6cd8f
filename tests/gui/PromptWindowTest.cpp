// The password and key-medium windows behind the engines' prompt functions.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <atomic>
#include <cstring>
#include <future>
#include <set>
#include <thread>

#include "GuiSupport.h"
#include "gui/WindowPrompts.h"
#include "platform/CodePage.h"
#include "protection/PasswF.h"
#include "protection/TMReq.h"

using namespace guitest;
using vg::gui::TfmTMReq;
using vg::gui::TfPassword;

namespace {

class PromptWindows : public ::testing::Test {
 protected:
  void SetUp() override { prompts_ = vg::gui::InstallWindowPrompts(); }
  void TearDown() override {
    prompts_->CloseAll();
    vg::RemovePromptService();
    while (vg::KeyMediumNesting() > 0) vg::TMRequestFunc(1);
  }

  static TfPassword* Dialog() { return VisibleWindow<TfPassword>("TfPassword"); }
  static TfmTMReq* KeyMedium() { return VisibleWindow<TfmTMReq>("TfmTMReq"); }
  // A step that answers the password window once it is up.
  static std::function<bool()> Answer(const QString& text, bool ok = true) {
    return [text, ok] {
      TfPassword* dialog = Dialog();
      if (!dialog) return false;
      Type(dialog->findChild<QLineEdit*>("edtPassword"), text);
      dialog->findChild<QPushButton*>(ok ? "btnOk" : "btnCancel")->click();
      return true;
    };
  }

  std::shared_ptr<vg::gui::TWindowPromptService> prompts_;
};

TEST_F(PromptWindows, PasswordWindowCutsTheAnswerToTheBufferAndIsReusedEmpty) {
  char small[8];
  std::memset(small, '#', sizeof small);
  TfPassword* first = nullptr;
  Script script;
  script
      .Then([&] {
        TfPassword* dialog = Dialog();
        if (!dialog) return false;
        first = dialog;
        EXPECT_EQ(dialog->windowTitle(), "QS-Veilgate");
        EXPECT_TRUE(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_TRUE(dialog->isModal());
        auto* edit = dialog->findChild<QLineEdit*>("edtPassword");
        auto* ok = dialog->findChild<QPushButton*>("btnOk");
        auto* cancel = dialog->findChild<QPushButton*>("btnCancel");
        EXPECT_EQ(dialog->findChild<QLabel*>("lPassword")->text(), "Пожалуйста, введите пароль секретного ключа");
        EXPECT_EQ(edit->geometry(), QRect(8, 24, 241, 21));
        EXPECT_EQ(ok->geometry(), QRect(80, 56, 81, 25));
        EXPECT_EQ(cancel->geometry(), QRect(168, 56, 81, 25));
        EXPECT_EQ(ok->text(), "Ok");
        EXPECT_EQ(cancel->text(), "Cancel");
        EXPECT_TRUE(ok->isDefault());
        EXPECT_EQ(dialog->focusWidget(), edit);
        EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
        EXPECT_EQ(edit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, edit), 'X');
        return true;
      })
      .Then(Answer("пароль1234"));  // ten characters into a buffer of eight
  auto asked = std::async(std::launch::async, [&] { return vg::PasswordRequestFunc(small, sizeof small); });
  ASSERT_TRUE(WaitUntil([&] { return script.Done() && Ready(asked); }));
  EXPECT_EQ(asked.get(), -1);
  EXPECT_EQ(std::string(small), vg::platform::Utf8ToCp1251("пароль1"));

  // The window comes back empty; Cancel leaves the buffer as it was.
  char buffer[16] = "untouched";
  Script again;
  again
      .Then([&] {
        if (!Dialog()) return false;
        EXPECT_EQ(Dialog(), first);
        EXPECT_TRUE(Dialog()->findChild<QLineEdit*>("edtPassword")->text().isEmpty());
        return true;
      })
      .Then(Answer("secret", false));
  asked = std::async(std::launch::async, [&] { return vg::PasswordRequestFunc(buffer, sizeof buffer); });
  ASSERT_TRUE(WaitUntil([&] { return again.Done() && Ready(asked); }));
  EXPECT_EQ(asked.get(), 0);
  EXPECT_STREQ(buffer, "untouched");

  // Nothing to fill: no window at all.
  EXPECT_EQ(vg::PasswordRequestFunc(buffer, 0), 0);
  EXPECT_EQ(vg::PasswordRequestFunc(nullptr, 16), 0);
  EXPECT_EQ(Dialog(), nullptr);
}

TEST_F(PromptWindows, EngineThreadsAskingAtOnceGetTheWindowOneAfterTheOther) {
  constexpr int kThreads = 4;
  char buffers[kThreads][32] = {};
  std::atomic<int> results[kThreads];
  std::atomic<int> finished{0};
  std::set<std::string> typed;
  Script script;
  for (int turn = 0; turn < kThreads; ++turn) {
    const std::string answer = "answer" + std::to_string(turn);
    typed.insert(answer);
    script.Then([] { return VisibleCount("TfPassword") == 1; }).Then(Answer(QString::fromStdString(answer)));
  }
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    results[i] = 1;
    threads.emplace_back([&, i] {
      results[i] = vg::PasswordRequestFunc(buffers[i], 32);
      ++finished;
    });
  }
  EXPECT_TRUE(WaitUntil([&] { return script.Done() && finished == kThreads; }));
  for (auto& t : threads) t.join();
  std::set<std::string> received;
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(results[i].load(), -1);
    received.insert(buffers[i]);
  }
  EXPECT_EQ(received, typed);
}

TEST_F(PromptWindows, KeyMediumPromptNestsAndOnlyTheBalancingHideClosesIt) {
  auto fromThread = [](uint8_t code) {
    return std::async(std::launch::async, [code] { return vg::TMRequestFunc(code); });
  };
  auto shown = fromThread(0);
  ASSERT_TRUE(WaitUntil([&] { return KeyMedium() != nullptr && Ready(shown); }));
  EXPECT_EQ(shown.get(), 13);
  TfmTMReq* prompt = KeyMedium();
  EXPECT_EQ(prompt->windowTitle(), "QS-Veilgate");
  EXPECT_TRUE(prompt->windowFlags() & Qt::WindowStaysOnTopHint);
  auto* label = prompt->findChild<QLabel*>("lMessage");
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), "Используйте touch-memory");
  EXPECT_EQ(label->geometry(), prompt->rect());
  EXPECT_EQ(label->alignment(), Qt::AlignCenter);
  EXPECT_FALSE(prompt->close());  // the user cannot close it
  EXPECT_TRUE(prompt->isVisible());

  auto again = fromThread(0);
  ASSERT_TRUE(WaitUntil([&] { return Ready(again); }));
  EXPECT_EQ(again.get(), 13);
  EXPECT_EQ(fromThread(2).get(), 13);  // not a request
  EXPECT_EQ(fromThread(1).get(), 13);
  WaitUntil([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_EQ(KeyMedium(), prompt);
  EXPECT_EQ(VisibleCount("TfmTMReq"), 1);
  // A hide from yet another thread balances the first show and takes the prompt down.
  std::thread([] { vg::TMRequestFunc(1); }).join();
  EXPECT_TRUE(WaitUntil([] { return KeyMedium() == nullptr; }));
  EXPECT_EQ(vg::KeyMediumNesting(), 0);
}

TEST_F(PromptWindows, APasswordAskedOnTheGuiThreadKeepsServingOtherRequests) {
  // While the window is up on the GUI thread, an engine thread's key-medium prompt comes and
  // goes; then the password is typed.
  std::future<int32_t> show, hide;
  Script script;
  script
      .Then([&] {
        if (!Dialog()) return false;
        show = std::async(std::launch::async, [] { return vg::TMRequestFunc(0); });
        return true;
      })
      .Then([&] {
        if (!KeyMedium()) return false;
        hide = std::async(std::launch::async, [] { return vg::TMRequestFunc(1); });
        return true;
      })
      .Then([] { return KeyMedium() == nullptr; })
      .Then(Answer("on the gui thread"));
  char buffer[64] = {};
  EXPECT_EQ(vg::PasswordRequestFunc(buffer, sizeof buffer), -1);
  EXPECT_TRUE(script.Done());
  EXPECT_STREQ(buffer, "on the gui thread");
  ASSERT_TRUE(show.valid() && hide.valid());
  EXPECT_EQ(show.get(), 13);
  EXPECT_EQ(hide.get(), 13);
}

}  // namespace
