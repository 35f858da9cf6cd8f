#pragma once
// Where the password and key-medium prompts are shown, and the hand-over of prompt requests
// from the engine threads that make them to the thread that owns the prompts.
#include <functional>
#include <future>
#include <memory>
#include <string>

namespace vg {

// The prompts themselves: windows in the desktop program, the terminal when headless.
// Each call runs on the thread that serves its kind of request, one call at a time.
class TPromptService {
 public:
  virtual ~TPromptService() = default;
  // Asks for the password of a secret key: true with the entered text (Windows-1251) when the
  // user confirmed it, false when the user cancelled or cannot be asked.
  virtual bool AskPassword(std::string& password) = 0;
  // Shows the "use the key medium" prompt and returns without waiting for the user; the prompt
  // stays up, and cannot be closed by the user, until HideKeyMediumPrompt.
  virtual void ShowKeyMediumPrompt() = 0;
  virtual void HideKeyMediumPrompt() = 0;
};

enum class TPromptKind { Password, KeyMedium };

// Installs the process's prompt service, replacing (and first removing) any earlier one.
//
// Without wake, the hand-over serves the service from threads of its own, one for password
// requests and one for the key-medium prompt: the form for programs without a GUI.
//
// With wake, the calling thread (the GUI thread) serves the service: wake is called from any
// thread whenever requests wait, and must make the GUI thread call ServePromptRequests() soon
// (for instance by posting an event to it). Requests made on the GUI thread run at once.
void InstallPromptService(std::shared_ptr<TPromptService> service);
void InstallPromptService(std::shared_ptr<TPromptService> service, std::function<void()> wake);

// Removes the service after the request in progress; waiting requests are refused, and so is
// every request until the next install.
void RemovePromptService();

// On the GUI thread: runs the waiting requests. Called inside a password prompt (from its
// nested event loop) it runs only key-medium requests, so one password is asked at a time.
void ServePromptRequests();

namespace prompt_detail {
using TPromptBody = std::function<void(const std::shared_ptr<TPromptService>&)>;
// Queues body for the thread serving requests of this kind (on the GUI thread itself it runs
// at once). The future says whether it ran: false without a service, when the service was
// removed first, or for a password request nested inside another on the GUI thread.
std::shared_future<bool> PostToPromptThread(TPromptKind kind, TPromptBody body);
}  // namespace prompt_detail

}  // namespace vg
