#include "platform/Terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vg::platform {
namespace {

// Longest line kept; the rest of a longer line is read and dropped.
constexpr size_t kMaxLine = 4096;

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

TerminalRead ReadHiddenLine(const std::string& prompt, std::string& line, const std::atomic<bool>* cancel) {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return TerminalRead::NoTerminal;
  termios saved{};
  if (::tcgetattr(fd, &saved) != 0) {
    ::close(fd);
    return TerminalRead::NoTerminal;
  }
  termios quiet = saved;
  quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK | ECHONL));
  quiet.c_lflag |= ICANON;
  // Echo goes off before the prompt appears, so nothing typed in answer to it is shown.
  ::tcsetattr(fd, TCSAFLUSH, &quiet);
  WriteAll(fd, prompt);

  std::string text;
  bool gotAny = false;
  bool ended = false;
  char chunk[256];
  bool cancelled = false;
  while (!ended) {
    if (cancel) {
      // Unloading must not wait for a user who never answers.
      pollfd ready{fd, POLLIN, 0};
      const int polled = ::poll(&ready, 1, 100);
      if (cancel->load()) {
        cancelled = true;
        break;
      }
      if (polled == 0 || (polled < 0 && errno == EINTR)) continue;
    }
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    gotAny = true;
    for (ssize_t i = 0; i < n; ++i) {
      if (chunk[i] == '\n') {
        ended = true;
        break;
      }
      if (text.size() < kMaxLine) text.push_back(chunk[i]);
    }
  }
  std::fill(chunk, chunk + sizeof chunk, '\0');
  ::tcsetattr(fd, TCSAFLUSH, &saved);
  WriteAll(fd, "\n");
  ::close(fd);
  if (!gotAny || cancelled) return TerminalRead::Closed;
  if (!text.empty() && text.back() == '\r') text.pop_back();
  line.swap(text);
  std::fill(text.begin(), text.end(), '\0');
  return TerminalRead::Ok;
}

}  // namespace vg::platform
