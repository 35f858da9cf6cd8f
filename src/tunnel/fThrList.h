#pragma once
// The process-wide list of live relay threads, so that unloading can end them all.
#include <mutex>
#include <vector>

namespace vg {

class TServerClientThread;

class TRList {
 public:
  TRList() = default;
  // Ends every listed thread first.
  ~TRList();
  TRList(const TRList&) = delete;
  TRList& operator=(const TRList&) = delete;

  void Add(TServerClientThread* thread);
  void Remove(TServerClientThread* thread);
  int Count();
  // Asks every listed thread to terminate, every 100 ms during the first 100 passes, and waits
  // until the list is empty; threads leave it themselves when they end. The lock is never held
  // while sleeping.
  void TerminateAll();

 private:
  std::mutex mutex_;
  std::vector<TServerClientThread*> threads_;
};

// The list of the running program.
TRList& ThreadList();

}  // namespace vg
