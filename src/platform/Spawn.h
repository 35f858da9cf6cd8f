#pragma once
// Starting a program that outlives its starter: detached from the caller's session and
// terminal, with its standard streams on /dev/null.
#include <string>
#include <vector>

namespace vg::platform {

// Starts program with args in workDir; the new process's id, or -1 when it could not be
// executed (the error text then in LastSpawnError()).
int StartDetached(const std::string& program, const std::vector<std::string>& args, const std::string& workDir);
std::string LastSpawnError();

}  // namespace vg::platform
