#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/ProgramInfo.h"
#include "platform/Spawn.h"

using namespace vg::platform;
namespace fs = std::filesystem;

namespace {

// The whole file once it exists, waiting up to 10 s for the started program to write it.
std::string AwaitFile(const fs::path& path) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!fs::exists(path) && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  return path;
}

}  // namespace

TEST(Spawn, ArgumentsAndWorkingDirectoryReachTheProgramUnchanged) {
  const std::string program = JoinPath(ProgramDir(), ProgramFileNameFor("vg_argsecho.exe"));
  const fs::path workDir = fs::temp_directory_path();
  const fs::path out =
      workDir / ("vg-spawn-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  // Spaces, quotes, backslashes before a quote and at the end, and an empty argument are where a
  // command line built for the new program goes wrong.
  const std::vector<std::string> args = {out.string(), "plain", "with space", "q\"uote", "trail\\", "back\\\\\"q", ""};
  ASSERT_GT(StartDetached(program, args, workDir.string()), 0) << LastSpawnError();
  const std::string text = AwaitFile(out);
  fs::remove(out);
  std::istringstream lines(text);
  std::string cwd;
  std::getline(lines, cwd);
  EXPECT_EQ(WithoutTrailingSeparator(cwd), WithoutTrailingSeparator(workDir.string()));
  EXPECT_EQ(text.substr(cwd.size() + 1), "[plain]\n[with space]\n[q\"uote]\n[trail\\]\n[back\\\\\"q]\n[]\n");
}

TEST(Spawn, AProgramThatCannotStartIsReported) {
  EXPECT_EQ(StartDetached(JoinPath(ProgramDir(), "no-such-program"), {}, ""), -1);
  EXPECT_FALSE(LastSpawnError().empty());
}
