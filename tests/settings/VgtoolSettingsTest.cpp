#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include "TestSupport.h"
#include "config/Cfg_Ini.h"

namespace {

using settingstest::SettingsWith;
using settingstest::TemplateText;
using settingstest::TemplateWithout;

struct ToolRun {
  int status;
  std::string output;  // standard output and error together
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class VgtoolSettings : public ::testing::Test {
 protected:
  ToolRun Vgtool(const std::vector<std::string>& args) {
    std::string cmd = "VG_REGISTRY_DIR=" + Quote(settingstest::RegistryDir()) + " " +
                      Quote(std::string(VG_TEST_BIN_DIR) + "/vgtool");
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
  ToolRun Check(const std::string& text) {
    vgtest::WriteFile(file, text);
    return Vgtool({"config", "check", file});
  }

  vgtest::ScratchDir dir;
  std::string file = dir.File("veilgate.cfg");
};

TEST_F(VgtoolSettings, CheckPassesTheDefaultFiles) {
  const ToolRun built = Vgtool({"config", "check", std::string(VG_TEST_BIN_DIR) + "/veilgate.cfg"});
  EXPECT_EQ(built.status, 0) << built.output;
  const ToolRun fresh = Check(TemplateText());
  EXPECT_EQ(fresh.status, 0) << fresh.output;
  EXPECT_EQ(fresh.output, file + ": ok, 0 protected server(s)\n");
}

TEST_F(VgtoolSettings, CheckNamesEveryMissingItemWithTheProgramsMessage) {
  std::string text = TemplateWithout("Self TCP port");
  text.replace(text.find("Log interval=60"), 15, "Log interval=sixty");
  const ToolRun r = Check(text);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Элемент \"Self TCP port\" отсутствует в разделе \"Client\\TCP options\"\n"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("Элемент \"Log interval\" в разделе \"Client\\Log options\" не является целым числом\n"),
            std::string::npos)
      << r.output;

  text = TemplateText();
  text.erase(text.find("[Client\\TCP options]"), text.find("[Client\\Web servers]") - text.find("[Client\\TCP options]"));
  const ToolRun noSection = Check(text);
  EXPECT_EQ(noSection.status, 1);
  EXPECT_NE(noSection.output.find("Раздел \"Client\\TCP options\" не существует"), std::string::npos)
      << noSection.output;
  EXPECT_EQ(noSection.output.find("отсутствует"), std::string::npos) << noSection.output;
}

TEST_F(VgtoolSettings, CheckReportsDroppedRecordsAndIgnoredParameters) {
  const ToolRun r = Check(SettingsWith(
      "[Client\\Web servers\\s1]\nweb server host=bank\nveilgate location=g\ncrypto engine=Emulation/1.0\n"
      "[Client\\Web servers\\s1\\Crypto engine]\nUID=u\nPassWord=p\n"
      "[Client\\Web servers\\s2]\nveilgate location=g\ncrypto engine=Emulation/1.0\n"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Web servers\\s2: record dropped: Элемент \"web server host\" отсутствует в разделе "
                          "\"Client\\Web servers\\s2\""),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("Web servers\\s1: warning: engine \"Emulation/1.0\" has no parameter \"PassWord\""),
            std::string::npos)
      << r.output;

  const ToolRun unknown = Check(SettingsWith(
      "[Client\\Web servers\\s1]\nweb server host=bank\nveilgate location=g\ncrypto engine=Nonexistent\n"));
  EXPECT_EQ(unknown.status, 0) << unknown.output;
  EXPECT_NE(unknown.output.find("does not know the engine type \"Nonexistent\""), std::string::npos) << unknown.output;
  EXPECT_NE(unknown.output.find("ok, 1 protected server(s), 1 warning(s)"), std::string::npos) << unknown.output;
}

TEST_F(VgtoolSettings, CheckWithoutAFileOrWithBadArguments) {
  ToolRun r = Vgtool({"config", "check", dir.File("none.cfg")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("no settings file"), std::string::npos) << r.output;
  r = Vgtool({"config", "check", file, "extra"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("usage: vgtool config"), std::string::npos) << r.output;
  EXPECT_EQ(Vgtool({"config", "frobnicate"}).status, 1);
}

TEST_F(VgtoolSettings, ShowPrintsTheLoadedSettings) {
  std::string text = SettingsWith(
      "[Client\\Web servers\\s1]\nweb server host=www.bank.example\nweb server address=10.0.0.5:8080\n"
      "veilgate location=gate:8443\nreserve location=reserve\ncrypto engine=Emulation/1.0\ncompress mode=0\n"
      "[Client\\Web servers\\s1\\Crypto engine]\nPartner=" + VGT("партнёр") + "\nUID=u1\n");
  text.replace(text.find("Allowed hosts=/////D"), 20,
               "Allowed hosts=" + vg::EncodeBinaryText("\x0a\x00\x00\x01\xc0\xa8\x01\x14", 8));
  vgtest::WriteFile(file, text);
  const ToolRun r = Vgtool({"config", "show", file});
  EXPECT_EQ(r.status, 0) << r.output;
  for (const char* expected :
       {"  Self TCP port: 1030\n", "  Client acces type: 1\n", "  Allowed hosts: 10.0.0.1 192.168.1.20\n",
        "  Log-file name: logs (log files in ", "[Web servers] 1 protected server(s)\n",
        "    addresses: www.bank.example;10.0.0.5:8080\n", "    veilgate location: gate:8443\n",
        "    reserve location: reserve\n", "    crypto engine: Emulation/1.0\n", "    compress mode: 0\n",
        "      Partner = партнёр\n", "      UID = u1\n"})
    EXPECT_NE(r.output.find(expected), std::string::npos) << expected << "\n" << r.output;
}

}  // namespace
