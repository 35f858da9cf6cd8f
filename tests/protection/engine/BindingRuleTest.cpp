// Which library file the binding loads, and the wrappers' pass-through.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/DynLib.h"
#include "platform/ProgramInfo.h"
#include "protection/CipherhubLib.h"

namespace {

using vg::chlib::LibraryCandidates;
using Files = std::set<std::string>;

auto ExistsIn(const Files& files) {
  return [files](const std::string& path) { return files.count(path) > 0; };
}

TEST(LibraryChoice, TheTunnelTriesTheAlternativesAroundCipherhubByBareName) {
  const std::vector<std::string> expected = {"engalt1.so", "cipherhub.so", "engalt2.so"};
  // The program's own copy does not matter: the system search decides.
  const Files present = {"/opt/vg/cipherhub.so"};
  EXPECT_EQ(LibraryCandidates("vgproxy", "/opt/vg/", ExistsIn(present)), expected);
  EXPECT_EQ(LibraryCandidates("VGPROXY", "/opt/vg/", ExistsIn(present)), expected);
  EXPECT_EQ(LibraryCandidates("VgProxy", "/opt/vg/", ExistsIn({})), expected);
}

TEST(LibraryChoice, OtherProgramsPreferTheCipherhubBesideThem) {
  EXPECT_EQ(LibraryCandidates("vgtool", "/opt/vg/", ExistsIn({"/opt/vg/cipherhub.so"})),
            std::vector<std::string>{"/opt/vg/cipherhub.so"});
  EXPECT_EQ(LibraryCandidates("vgtool", "/opt/vg", ExistsIn({"/opt/vg/cipherhub.so"})),
            std::vector<std::string>{"/opt/vg/cipherhub.so"});
  EXPECT_EQ(LibraryCandidates("vgtool", "/opt/vg/", ExistsIn({"/elsewhere/cipherhub.so"})),
            std::vector<std::string>{"cipherhub.so"});
  // Near misses of the tunnel's name are other programs.
  EXPECT_EQ(LibraryCandidates("vgproxy.exe", "/x/", ExistsIn({})), std::vector<std::string>{"cipherhub.so"});
  EXPECT_EQ(LibraryCandidates("vgproxy2", "/x/", ExistsIn({})), std::vector<std::string>{"cipherhub.so"});
}

TEST(Binding, TheTestProgramFindsCipherhubThroughTheSystemSearch) {
  // This program has no copy beside it, so the bare name is resolved by its run path.
  ASSERT_FALSE(vg::platform::LibraryFileExists(vg::platform::JoinPath(vg::platform::ProgramDir(), "cipherhub.so")));
  EXPECT_EQ(vg::chlib::GetMaxCryptoEngineTypeLength(), 100);
  EXPECT_TRUE(vg::chlib::IsLoaded());
  vg::chlib::Bind();  // repeated lookups are harmless
  char name[100] = "x";
  vg::chlib::GetCryptoEngineTypes(21, name);
  EXPECT_STREQ(name, "");
  vg::chlib::GetCryptoEngineTypes(20, name);
  EXPECT_STREQ(name, "LirSSL");
  EXPECT_EQ(vg::chlib::InitCryptoEngine("openssl"), nullptr);
}

}  // namespace
