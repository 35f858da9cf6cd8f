#include "platform/SocketPipe.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace vg::platform {

namespace {
// The pipe's capacity bounds one move; a larger pipe means fewer calls for bulk data.
constexpr int kPipeSize = 1 << 20;

// Writing into a connection the peer has closed raises SIGPIPE, which splice cannot suppress
// as send does. The signal stays held back on a thread from its first move on: masking it
// around every move would cost four more calls per move of bulk data.
void HoldPipeSignal() {
  thread_local bool held = false;
  if (held) return;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  held = true;
}

// A failed write leaves the held signal pending; it is taken away so that it can never be
// delivered later.
void DropPipeSignal() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  const timespec none{0, 0};
  while (sigtimedwait(&set, nullptr, &none) > 0) {
  }
}
}  // namespace

SocketPipe::SocketPipe() {
  int fds[2];
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return;
  ::fcntl(fds[1], F_SETPIPE_SZ, kPipeSize);
  readFd_ = fds[0];
  writeFd_ = fds[1];
}

SocketPipe::~SocketPipe() {
  if (readFd_ >= 0) ::close(readFd_);
  if (writeFd_ >= 0) ::close(writeFd_);
}

SocketPipe::Result SocketPipe::Move(ClientSocket& from, ClientSocket& to, size_t count, int writeTimeoutMs,
                                    const WakeSignal* wake) {
  Result r;
  if (!Available() || !from.Connected() || !to.Connected()) {
    r.readFailed = !from.Connected();
    r.writeFailed = !r.readFailed;
    r.error = neterr::kNotConnected;
    return r;
  }
  ssize_t in;
  do {
    in = ::splice(from.Handle(), nullptr, writeFd_, nullptr, count, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
  } while (in < 0 && errno == EINTR);
  if (in == 0) {
    r.ended = true;
    return r;
  }
  if (in < 0) {
    if (errno == EAGAIN) return r;
    r.readFailed = true;
    r.error = NetErrorFromErrno(errno);
    return r;
  }
  size_t left = static_cast<size_t>(in);
  HoldPipeSignal();
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(writeTimeoutMs);
  while (left > 0) {
    const ssize_t out = ::splice(readFd_, nullptr, to.Handle(), nullptr, left, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (out > 0) {
      left -= static_cast<size_t>(out);
      r.bytes += static_cast<size_t>(out);
      continue;
    }
    if (out < 0 && errno == EINTR) continue;
    if (out < 0 && errno != EAGAIN) {
      const int code = errno;
      r.writeFailed = true;
      r.error = NetErrorFromErrno(code);
      if (code == EPIPE) DropPipeSignal();
      break;
    }
    const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    pollfd fds[2] = {{to.Handle(), POLLOUT, 0}, {wake ? wake->Handle() : -1, POLLIN, 0}};
    const int rc = remaining > 0 ? ::poll(fds, 2, static_cast<int>(remaining)) : 0;
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0 || fds[1].revents) {
      r.writeFailed = true;
      r.error = rc < 0 ? NetErrorFromErrno(errno) : (rc == 0 ? neterr::kTimedOut : neterr::kInterrupted);
      break;
    }
  }
  if (left > 0) {
    // What could not be written must not reach the next move.
    char sink[4096];
    while (::read(readFd_, sink, sizeof sink) > 0) {
    }
  }
  return r;
}

}  // namespace vg::platform
