#pragma once
// The process-wide list of live connection threads: unloading ends them all through it, and the
// listener waits on it for the last one before it goes away.
#include <condition_variable>
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
  // A thread removes itself before its object is freed, so listed pointers are always alive.
  void Remove(TServerClientThread* thread);
  int Count();
  // Asks every listed thread to terminate, every 100 ms during the first 100 passes, and waits
  // until the list is empty; threads leave it themselves when they end.
  void TerminateAll();
  // True when the list became empty within timeoutMs (negative: no limit).
  bool WaitEmpty(int timeoutMs = -1);

 private:
  std::mutex mutex_;
  std::condition_variable empty_;
  std::vector<TServerClientThread*> threads_;
};

// The list of the running program.
TRList& ThreadList();

}  // namespace vg
