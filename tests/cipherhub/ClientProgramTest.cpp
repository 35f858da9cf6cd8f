#include <gtest/gtest.h>

#include <string>

#include "TestHub.h"

namespace chubtest {
namespace {

// The C client, with cipherhub and the emulation engine beside it, does a whole round trip.
TEST(ClientProgram, CClientRunsTheEmulationRoundTrip) {
  SearchPathGuard guard;
  ScratchDir dir;
  const fs::path client = dir.Put(TestTool("chub_c_client"), fs::path("app") / ProgramFile("c_client"));
  fs::permissions(client, fs::perms::owner_all, fs::perm_options::add);
  const fs::path hub = dir.Put(CipherHubLibrary(), fs::path("app") / ModuleFile("cipherhub"));
  dir.Put(EmulationModule(), fs::path("app") / ModuleFile("engmod01"));
  const RunResult run = RunProgram({client.string(), "demo", hub.string()});
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
  const fs::path client = dir.Put(TestTool("chub_c_client"), fs::path("app") / ProgramFile("c_client"));
  fs::permissions(client, fs::perms::owner_all, fs::perm_options::add);
  const fs::path hub = dir.Put(CipherHubLibrary(), fs::path("lib") / ModuleFile("cipherhub"));
  const fs::path root = dir.Path() / "root";
  const fs::path mock = MockModule("mock_full");
  const fs::path module = ModuleFile("engmod01");
  auto where = [&](const std::string& rootArg) {
    const RunResult run = RunProgram({client.string(), "where", hub.string(), rootArg, "Emulation/1.0"});
    EXPECT_EQ(run.status, 0) << run.output;
    // The line after the binding summary is "none" or the module's record.
    const size_t start = run.output.find('\n') + 1;
    const std::string line = run.output.substr(start, run.output.find('\n', start) - start);
    return line == "none" ? line : Normal(Field(line, "where"));
  };

  EXPECT_EQ(where(root.string()), "none");
  const std::string besideHub = Normal(dir.Put(mock, "lib" / module));
  EXPECT_EQ(where("-"), besideHub);
  const std::string user = Normal(dir.Put(mock, "root/USER" / module));
  EXPECT_EQ(where(root.string()), user);
  const std::string exe = Normal(dir.Put(mock, "root/EXE" / module));
  EXPECT_EQ(where(root.string()), exe);
  EXPECT_EQ(where("-"), besideHub) << "without a root its directories are not searched";
  const std::string besideProgram = Normal(dir.Put(mock, "app" / module));
  EXPECT_EQ(where(root.string()), besideProgram);
}

}  // namespace
}  // namespace chubtest
