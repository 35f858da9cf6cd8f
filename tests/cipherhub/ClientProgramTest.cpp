#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "TestHub.h"

namespace chubtest {
namespace {

struct RunResult {
  int status = -1;
  std::string output;
};

RunResult RunCommand(const std::string& command) {
  RunResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> chunk;
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) result.output.append(chunk.data(), n);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// The C client, with cipherhub and the emulation engine beside it, does a whole round trip.
TEST(ClientProgram, CClientRunsTheEmulationRoundTrip) {
  SearchPathGuard guard;
  ScratchDir dir;
  const fs::path client = dir.Put(TestTool("chub_c_client"), "app/c_client");
  fs::permissions(client, fs::perms::owner_all, fs::perm_options::add);
  dir.Put(CipherHubLibrary(), "app/cipherhub.so");
  dir.Put(EmulationModule(), "app/engmod01.so");
  const RunResult run = RunCommand(Quoted(client) + " demo " + Quoted(dir.Path() / "app/cipherhub.so"));
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("exports resolved: 84 of 84"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("type 20: LirSSL"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("decrypted 21 bytes from alice"), std::string::npos) << run.output;
}

// Where a module is taken from: beside the program first, then the root's subdirectories,
// then beside cipherhub itself.
TEST(ClientProgram, ModuleSearchOrderSeenFromAProgram) {
  SearchPathGuard guard;
  ScratchDir dir;
  const fs::path client = dir.Put(TestTool("chub_c_client"), "app/c_client");
  fs::permissions(client, fs::perms::owner_all, fs::perm_options::add);
  const fs::path hub = dir.Put(CipherHubLibrary(), "lib/cipherhub.so");
  const fs::path root = dir.Path() / "root";
  const fs::path mock = MockModule("mock_full");
  auto where = [&](const std::string& rootArg) {
    const RunResult run = RunCommand(Quoted(client) + " where " + Quoted(hub) + " " + rootArg + " 'Emulation/1.0'");
    EXPECT_EQ(run.status, 0) << run.output;
    // The line after the binding summary is "none" or the module's record.
    const size_t start = run.output.find('\n') + 1;
    const std::string line = run.output.substr(start, run.output.find('\n', start) - start);
    return line == "none" ? line : Field(line, "where");
  };

  EXPECT_EQ(where(Quoted(root)), "none");
  dir.Put(mock, "lib/engmod01.so");
  EXPECT_EQ(where("-"), (dir.Path() / "lib/engmod01.so").string());
  dir.Put(mock, "root/USER/engmod01.so");
  EXPECT_EQ(where(Quoted(root)), (root / "USER/engmod01.so").string());
  dir.Put(mock, "root/EXE/engmod01.so");
  EXPECT_EQ(where(Quoted(root)), (root / "EXE/engmod01.so").string());
  EXPECT_EQ(where("-"), (dir.Path() / "lib/engmod01.so").string()) << "without a root its directories are not searched";
  dir.Put(mock, "app/engmod01.so");
  EXPECT_EQ(where(Quoted(root)), (dir.Path() / "app/engmod01.so").string());
}

}  // namespace
}  // namespace chubtest
