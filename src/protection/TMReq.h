#pragma once
// The key-medium prompt the engines call back while they need the user's key medium.
#include <cstdint>

namespace vg {

// Code 0 asks for the prompt, code 1 withdraws one request; other codes do nothing. Requests
// nest: the prompt is up from the request that finds none outstanding to the withdrawal that
// balances it. A withdrawal without an outstanding request does nothing. The prompt runs on the
// prompt service's thread (see PromptService.h): a request waits until the prompt is up, a
// withdrawal never waits, so it cannot be held up by another thread's request. Always 13.
int32_t TMRequestFunc(uint8_t code);

// How many requests are outstanding.
int32_t KeyMediumNesting();

}  // namespace vg
