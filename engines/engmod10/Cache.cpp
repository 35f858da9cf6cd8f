#include "Cache.h"

#include <openssl/crypto.h>

namespace engmod10 {

ModuleCache& ModuleCache::Instance() {
  static ModuleCache cache;
  return cache;
}

ModuleCache::ModuleCache() {
  // libcrypto's own exit handler must run after this cache has released its objects.
  OPENSSL_init_crypto(0, nullptr);
}

std::optional<ModuleCache::Stamp> ModuleCache::StampOf(const std::string& path) {
  std::error_code ec;
  Stamp s;
  s.time = std::filesystem::last_write_time(path, ec);
  if (ec) return std::nullopt;
  if (std::filesystem::is_regular_file(path, ec)) s.size = std::filesystem::file_size(path, ec);
  if (ec) return std::nullopt;
  return s;
}

std::shared_ptr<const std::vector<CertPtr>> ModuleCache::CertificateFile(const std::string& path) {
  const auto stamp = StampOf(path);
  if (!stamp) throw EngineError(kFileError, path + ": the file does not exist or cannot be read");
  {
    std::lock_guard lock(mutex_);
    auto it = certs_.find(path);
    if (it != certs_.end() && it->second.stamp == *stamp) return it->second.certs;
  }
  auto certs = std::make_shared<const std::vector<CertPtr>>(ReadCertificateFile(path));
  std::lock_guard lock(mutex_);
  certs_[path] = CertEntry{*stamp, certs};
  return certs;
}

TrustPtr ModuleCache::Trust(const std::string& path) {
  const auto stamp = StampOf(path);
  if (!stamp) throw EngineError(kFileError, path + ": the file does not exist or cannot be read");
  {
    std::lock_guard lock(mutex_);
    auto it = trust_.find(path);
    if (it != trust_.end() && it->second.stamp == *stamp) return it->second.trust;
  }
  TrustPtr trust = ReadTrustStore(path);
  std::lock_guard lock(mutex_);
  trust_[path] = TrustEntry{*stamp, trust};
  return trust;
}

SubscribersPtr ModuleCache::Subscribers(const std::string& dir, const TrustPtr& trust, bool rescan) {
  const auto stamp = StampOf(dir);
  if (!stamp) throw EngineError(kSubscribersError, dir + ": the directory does not exist or cannot be read");
  if (!rescan) {
    std::lock_guard lock(mutex_);
    auto it = subscribers_.find(dir);
    if (it != subscribers_.end() && it->second.stamp == *stamp && it->second.trust == trust) return it->second.set;
  }
  SubscribersPtr set =
      ReadSubscribers(dir, trust, [this](const std::string& file) { return *CertificateFile(file); });
  std::lock_guard lock(mutex_);
  subscribers_[dir] = SubscribersEntry{*stamp, trust, set};
  return set;
}

SharedKey ModuleCache::PrivateKey(const std::string& path, const std::function<SharedKey()>& load) {
  const auto stamp = StampOf(path);
  if (!stamp) throw EngineError(kFileError, path + ": the file does not exist or cannot be read");
  const uint64_t generation = Generation();
  std::unique_lock lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + kPromptWait;
  for (;;) {
    auto it = keys_.find(path);
    if (it != keys_.end() && it->second.stamp == *stamp) return it->second.key;
    auto loading = keysLoading_.find(path);
    if (loading == keysLoading_.end() || loading->second == 0) break;
    if (keyLoaded_.wait_until(lock, deadline) == std::cv_status::timeout) break;
  }
  ++keysLoading_[path];
  lock.unlock();
  SharedKey key;
  try {
    key = load();
  } catch (...) {
    lock.lock();
    --keysLoading_[path];
    keyLoaded_.notify_all();
    throw;
  }
  lock.lock();
  --keysLoading_[path];
  // A key unlocked while the cache was being cleared is used for this call but not kept.
  if (generation == Generation()) keys_[path] = KeyEntry{*stamp, key};
  keyLoaded_.notify_all();
  return key;
}

void ModuleCache::Learn(const std::string& caFile, const Peer& peer) {
  std::lock_guard lock(mutex_);
  auto& peers = learned_[caFile];
  if (peers.size() >= kLearnedLimit && peers.find(peer.cert->uid) == peers.end()) peers.clear();
  peers.insert_or_assign(peer.cert->uid, peer);
}

std::optional<Peer> ModuleCache::Learned(const std::string& caFile, const std::string& uid) {
  std::lock_guard lock(mutex_);
  auto ca = learned_.find(caFile);
  if (ca == learned_.end()) return std::nullopt;
  auto it = ca->second.find(uid);
  if (it == ca->second.end()) return std::nullopt;
  return it->second;
}

void ModuleCache::Clear() {
  std::lock_guard lock(mutex_);
  certs_.clear();
  trust_.clear();
  subscribers_.clear();
  keys_.clear();
  learned_.clear();
  generation_.fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace engmod10
