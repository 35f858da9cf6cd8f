#pragma once
// The process-wide list of live connection threads: unloading ends them all through it, and the
// listener waits on it for the last one before it goes away.
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
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

  // A thread is added, with the system thread that runs it, before it runs. When it ends it is
  // removed before its object is freed (so listed pointers are always alive) and reports
  // Finished() after, so that nobody waiting on the list goes on while the object is still being
  // torn down. Its system thread is joined later (by the next Add, or once the list is empty),
  // so that the thread's own clean-up (thread-local state of the libraries it called) is over
  // before a waiter goes on: a program that ends after TerminateAll leaves nothing half-freed.
  void Add(TServerClientThread* thread, std::thread runner);
  void Remove(TServerClientThread* thread);
  void Finished();
  int Count();
  // Asks every listed thread to terminate, every 100 ms during the first 100 passes, and waits
  // until every thread has finished.
  void TerminateAll();
  // True when every thread finished within timeoutMs (negative: no limit).
  bool WaitEmpty(int timeoutMs = -1);

 private:
  // Takes the system threads of the finished threads (all of them when all finished) out of the
  // list, to be joined without the lock.
  std::vector<std::thread> TakeEnded();
  static void Join(std::vector<std::thread> ended);

  std::mutex mutex_;
  std::condition_variable empty_;
  std::vector<TServerClientThread*> threads_;
  int running_ = 0;  // added and not yet finished
  std::vector<std::thread> runners_;
  std::vector<std::thread::id> finished_;  // runners whose thread reported Finished()
};

// The list of the running program.
TRList& ThreadList();

}  // namespace vg
