#include "protection/PasswF.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "protection/PromptService.h"

namespace vg {
namespace {

void Wipe(std::string& secret) {
  std::fill(secret.begin(), secret.end(), '\0');
  secret.clear();
}

}  // namespace

int32_t PasswordRequestFunc(char* buffer, int32_t size) {
  // Called from inside engine code: nothing may be thrown back into it.
  try {
    if (size <= 0 || !buffer) return 0;
    bool entered = false;
    std::string password;
    const bool ran = prompt_detail::PostToPromptThread(TPromptKind::Password,
                                                       [&](const std::shared_ptr<TPromptService>& service) {
                                                         entered = service->AskPassword(password);
                                                       })
                         .get();
    if (!ran || !entered) {
      Wipe(password);
      return 0;
    }
    const size_t count = std::min(password.size(), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, password.data(), count);
    buffer[count] = '\0';
    Wipe(password);
    return -1;
  } catch (...) {
    return 0;
  }
}

}  // namespace vg
