#pragma once
// Test-side access to the scripted stand-in library: points the binding at one of its builds
// and reaches the knobs and the call log through the library's control entries.
#include <stdexcept>
#include <string>

#include "EngineReports.h"
#include "platform/DynLib.h"
#include "platform/ProgramInfo.h"
#include "protection/CipherhubLib.h"
#include "protection/fcrypt.h"

namespace enginetest {

inline std::string FakeLibrary(const std::string& variant) {
  return vg::platform::JoinPath(ENGINE_FAKE_DIR, vg::platform::ModuleFileName(variant + ".dll"));
}

class FakeHub {
 public:
  explicit FakeHub(const std::string& variant) {
    const std::string path = FakeLibrary(variant);
    vg::chlib::OverrideLibraryCandidates({path});
    library_ = vg::platform::LoadLibraryFile(path);
    if (!library_) throw std::runtime_error("cannot load " + path + ": " + vg::platform::LastLibraryError());
    reset_ = Entry<void (*)()>("FakeHub_Reset");
    log_ = Entry<const char* (*)()>("FakeHub_Log");
    clearLog_ = Entry<void (*)()>("FakeHub_ClearLog");
    setNumber_ = Entry<void (*)(const char*, int)>("FakeHub_SetNumber");
    setText_ = Entry<void (*)(const char*, const char*)>("FakeHub_SetText");
    reset_();
  }
  ~FakeHub() { vg::platform::FreeLibraryFile(library_); }
  FakeHub(const FakeHub&) = delete;
  FakeHub& operator=(const FakeHub&) = delete;

  // The calls since the last look, and the log cleared.
  std::string TakeLog() {
    std::string log = log_();
    clearLog_();
    return log;
  }
  void Set(const char* knob, int value) { setNumber_(knob, value); }
  void SetText(const char* knob, const char* value) { setText_(knob, value); }

 private:
  template <typename Fn>
  Fn Entry(const char* name) {
    void* entry = vg::platform::LibrarySymbol(library_, name);
    if (!entry) throw std::runtime_error(std::string("fake library lacks ") + name);
    return reinterpret_cast<Fn>(entry);
  }
  vg::platform::LibraryHandle library_ = nullptr;
  void (*reset_)() = nullptr;
  const char* (*log_)() = nullptr;
  void (*clearLog_)() = nullptr;
  void (*setNumber_)(const char*, int) = nullptr;
  void (*setText_)(const char*, const char*) = nullptr;
};

}  // namespace enginetest
