#pragma once
// What every engine object of the process shares: parsed files, unlocked keys and the peers
// learned from verified signatures. A new engine object per connection therefore costs a few
// file-status checks, not a re-read, and the key password is asked once.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Certificates.h"

namespace engmod10 {

class ModuleCache {
 public:
  static ModuleCache& Instance();

  // The certificates of a file, parsed again only when its time stamp or size changed.
  std::shared_ptr<const std::vector<CertPtr>> CertificateFile(const std::string& path);

  // The CA store of a file, rebuilt when the file changed.
  TrustPtr Trust(const std::string& path);

  // The peers of a directory checked against trust (may be null); scanned again when the
  // directory changed, the trust store is another one, or rescan is set.
  SubscribersPtr Subscribers(const std::string& dir, const TrustPtr& trust, bool rescan);

  // The unlocked key of a file: the cached one while the file is unchanged, else load()'s.
  // While another thread is loading (asking the password) the caller waits up to kPromptWait for
  // it; the prompt may need the caller's own thread, so the wait never lasts for ever.
  SharedKey PrivateKey(const std::string& path, const std::function<SharedKey()>& load);

  // Peers whose signatures verified against the CA file, so that answers can be encrypted to them.
  void Learn(const std::string& caFile, const Peer& peer);
  std::optional<Peer> Learned(const std::string& caFile, const std::string& uid);

  // Forgets everything; engine objects notice through Generation().
  void Clear();
  uint64_t Generation() const { return generation_.load(std::memory_order_acquire); }

  static constexpr std::chrono::milliseconds kPromptWait{30000};
  // Remembered signers per CA; the set starts afresh when it is full.
  static constexpr size_t kLearnedLimit = 1024;

 private:
  ModuleCache();

  struct Stamp {
    std::filesystem::file_time_type time{};
    std::uintmax_t size = 0;
    bool operator==(const Stamp&) const = default;
  };
  static std::optional<Stamp> StampOf(const std::string& path);

  struct CertEntry {
    Stamp stamp;
    std::shared_ptr<const std::vector<CertPtr>> certs;
  };
  struct TrustEntry {
    Stamp stamp;
    TrustPtr trust;
  };
  struct SubscribersEntry {
    Stamp stamp;
    TrustPtr trust;
    SubscribersPtr set;
  };
  struct KeyEntry {
    Stamp stamp;
    SharedKey key;
  };

  std::mutex mutex_;
  std::condition_variable keyLoaded_;
  std::map<std::string, CertEntry> certs_;
  std::map<std::string, TrustEntry> trust_;
  std::map<std::string, SubscribersEntry> subscribers_;
  std::map<std::string, KeyEntry> keys_;
  std::map<std::string, int> keysLoading_;
  std::map<std::string, std::map<std::string, Peer>> learned_;
  std::atomic<uint64_t> generation_{1};
};

}  // namespace engmod10
