#pragma once
// TCryptoCollections: loads each engine module at most once, on first need, resolves its
// entries into a function table and hands every caller a private copy of that table.
#include <array>
#include <atomic>
#include <mutex>
#include <string>

#include "cipherhub/EngineTable.h"
#include "cipherhub/RootPath.h"
#include "platform/DynLib.h"

namespace vg::cipherhub {

class TCryptoCollections {
 public:
  // `lock` is the library lock: held while a module is looked up, loaded, resolved and its
  // table copied, never while a module function runs. `root` supplies the module search.
  TCryptoCollections(std::recursive_mutex& lock, const TRootPath& root);
  // Unloads every module it loaded, slot by slot, under the library lock.
  ~TCryptoCollections();
  TCryptoCollections(const TCryptoCollections&) = delete;
  TCryptoCollections& operator=(const TCryptoCollections&) = delete;

  // Copies the function table of the module serving typeName into `copy`, loading the module
  // on first use. True exactly when the name is known, the module loads and the copy is
  // complete. A module that could not be loaded is tried again by every later call; an
  // incomplete one stays loaded and is resolved again by every later call.
  bool Lookup(const char* typeName, TEngineFunctionTable& copy);

  // 1 when Lookup finds typeName, else 0 (also for a null or empty name).
  int Status(const char* typeName);

  // Hands the engine object back to its module's DoneEngine; nothing for a null object or an
  // unavailable module.
  void Release(CHEngineObject engineObject, const char* typeName);

  // Loads a module by its system file name: the module search of the root path first, then
  // the directory of this library itself. Returns nullptr when both fail.
  platform::LibraryHandle Load(const std::string& moduleFile) const;

 private:
  std::recursive_mutex& lock_;
  const TRootPath& root_;
  std::array<platform::LibraryHandle, kSlotCount> moduleHandles_{};
  std::array<TEngineFunctionTable, kSlotCount> functionTables_{};
  std::array<bool, kSlotCount> complete_{};  // whether the stored table of a slot is complete
  // Set once a slot's table is complete: from then on it never changes until unload, so callers
  // copy it without the lock and concurrent calls do not queue behind each other.
  std::array<std::atomic<bool>, kSlotCount> published_{};
};

}  // namespace vg::cipherhub
