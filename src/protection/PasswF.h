#pragma once
// The password prompt the engines call back when they need the password of a secret key.
#include <cstdint>

namespace vg {

// Asks the user through the installed prompt service (see PromptService.h) and waits for the
// answer. buffer receives at most size - 1 characters and a NUL. Result -1 when a password was
// entered and copied; 0 when size < 1, buffer is null, the user cancelled or nobody can be
// asked, and then the buffer is left untouched.
int32_t PasswordRequestFunc(char* buffer, int32_t size);

}  // namespace vg
