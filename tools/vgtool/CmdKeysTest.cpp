// vgtool keys-test: the keys test of a protected server, or of an engine type with given
// parameters, without a desktop. Prints the report; exit status 1 when the test found errors.
#include <iostream>
#include <string>

#include "Command.h"
#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/SysUtils.h"
#include "protection/CipherhubLib.h"
#include "protection/HeadlessPrompts.h"
#include "protection/KeysTest.h"
#include "protection/ProtSrvr.h"
#include "protection/fcrypt.h"
#include "settings/Cfg_Clnt.h"

namespace {

std::string Utf8(const std::string& cp1251) { return vg::platform::Cp1251ToUtf8(cp1251); }

// The terminal as the test's face: message boxes on standard error, nothing else shown while
// the test runs (the report says it all at the end).
class TTerminalView : public vg::IKeysTestView {
 public:
  void Status(const std::string&, int) override {}
  void StatusStep(const std::string&) override {}
  void ProgressRange(int) override {}
  void ErrorCount(int) override {}
  void Busy(bool) override {}
  void Message(const std::string& text) override { std::cerr << "vgtool: " << Utf8(text) << "\n"; }
  void BreakEnabled(bool) override {}
  bool BreakRequested() override { return false; }
  void ProcessEvents() override {}
};

struct Options {
  std::string config, server, engine, report;
  std::vector<std::pair<std::string, std::string>> params;
  bool extended = false;
};

Options Parse(const vgtool::Args& args) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw vgtool::UsageError{a + " needs a value"};
      return args[++i];
    };
    if (a == "--config") o.config = value();
    else if (a == "--server") o.server = value();
    else if (a == "--engine") o.engine = value();
    else if (a == "--report") o.report = value();
    else if (a == "--extended") o.extended = true;
    else if (a == "--param") {
      const std::string p = value();
      const size_t eq = p.find('=');
      if (eq == std::string::npos || eq == 0) throw vgtool::UsageError{"--param takes NAME=VALUE, not \"" + p + "\""};
      o.params.emplace_back(p.substr(0, eq), p.substr(eq + 1));
    } else {
      throw vgtool::UsageError{"unknown argument \"" + a + "\""};
    }
  }
  if (o.engine.empty() == o.server.empty()) throw vgtool::UsageError{"give either --server NAME or --engine TYPE"};
  if (!o.server.empty() && !o.params.empty()) throw vgtool::UsageError{"--param goes with --engine only"};
  return o;
}

int Run(const vgtool::Args& args) {
  const Options o = Parse(args);
  vg::TCryptoParams params;
  std::string logDirectory;
  const vg::platform::SettingsPlace place = vg::ProgramSettingsPlace(o.config, false);
  vg::TQSClientConfig config;
  vg::UseSettingsPlace(config, place);
  const std::string& configFile = place.File;
  std::string loadError;
  try {
    // Records that fail to load are left out; the others stay usable.
    config.Load();
    logDirectory = config.LogDirectoryPath();
  } catch (const vg::Exception& e) {
    loadError = e.Message();
  }

  if (!o.server.empty()) {
    if (!loadError.empty()) {
      std::cerr << "vgtool: " << configFile << ": " << Utf8(loadError) << "\n";
      return 1;
    }
    const vg::TProtectedServer* server = config.FindServerByAddress(vg::platform::Utf8ToCp1251(o.server));
    if (server == nullptr) {
      std::cerr << "vgtool: " << configFile << " has no protected server \"" << o.server << "\"\n";
      return 1;
    }
    params.Assign(server->CryptoParams());
  } else {
    params.SetEngineType(vg::platform::Utf8ToCp1251(o.engine));
    if (!o.params.empty()) {
      vg::TCryptoParamsEditorLink link;
      link.SetEngineType(params.EngineType());
      if (link.EngineType() != params.EngineType()) {
        std::cerr << "vgtool: the engine type \"" << o.engine
                  << "\" cannot be opened, so its parameter names are unknown\n";
        return 1;
      }
      for (const auto& [name, value] : o.params) {
        const int index = link.IndexOfParam(vg::platform::Utf8ToCp1251(name));
        if (index < 0) {
          std::cerr << "vgtool: the engine type \"" << o.engine << "\" has no parameter \"" << name << "\"\n";
          return 1;
        }
        params.AddParam(index, vg::platform::Utf8ToCp1251(value));
      }
    }
  }

  const std::string report = o.report.empty() ? vg::TKeysTest::DefaultReportPath(logDirectory) : o.report;
  vg::InstallHeadlessPrompts();
  TTerminalView view;
  int errors;
  {
    vg::TKeysTest test(view);
    test.SetEndingPause([] {});
    errors = test.Run(params, report, o.extended);
  }
  vg::chlib::Unbind();
  std::string text;
  if (vg::platform::ReadWholeFile(report, text) == 0) {
    // The file keeps its CR LF line ends; the terminal gets plain ones.
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i)
      if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain += text[i];
    text.swap(plain);
    std::cout << Utf8(text);
  }
  std::cout.flush();
  std::cerr << "report: " << report << "\n"
            << "errors: " << errors << "\n";
  return errors > 0 ? 1 : 0;
}

vgtool::Registration registration(
    "keys-test",
    "keys-test [--config FILE] --server HOST [--extended] [--report FILE]\n"
    "       vgtool keys-test --engine TYPE [--param NAME=VALUE]... [--extended] [--report FILE]\n"
    "         (checks the keys of a protected server, or of an engine type with the parameters given;\n"
    "          HOST is an address of the protected server as the browser uses it; the report goes beside\n"
    "          the logs unless --report names it; exit 1 when the test found errors)",
    Run);

}  // namespace
