// vgtool config check|show: loads a settings file the way the tunnel does and reports on it.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Command.h"
#include "config/Cfg_Ini.h"
#include "platform/CodePage.h"
#include "protection/fcrypt.h"
#include "settings/Cfg_Clnt.h"

namespace {

using vg::TConfigStorage;

std::string Utf8(const std::string& cp1251) { return vg::platform::Cp1251ToUtf8(cp1251); }

// A read-only view of a settings section that records every error of a required read and
// answers it with an empty value, so that one pass finds all missing or malformed items rather
// than only the first. The protected-server subsections are handed out unwrapped: their
// records must fail the way the tunnel sees them fail.
class TCollectingStorage : public TConfigStorage {
 public:
  TCollectingStorage(std::unique_ptr<TConfigStorage> inner, std::vector<std::string>& problems, bool root)
      : inner_(std::move(inner)), problems_(problems), root_(root) {}

  std::unique_ptr<TConfigStorage> OpenSection(const std::string& name, bool readOnly, bool create) override {
    std::unique_ptr<TConfigStorage> child;
    if (inner_) {
      try {
        child = inner_->OpenSection(name, readOnly, create);
      } catch (const vg::EConfigException& e) {
        problems_.push_back(e.Message());
      }
    }
    if (child && root_ && name == "Web servers") return child;
    // A missing section stands empty; its items are not reported one by one.
    return std::make_unique<TCollectingStorage>(std::move(child), problems_, false);
  }
  void ListSections(std::vector<std::string>& list) override {
    list.clear();
    if (inner_) Collect([&] { inner_->ListSections(list); });
  }
  void ListItems(std::vector<std::string>& list) override {
    list.clear();
    if (inner_) Collect([&] { inner_->ListItems(list); });
  }
  void DeleteSection(const std::string&, bool) override { Refuse(); }
  void DeleteItem(const std::string&) override { Refuse(); }
  vg::TItemKinds ItemKinds(const std::string& name) override {
    return Read<vg::TItemKinds>([&] { return inner_->ItemKinds(name); });
  }
  int32_t ReadInteger(const std::string& name) override {
    return Read<int32_t>([&] { return inner_->ReadInteger(name); });
  }
  std::string ReadString(const std::string& name) override {
    return Read<std::string>([&] { return inner_->ReadString(name); });
  }
  bool ReadBool(const std::string& name) override {
    return Read<bool>([&] { return inner_->ReadBool(name); });
  }
  size_t BinarySize(const std::string& name) override {
    return Read<size_t>([&] { return inner_->BinarySize(name); });
  }
  size_t ReadBinary(const std::string& name, void* buffer, size_t size) override {
    return Read<size_t>([&] { return inner_->ReadBinary(name, buffer, size); });
  }
  int32_t ReadIntegerDef(const std::string& name, int32_t def) override {
    return inner_ ? inner_->ReadIntegerDef(name, def) : def;
  }
  std::string ReadStringDef(const std::string& name, const std::string& def) override {
    return inner_ ? inner_->ReadStringDef(name, def) : def;
  }
  bool ReadBoolDef(const std::string& name, bool def) override { return inner_ ? inner_->ReadBoolDef(name, def) : def; }
  void WriteInteger(const std::string&, int32_t) override { Refuse(); }
  void WriteString(const std::string&, const std::string&) override { Refuse(); }
  void WriteBool(const std::string&, bool) override { Refuse(); }
  void WriteBinary(const std::string&, const void*, size_t) override { Refuse(); }

 private:
  template <class T, class F>
  T Read(F&& read) {
    if (!inner_) return T{};
    try {
      return read();
    } catch (const vg::EConfigException& e) {
      problems_.push_back(e.Message());
      return T{};
    }
  }
  template <class F>
  void Collect(F&& call) {
    try {
      call();
    } catch (const vg::EConfigException& e) {
      problems_.push_back(e.Message());
    }
  }
  [[noreturn]] static void Refuse() { throw vg::EConfigException("the settings check does not write"); }

  std::unique_ptr<TConfigStorage> inner_;
  std::vector<std::string>& problems_;
  bool root_;
};

// The settings file named on the command line, else the one the tunnel would use (the
// installed default while a new user has no copy of it yet).
vg::platform::SettingsPlace FileArgument(const vgtool::Args& args) {
  if (args.size() > 1) throw vgtool::UsageError{"expected at most one settings file"};
  vg::platform::SettingsPlace place = vg::ProgramSettingsPlace(args.empty() ? std::string() : args[0], false);
  std::error_code ec;
  if (place.PerUser && !std::filesystem::exists(place.File, ec)) place.File = place.Installed;
  if (!std::filesystem::is_regular_file(place.File, ec))
    throw vg::Exception("no settings file \"" + vg::platform::Utf8ToCp1251(place.File) + "\"");
  return place;
}

void PrintNotes(const vg::TQSConfig& config) {
  for (const vg::TConfigNote& note : config.Notes())
    std::cout << "Web servers\\" << Utf8(note.Section) << ": record dropped: " << Utf8(note.Text) << "\n";
}

// The subsection names of the records that were loaded, in the order of the loaded records.
std::vector<std::string> LoadedRecordNames(const std::string& file, const vg::TQSConfig& config) {
  std::vector<std::string> names, loaded;
  vg::OpenIniStorage(file, "Client", true, false)->OpenSection("Web servers", true, false)->ListSections(names);
  for (const std::string& name : names) {
    bool dropped = false;
    for (const vg::TConfigNote& note : config.Notes()) dropped = dropped || note.Section == name;
    if (!dropped) loaded.push_back(name);
  }
  return loaded;
}

// Things that do not fail a load but that the user most likely did not mean: an engine type
// the crypto library does not know, and parameter names the engine does not have (the tunnel
// ignores both silently).
int PrintWarnings(const std::string& file, const vg::TQSClientConfig& config) {
  const std::vector<std::string> names = LoadedRecordNames(file, config);
  if (static_cast<int>(names.size()) != config.ServerCount()) return 0;
  int count = 0;
  auto web = vg::OpenIniStorage(file, "Client", true, false)->OpenSection("Web servers", true, false);
  for (int i = 0; i < config.ServerCount(); ++i) {
    const std::string& engine = config.GetServer(i)->CryptoParams().EngineType();
    auto record = web->OpenSection(names[static_cast<size_t>(i)], true, false);
    std::vector<std::string> items;
    if (record->SectionExists("Crypto engine")) record->OpenSection("Crypto engine", true, false)->ListItems(items);
    vg::TCryptoParamsEditorLink link;
    try {
      link.SetEngineType(engine);
    } catch (const vg::Exception& e) {
      std::cout << "Web servers\\" << Utf8(names[static_cast<size_t>(i)]) << ": warning: " << Utf8(e.Message()) << "\n";
      ++count;
      continue;
    }
    const std::string where = "Web servers\\" + Utf8(names[static_cast<size_t>(i)]);
    if (!link.Handle()) {
      std::cout << where << ": warning: the crypto library does not know the engine type \"" << Utf8(engine)
                << "\"\n";
      ++count;
      continue;
    }
    for (const std::string& item : items) {
      if (link.IndexOfParam(item) >= 0) continue;
      std::cout << where << ": warning: engine \"" << Utf8(engine) << "\" has no parameter \"" << Utf8(item)
                << "\" (letter case counts); the value is ignored\n";
      ++count;
    }
  }
  return count;
}

int Check(const vgtool::Args& args) {
  const vg::platform::SettingsPlace place = FileArgument(args);
  const std::string& file = place.File;
  vg::TQSClientConfig config;
  vg::UseSettingsPlace(config, place);
  bool loaded = false;
  std::string raised;
  try {
    loaded = config.Load();
  } catch (const vg::Exception& e) {
    raised = e.Message();
  }

  if (!raised.empty()) {
    // The tunnel would stop at this first error; look on for the rest.
    std::vector<std::string> problems;
    vg::TQSClientConfig probe(file);
    TCollectingStorage root(vg::OpenIniStorage(file, "Client", true, false), problems, true);
    try {
      probe.LoadFrom(root);
    } catch (const vg::Exception& e) {
      problems.push_back(e.Message());
    }
    bool listed = false;
    for (const std::string& p : problems) listed = listed || p == raised;
    if (!listed) problems.insert(problems.begin(), raised);
    for (const std::string& p : problems) std::cout << Utf8(p) << "\n";
    PrintNotes(probe);
    std::cout << file << ": the tunnel cannot load these settings\n";
    return 1;
  }

  PrintNotes(config);
  const int warnings = PrintWarnings(file, config);
  if (!loaded) {
    std::cout << file << ": " << config.Notes().size() << " problem(s); the tunnel drops the records named above\n";
    return 1;
  }
  std::cout << file << ": ok, " << config.ServerCount() << " protected server(s)";
  if (warnings > 0) std::cout << ", " << warnings << " warning(s)";
  std::cout << "\n";
  return 0;
}

std::string Dotted(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address & 0xFF, (address >> 8) & 0xFF, (address >> 16) & 0xFF,
                address >> 24);
  return text;
}

std::string Location(const vg::THttpEntry& entry) {
  return entry.Host().empty() ? std::string("(none)") : Utf8(entry.AsText());
}

void ShowServer(int number, const vg::TProtectedServer& server) {
  std::cout << "  server " << number << "\n";
  std::cout << "    addresses: " << (server.AddressCount() ? Utf8(server.AddressesText()) : "(none)") << "\n";
  std::cout << "    veilgate location: " << Location(server.VeilgateLocation()) << "\n";
  std::cout << "    reserve location: " << Location(server.ReserveLocation()) << "\n";
  std::cout << "    crypto engine: " << Utf8(server.CryptoParams().EngineType()) << "\n";
  std::cout << "    compress mode: " << int(server.CompressMode()) << "\n";
  std::cout << "    Include: " << server.Include() << ", Withdraw: " << server.Withdraw()
            << ", Scan root path: " << Utf8(server.ScanRootPath()) << "\n";
  const vg::TCryptoParams& params = server.CryptoParams();
  if (params.Count() == 0) {
    std::cout << "    engine parameters: (none)\n";
    return;
  }
  std::cout << "    engine parameters:\n";
  vg::TCryptoParamsEditorLink link;
  try {
    link.SetEngineType(params.EngineType());
  } catch (const vg::Exception&) {
    // Without the library the parameters are shown by number.
  }
  for (int i = 0; i < params.Count(); ++i) {
    std::string name;
    if (!link.ParamName(params.ParamIndex(i), name)) name = "#" + std::to_string(params.ParamIndex(i) + 1);
    std::cout << "      " << Utf8(name) << " = " << Utf8(params.ParamValue(i)) << "\n";
  }
}

int Show(const vgtool::Args& args) {
  const vg::platform::SettingsPlace place = FileArgument(args);
  const std::string& file = place.File;
  vg::TQSClientConfig config;
  vg::UseSettingsPlace(config, place);
  const bool loaded = config.Load();
  std::cout << "settings file: " << file
            << (!args.empty()             ? ""
                : !place.PerUser          ? " (beside the programs)"
                : file == place.Installed ? " (the installed default: no per-user copy yet)"
                                          : " (per-user)")
            << "\n";
  std::cout << "[Log options]\n";
  std::cout << "  Error trace mode: " << config.ErrorTraceMode() << "\n";
  std::cout << "  Log-file name: " << Utf8(config.LogDirectory()) << " (log files in " << config.LogDirectoryPath()
            << ")\n";
  std::cout << "  Log interval: " << config.LogInterval() << "\n";
  char flags[16];
  std::snprintf(flags, sizeof flags, "0x%X", config.LogFlags());
  std::cout << "  Log flags: " << config.LogFlags() << " (" << flags << ")\n";
  std::cout << "[TCP options]\n";
  std::cout << "  Max HTTP data length: " << config.MaxHttpDataLength() << "\n";
  std::cout << "  Proxy ORPC: " << config.ProxyORPC() << "\n";
  std::cout << "  Self TCP port: " << config.SelfTcpPort() << "\n";
  std::cout << "  Proxy enable: " << config.ProxyEnabled() << "\n";
  std::cout << "  Bypass proxy for local addresses: " << config.BypassProxyForLocal() << "\n";
  std::cout << "  Proxy host: " << Utf8(config.ProxyHost()) << "\n";
  std::cout << "  Proxy port: " << config.ProxyPort() << "\n";
  std::cout << "  Client acces type: " << int(config.ClientAccessType()) << "\n";
  std::cout << "  Allowed hosts:";
  if (config.AllowedHosts().empty()) std::cout << " (none)";
  for (uint32_t address : config.AllowedHosts()) std::cout << " " << Dotted(address);
  std::cout << "\n";
  std::cout << "[Web servers] " << config.ServerCount() << " protected server(s)\n";
  for (int i = 0; i < config.ServerCount(); ++i) ShowServer(i + 1, *config.GetServer(i));
  PrintNotes(config);
  return loaded ? 0 : 1;
}

vgtool::Registration registration(
    "config",
    "config check [FILE] | show [FILE]\n"
    "         (FILE defaults to the one vgproxy uses; exit 1 when the tunnel would not load it cleanly)",
    [](const vgtool::Args& args) {
      if (args.empty()) throw vgtool::UsageError{"expected check or show"};
      const vgtool::Args rest(args.begin() + 1, args.end());
      if (args[0] == "check") return Check(rest);
      if (args[0] == "show") return Show(rest);
      throw vgtool::UsageError{"unknown action \"" + args[0] + "\""};
    });

}  // namespace
