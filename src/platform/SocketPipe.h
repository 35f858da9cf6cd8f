#pragma once
// Moves bytes from one connected socket to another through the kernel, without copying them
// through the program's memory, where the system can do that; Available() says whether it can.
#include <cstddef>

#include "platform/Net.h"

namespace vg::platform {

class SocketPipe {
 public:
  SocketPipe();
  ~SocketPipe();
  SocketPipe(const SocketPipe&) = delete;
  SocketPipe& operator=(const SocketPipe&) = delete;

  bool Available() const { return readFd_ >= 0; }

  struct Result {
    size_t bytes = 0;       // bytes that reached the target
    bool readFailed = false;
    bool writeFailed = false;
    bool ended = false;     // the source has ended its stream and nothing was moved
    int error = 0;          // the error code of a failed side
  };

  // Takes at most count bytes that are waiting on from and writes all of them to to, waiting
  // up to writeTimeoutMs for room there; a wake-up ends the wait. Bytes taken from the source
  // but not written count as a failed write.
  Result Move(ClientSocket& from, ClientSocket& to, size_t count, int writeTimeoutMs, const WakeSignal* wake);

 private:
  int readFd_ = -1;
  int writeFd_ = -1;
};

}  // namespace vg::platform
