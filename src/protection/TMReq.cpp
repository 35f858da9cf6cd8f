#include "protection/TMReq.h"

#include <memory>
#include <mutex>

#include "protection/PromptService.h"

namespace vg {
namespace {

constexpr int32_t kResult = 13;
constexpr uint8_t kShow = 0;
constexpr uint8_t kHide = 1;

// Serialises the requests; held only while the count changes, never while a prompt is shown.
std::mutex gKeyMediumLock;
int32_t gNesting = 0;

// The service the prompt is up on; touched only by the thread serving key-medium requests.
std::weak_ptr<TPromptService> gShownOn;
bool gShown = false;

bool SameService(const std::weak_ptr<TPromptService>& a, const std::shared_ptr<TPromptService>& b) {
  return !a.owner_before(b) && !b.owner_before(a);
}

// Brings the prompt in line with the count. Every change of the count is followed by one of
// these, so the last one to run leaves the prompt as the final count says, whatever the order
// in which requests of several threads arrived.
void Reconcile(const std::shared_ptr<TPromptService>& service) {
  if (gShown && !SameService(gShownOn, service)) gShown = false;  // shown by a service since removed
  for (;;) {
    bool wanted;
    {
      std::lock_guard<std::mutex> guard(gKeyMediumLock);
      wanted = gNesting > 0;
    }
    if (wanted == gShown) return;
    // The state is recorded before the call, so a reconcile nested in the prompt's own event
    // loop sees what this one is doing.
    gShown = wanted;
    gShownOn = service;
    if (wanted) {
      service->ShowKeyMediumPrompt();
    } else {
      service->HideKeyMediumPrompt();
    }
  }
}

}  // namespace

int32_t TMRequestFunc(uint8_t code) {
  try {
    if (code != kShow && code != kHide) return kResult;
    {
      std::lock_guard<std::mutex> guard(gKeyMediumLock);
      if (code == kShow) {
        ++gNesting;
      } else if (gNesting > 0) {
        --gNesting;
      } else {
        return kResult;
      }
    }
    auto done = prompt_detail::PostToPromptThread(TPromptKind::KeyMedium, Reconcile);
    if (code == kShow) done.wait();
  } catch (...) {
  }
  return kResult;
}

int32_t KeyMediumNesting() {
  std::lock_guard<std::mutex> guard(gKeyMediumLock);
  return gNesting;
}

}  // namespace vg
