#include "cipherhub/CryptoCollections.h"

#include "platform/ProgramInfo.h"

namespace vg::cipherhub {

namespace {

// Any address inside this library, to ask the system which file the library was loaded from.
void OwnAddressMarker() {}

std::string FileNamePart(const std::string& path) {
  const auto slash = path.rfind(platform::kPathSeparator);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

TCryptoCollections::TCryptoCollections(std::recursive_mutex& lock, const TRootPath& root)
    : lock_(lock), root_(root) {}

TCryptoCollections::~TCryptoCollections() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  for (auto& handle : moduleHandles_) {
    platform::FreeLibraryFile(handle);
    handle = nullptr;
  }
  complete_.fill(false);
  for (auto& p : published_) p.store(false, std::memory_order_relaxed);
}

bool TCryptoCollections::Lookup(const char* typeName, TEngineFunctionTable& copy) {
  const TEngineTypeRow* row = FindEngineType(typeName);
  if (!row) return false;
  const size_t slot = static_cast<size_t>(row->Slot - 1);
  if (published_[slot].load(std::memory_order_acquire)) {
    copy = functionTables_[slot];
    return true;
  }
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    platform::LibraryHandle& handle = moduleHandles_[slot];
    if (!handle) handle = Load(row->ModuleFile);
    if (!handle) return false;
    TEngineFunctionTable& stored = functionTables_[slot];
    if (!complete_[slot]) {
      for (size_t i = 0; i < stored.Entries.size(); ++i)
        stored.Entries[i] = platform::LibrarySymbol(handle, kEntries[i].Name);
      complete_[slot] = stored.Complete();
      if (complete_[slot]) published_[slot].store(true, std::memory_order_release);
    }
    copy = stored;
    // The copy is the stored table, so its completeness is the slot's.
    return complete_[slot];
  }
}

int TCryptoCollections::Status(const char* typeName) {
  TEngineFunctionTable copy;
  return Lookup(typeName, copy) ? 1 : 0;
}

void TCryptoCollections::Release(CHEngineObject engineObject, const char* typeName) {
  if (!engineObject) return;
  TEngineFunctionTable copy;
  if (!Lookup(typeName, copy)) return;
  Entry<kDoneEngine>(copy)(engineObject);
}

platform::LibraryHandle TCryptoCollections::Load(const std::string& moduleFile) const {
  const std::string fileName = platform::ModuleFileName(moduleFile);
  if (platform::LibraryHandle handle = platform::LoadLibraryFile(root_.ResolveModulePath(fileName))) return handle;
  const std::string ownPath = platform::LibraryPathOf(reinterpret_cast<const void*>(&OwnAddressMarker));
  const auto slash = ownPath.rfind(platform::kPathSeparator);
  if (slash == std::string::npos) return nullptr;
  return platform::LoadLibraryFile(ownPath.substr(0, slash + 1) + FileNamePart(fileName));
}

}  // namespace vg::cipherhub
