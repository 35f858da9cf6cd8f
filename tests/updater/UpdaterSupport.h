#pragma once
// A temporary installation, update package and medium for the updater's tests, with the
// registry store and the desktop's instance channels kept inside the test's directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "support/RelaySupport.h"
#include "tunnel/ReleaseMark.h"
#include "updater/MainUn.h"

namespace updtest {

using relaytest::ReadFileText;
using relaytest::WriteFileText;

// The view's record of a run, texts in UTF-8.
struct Shown {
  std::string caption, text;
  vg::TUpdateMessageKind kind;
};

class RecordingView : public vg::IUpdateView {
 public:
  void SetStatus(const std::string& text) override {
    statuses.push_back(vg::platform::Cp1251ToUtf8(text));
    if (onStatus) onStatus(statuses.back());
  }
  void SetProgress(int position) override { progress = position; }
  void ShowMessage(const std::string& caption, const std::string& text, vg::TUpdateMessageKind kind) override {
    messages.push_back({vg::platform::Cp1251ToUtf8(caption), vg::platform::Cp1251ToUtf8(text), kind});
  }
  std::optional<std::string> ChooseFolder(vg::TFolderQuestion question, const std::string&) override {
    const std::string& answer = question == vg::TFolderQuestion::InstallDir ? installAnswer : mediumAnswer;
    if (answer.empty()) return std::nullopt;
    return answer;
  }
  bool SawStatus(const std::string& prefix) const {
    for (const auto& s : statuses)
      if (s.rfind(prefix, 0) == 0) return true;
    return false;
  }
  std::string MessageTexts() const {
    std::string all;
    for (const auto& m : messages) all += m.caption + ": " + m.text + "\n";
    return all;
  }

  std::vector<std::string> statuses;
  std::vector<Shown> messages;
  int progress = 0;
  std::string installAnswer, mediumAnswer;
  std::function<void(const std::string&)> onStatus;
};

// Contents of a synthetic tunnel executable: filler, then the release marker across the first
// 512-byte block boundary, then more filler.
inline std::string SyntheticTunnel(uint32_t version, const std::string& tag = "old") {
  std::string bytes(500, 'x');
  const auto marker = vg::MakeReleaseMarker(version);
  bytes.append(marker.begin(), marker.end());
  return bytes + std::string(300, 'y') + tag;
}

// The oldest releases' marker: length byte 11, the product name, 16 bytes, the digit last.
inline std::string OldSyntheticTunnel(char digit) {
  std::string bytes(505, 'z');
  bytes += '\x0b';
  bytes += "QS-Veilgate";
  bytes += std::string(15, '\x01');
  bytes += digit;
  return bytes + std::string(100, 'z');
}

class UpdaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"inst", "pkg", "medium", "reg", "run", "tmp"})
      std::filesystem::create_directories(root_.File(d));
    ::chmod(root_.File("run").c_str(), 0700);
    ::setenv("VG_REGISTRY_DIR", root_.File("reg").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", root_.File("run").c_str(), 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("VG_TEST_OCX_LOG", root_.File("ocx.log").c_str(), 1);
    view_.installAnswer = Inst();
  }

  std::string Inst(const std::string& name = {}) const { return Join("inst", name); }
  std::string Pkg(const std::string& name = {}) const { return Join("pkg", name); }
  std::string Medium(const std::string& name = {}) const { return Join("medium", name); }
  std::string Root(const std::string& name) const { return root_.File(name); }

  vg::TUpdateOptions Options(bool noMedium = true) const {
    vg::TUpdateOptions o;
    o.packageDir = Pkg();
    o.updaterName = "vgupdate";
    o.noMediumUpdate = noMedium;
    o.tunnelHeadless = true;
    o.quitWait = std::chrono::milliseconds(500);
    o.busyWait = std::chrono::milliseconds(500);
    o.removableDrives = [] { return std::vector<std::string>{}; };
    o.tempBase = root_.File("tmp");
    return o;
  }

  vg::TUpdateResult Run(const vg::TUpdateOptions& options) {
    vg::TUpdateProcedure procedure(view_, options);
    const vg::TUpdateResult result = procedure.Run();
    backupKept_ = procedure.BackupKept();
    if (procedure.StartedTunnelPid() > 0) startedTunnel_ = procedure.StartedTunnelPid();
    return result;
  }

  std::string OcxLog() const { return ReadFileText(root_.File("ocx.log")); }

  relaytest::TempDir root_;
  RecordingView view_;
  bool backupKept_ = false;
  int startedTunnel_ = -1;

 private:
  std::string Join(const std::string& dir, const std::string& name) const {
    return name.empty() ? root_.File(dir) : root_.File(dir) + "/" + name;
  }
};

}  // namespace updtest
