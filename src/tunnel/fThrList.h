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

  // A thread is added before it runs. When it ends it is removed before its object is freed (so
  // listed pointers are always alive) and reports Finished() after, so that nobody waiting on the
  // list goes on while the object is still being torn down.
  void Add(TServerClientThread* thread);
  void Remove(TServerClientThread* thread);
  void Finished();
  int Count();
  // Asks every listed thread to terminate, every 100 ms during the first 100 passes, and waits
  // until every thread has finished.
  void TerminateAll();
  // True when every thread finished within timeoutMs (negative: no limit).
  bool WaitEmpty(int timeoutMs = -1);

 private:
  std::mutex mutex_;
  std::condition_variable empty_;
  std::vector<TServerClientThread*> threads_;
  int running_ = 0;  // added and not yet finished
};

// The list of the running program.
TRList& ThreadList();

}  // namespace vg
