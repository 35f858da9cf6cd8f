#include <gtest/gtest.h>

#include <cstdio>

#include "config/Cfg_Ini.h"
#include "support/ScratchDir.h"

namespace {

struct ToolRun {
  int status;
  std::string output;  // standard output and error together
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class VgtoolConfig : public ::testing::Test {
 protected:
  ToolRun Vgtool(const std::vector<std::string>& args) {
    std::string cmd = "VG_REGISTRY_DIR=" + Quote(dir.File("registry")) + " " + Quote(std::string(VG_TEST_BIN_DIR) + "/vgtool");
    for (const auto& a : args) cmd += " " + Quote(a);
    cmd += " 2>&1";
    ToolRun r{0, {}};
    FILE* p = ::popen(cmd.c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
    const int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }
  vgtest::ScratchDir dir;
};

TEST_F(VgtoolConfig, RegistryCommands) {
  const std::string key = "HKEY_CURRENT_USER\\Software\\NorvelSystems\\QS-Veilgate\\Client\\TCP options";
  EXPECT_EQ(Vgtool({"reg", "set", key, "Self TCP port", "dword", "8080"}).status, 0);
  EXPECT_EQ(Vgtool({"reg", "set", key, "Proxy host", "string", "прокси"}).status, 0);
  EXPECT_EQ(Vgtool({"reg", "set", key, "Allowed hosts", "binary", "7f000001"}).status, 0);
  EXPECT_EQ(Vgtool({"reg", "set", key, "Dir", "expand", "%TEMP%"}).status, 0);
  EXPECT_EQ(Vgtool({"reg", "get", key, "self tcp port"}).output, "8080\n");
  EXPECT_EQ(Vgtool({"reg", "get", key, "Proxy host"}).output, "прокси\n");
  EXPECT_EQ(Vgtool({"reg", "list", "HKCU\\software\\norvelsystems\\qs-veilgate\\client"}).output, "[TCP options]\n");
  EXPECT_EQ(Vgtool({"reg", "list", key}).output,
            "Self TCP port = dword:8080\nProxy host = string:прокси\nAllowed hosts = binary:7f000001\n"
            "Dir = expand:%TEMP%\n");
  EXPECT_EQ(Vgtool({"reg", "delete", key, "Dir"}).status, 0);
  EXPECT_EQ(Vgtool({"reg", "get", key, "Dir"}).status, 1);
  EXPECT_EQ(Vgtool({"reg", "delete", "HKEY_CURRENT_USER\\Software\\NorvelSystems"}).status, 0);
  const ToolRun gone = Vgtool({"reg", "list", key});
  EXPECT_EQ(gone.status, 1);
  EXPECT_NE(gone.output.find("cannot open key"), std::string::npos) << gone.output;
}

TEST_F(VgtoolConfig, RegistryCommandErrors) {
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"reg", "list", "HKEY_NOWHERE\\x"},
           {"reg", "set", "HKCU\\A", "n", "dword", "12x"},
           {"reg", "set", "HKCU\\A", "n", "dword", "4294967296"},
           {"reg", "set", "HKCU\\A", "n", "binary", "abc"},
           {"reg", "set", "HKCU\\A", "n", "qword", "1"},
           {"reg", "delete", "HKCU"},
           {"reg", "get", "HKCU\\A"},
       }) {
    const ToolRun r = Vgtool(bad);
    EXPECT_EQ(r.status, 1) << bad[1] << " " << bad[2];
    EXPECT_NE(r.output.find("vgtool: "), std::string::npos) << r.output;
  }
  EXPECT_EQ(Vgtool({"reg", "set", "HKCU\\A", "n", "dword", "-1"}).status, 0);
  EXPECT_EQ(Vgtool({"reg", "get", "HKCU\\A", "n"}).output, "4294967295\n");
  EXPECT_EQ(Vgtool({"reg", "set", "HKCU\\A", "n", "dword", "0x1F"}).status, 0);
  EXPECT_EQ(Vgtool({"reg", "get", "HKCU\\A", "n"}).output, "31\n");
}

TEST_F(VgtoolConfig, IniCommandsUseTheTunnelsSemantics) {
  const std::string cfg = dir.File("veilgate.cfg");
  EXPECT_EQ(Vgtool({"ini", "set", cfg, "Client\\TCP options", "Self TCP port", "8080"}).status, 0);
  EXPECT_EQ(Vgtool({"ini", "set", cfg, "Client\\Web servers\\s1", "Имя", "Значение"}).status, 0);
  EXPECT_EQ(Vgtool({"ini", "get", cfg, "client\\tcp options", "SELF TCP PORT"}).output, "8080\n");
  EXPECT_EQ(Vgtool({"ini", "list", cfg, "Client"}).output, "[TCP options]\n[Web servers]\n");
  EXPECT_EQ(Vgtool({"ini", "list", cfg, "Client\\Web servers\\s1"}).output, "Имя=Значение\n");
  // The file holds Windows-1251, as the tunnel reads it.
  auto s = vg::OpenIniStorage(cfg, "Client", true, false)->OpenSection("Web servers", true, false)->OpenSection("s1", true, false);
  EXPECT_EQ(s->ReadString(VGT("Имя")), VGT("Значение"));

  const ToolRun missing = Vgtool({"ini", "get", cfg, "Client\\Log options", "Log interval"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.output, "vgtool: Раздел \"Client\\Log options\" не существует\n");
  EXPECT_EQ(Vgtool({"ini", "get", cfg, "Client\\TCP options", "Proxy host"}).output,
            "vgtool: Элемент \"Proxy host\" отсутствует в разделе \"Client\\TCP options\"\n");
  EXPECT_EQ(Vgtool({"ini", "get", dir.File("none.cfg"), "Client", "x"}).status, 1);
  EXPECT_EQ(Vgtool({"ini", "set", cfg, "Client", "x"}).status, 1);
}

}  // namespace
