#include "support/RelaySupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "settings/Cfg_Clnt.h"
#include "tunnel/fThrList.h"
#include "tunnel/httpdata.h"

extern char** environ;

namespace relaytest {

namespace {

using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point end) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// Reads into buffer until the predicate holds, the peer closes or the time runs out.
bool ReadUntil(int fd, std::string& buffer, const std::function<bool(const std::string&)>& done, int timeoutMs,
               bool* closed = nullptr) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  if (closed) *closed = false;
  while (!done(buffer)) {
    pollfd p{fd, POLLIN, 0};
    const int left = MillisLeft(end);
    if (left == 0) return false;
    const int rc = ::poll(&p, 1, left);
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return false;
    char chunk[65536];
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (closed) *closed = true;
      return done(buffer);
    }
    buffer.append(chunk, static_cast<size_t>(n));
  }
  return true;
}

size_t HeaderEnd(const std::string& s) {
  const size_t t = s.find("\r\n\r\n");
  return t == std::string::npos ? std::string::npos : t + 4;
}

std::string Lowered(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Header names are found in any letter case, as HTTP servers do.
std::string HeaderValue(const std::string& header, const std::string& name) {
  const std::string key = "\r\n" + Lowered(name) + ":";
  size_t p = Lowered(header).find(key);
  if (p == std::string::npos) return {};
  p += key.size();
  const size_t e = header.find("\r\n", p);
  std::string v = header.substr(p, e - p);
  while (!v.empty() && v.front() == ' ') v.erase(v.begin());
  while (!v.empty() && v.back() == ' ') v.pop_back();
  return v;
}

int ListenLoopback(bool anyAddress, int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(anyAddress ? INADDR_ANY : INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 64) != 0) {
    ::close(fd);
    return -1;
  }
  socklen_t len = sizeof sa;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  port = ntohs(sa.sin_port);
  return fd;
}

std::vector<char*> CStrings(const std::vector<std::string>& v) {
  std::vector<char*> out;
  for (const auto& s : v) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& x : extra)
      if (x.substr(0, x.find('=')) == name) replaced = true;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

}  // namespace

int FreePort() {
  // The system may give a port it just gave again once it is closed; a test that asks twice
  // (one port for the tunnel, one for the gateway) must get two.
  static std::mutex mutex;
  static std::set<int> given;
  std::lock_guard<std::mutex> lock(mutex);
  int port = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd = ListenLoopback(false, port);
    ::close(fd);
    if (given.insert(port).second) break;
  }
  return port;
}

std::string Body(size_t n) {
  std::string s(n, ' ');
  for (size_t i = 0; i < n; ++i) s[i] = BodyByte(i);
  return s;
}

TestHttpServer::TestHttpServer(bool anyAddress) {
  listenFd_ = ListenLoopback(anyAddress, port_);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
  stop_ = true;
  ::shutdown(listenFd_, SHUT_RDWR);
  acceptThread_.join();
  ::close(listenFd_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : clientFds_) ::shutdown(fd, SHUT_RDWR);
  }
  for (auto& t : workers_) t.join();
}

std::vector<std::string> TestHttpServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::string TestHttpServer::LastRequest() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.empty() ? std::string() : requests_.back();
}

void TestHttpServer::AcceptLoop() {
  while (!stop_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ++connections_;
    std::lock_guard<std::mutex> lock(mutex_);
    clientFds_.push_back(fd);
    workers_.emplace_back([this, fd] { Serve(fd); });
  }
}

namespace {
// Words drawn by a fixed generator: compresses about as well as a real page does.
std::string Text(size_t n) {
  static const char* const kWords[] = {"<p>",    "the",     "relay",   "answer", "page",       "protected",
                                       "server", "data",    "browser", "of",     "and",        "a",
                                       "</p>\n", "gateway", "request", "key",    "compressed", "long",
                                       "table",  "row",     "<td>",    "</td>",  "value",      "1997"};
  std::string out;
  out.reserve(n + 16);
  uint32_t state = 12345;
  while (out.size() < n) {
    state = state * 1103515245u + 12345u;
    out += kWords[(state >> 16) % (sizeof kWords / sizeof kWords[0])];
    out += (state >> 8) % 7 == 0 ? "\n" : " ";
    if ((state >> 4) % 11 == 0) out += std::to_string(state % 100000);
  }
  out.resize(n);
  return out;
}

std::string ToHex(size_t n) {
  char text[24];
  std::snprintf(text, sizeof text, "%zx", n);
  return text;
}
}  // namespace

std::string TextBody(size_t n) { return Text(n); }

void TestHttpServer::Serve(int fd) {
  std::string buffer;
  for (;;) {
    // Line ends between requests (after a POST body) are not part of the next request.
    while (buffer.size() >= 2 && buffer.compare(0, 2, "\r\n") == 0) buffer.erase(0, 2);
    bool closed = false;
    if (!ReadUntil(
            fd, buffer, [](const std::string& b) { return HeaderEnd(b) != std::string::npos; }, 30000, &closed))
      break;
    const size_t headerEnd = HeaderEnd(buffer);
    const std::string header = buffer.substr(0, headerEnd);
    const std::string lengthText = HeaderValue(header, "Content-Length");
    size_t length = lengthText.empty() ? 0 : std::stoul(lengthText);
    if (HeaderValue(header, "Transfer-Encoding") == "chunked") {
      // Up to the last chunk and the empty trailer.
      const auto end = [&](const std::string& b) { return b.find("\r\n0\r\n\r\n", headerEnd - 2); };
      if (!ReadUntil(
              fd, buffer, [&](const std::string& b) { return end(b) != std::string::npos; }, 30000))
        break;
      length = end(buffer) + 7 - headerEnd;
    }
    if (!ReadUntil(
            fd, buffer, [&](const std::string& b) { return b.size() >= headerEnd + length; }, 30000))
      break;
    const std::string request = buffer.substr(0, headerEnd + length);
    buffer.erase(0, headerEnd + length);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    const std::string method = header.substr(0, header.find(' '));
    const size_t t1 = header.find(' ') + 1;
    std::string target = header.substr(t1, header.find(' ', t1) - t1);
    if (target.rfind("http://", 0) == 0) target = target.substr(target.find('/', 7));
    const bool head = method == "HEAD";
    std::string version = "HTTP/1.1";
    if (target.rfind("/v10", 0) == 0) {
      version = "HTTP/1.0";
      target = target.substr(4);
    }
    const auto number = [&](const std::string& prefix) { return std::stoul(target.substr(prefix.size())); };
    std::string answer;
    bool closeAfter = false;
    if (target.rfind("/len/", 0) == 0) {
      const size_t n = number("/len/");
      answer = version + " 200 OK\r\nContent-Length: " + std::to_string(n) + "\r\n\r\n";
      if (!head) answer += Body(n);
    } else if (target.rfind("/lenclose/", 0) == 0) {
      const size_t n = number("/lenclose/");
      answer = version + " 200 OK\r\nContent-Length: " + std::to_string(n) + "\r\n\r\n" + Body(n);
      closeAfter = true;
    } else if (target.rfind("/chunked/", 0) == 0) {
      const size_t n = number("/chunked/");
      answer = version + " 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
      const std::string body = Body(n);
      for (size_t at = 0; at < n; at += 1000) {
        const size_t piece = std::min<size_t>(1000, n - at);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece);
        answer += size + body.substr(at, piece) + "\r\n";
      }
      answer += "0\r\n\r\n";
    } else if (target.rfind("/text/", 0) == 0) {
      const std::string text = Text(number("/text/"));
      answer = version + " 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(text.size()) +
               "\r\n\r\n" + text;
    } else if (target.rfind("/zeros/", 0) == 0) {
      const size_t n = number("/zeros/");
      answer = version + " 200 OK\r\nContent-Length: " + std::to_string(n) + "\r\n\r\n" + std::string(n, '\0');
    } else if (target.rfind("/chunkext/", 0) == 0) {
      const size_t n = number("/chunkext/");
      answer = version + " 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
      if (n > 0) answer += ToHex(n) + ";name=value;x\r\n" + Body(n) + "\r\n";
      answer += "0;last\r\n\r\n";
    } else if (target.rfind("/bare/", 0) == 0 || target.rfind("/bareblank/", 0) == 0) {
      const bool blank = target.rfind("/bareblank/", 0) == 0;
      const unsigned code = static_cast<unsigned>(number(blank ? "/bareblank/" : "/bare/"));
      answer = version + " " + std::to_string(code) + (blank ? " " : "") + "\r\n";
      if (!(code < 200 || code == 204 || code == 304))
        answer += "Content-Length: 2\r\n\r\nok";
      else
        answer += "\r\n";
    } else if (target.rfind("/close/", 0) == 0) {
      answer = version + " 200 OK\r\n\r\n" + Body(number("/close/"));
      closeAfter = true;
    } else if (target.rfind("/status/", 0) == 0) {
      const unsigned code = static_cast<unsigned>(number("/status/"));
      answer = version + " " + std::to_string(code) + " Status\r\n";
      if (!(code < 200 || code == 204 || code == 304)) answer += "Content-Length: 0\r\n";
      answer += "\r\n";
    } else if (target == "/info" || target == "/info-joined") {
      const std::string interim = version + " 100 Continue\r\n\r\n";
      const std::string final = version + " 200 OK\r\nContent-Length: 4\r\n\r\ndone";
      if (target == "/info") {
        SendAll(fd, interim);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        answer = final;
      } else {
        answer = interim + final;
      }
    } else if (target == "/connclose") {
      answer = version + " 200 OK\r\nConnection: CLOSE\r\nContent-Length: 2\r\n\r\nok";
    } else if (target == "/proxyauth") {
      const std::string page = "<p>proxy credentials needed</p>";
      answer = version +
               " 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"vgtest\"\r\n"
               "Content-Type: text/html\r\nContent-Length: " +
               std::to_string(page.size()) + "\r\n\r\n" + page;
    } else if (target == "/setcookie") {
      answer = version + " 200 OK\r\nSet-Cookie: vgtest=42; Path=/\r\nContent-Length: 2\r\n\r\nok";
    } else if (target == "/echo") {
      answer = version + " 200 OK\r\nContent-Length: " + std::to_string(request.size()) + "\r\n\r\n" + request;
    } else if (target == "/hang") {
      ReadUntil(
          fd, buffer, [](const std::string&) { return false; }, 70000);
      break;
    } else if (target == "/silent") {
      break;
    } else {
      answer = version + " 404 Not Found\r\nContent-Length: 0\r\n\r\n";
    }
    if (!SendAll(fd, answer) || closeAfter) break;
  }
  ::shutdown(fd, SHUT_RDWR);
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& c : clientFds_)
    if (c == fd) c = -1;
  ::close(fd);
}

LoopbackTap::LoopbackTap(int targetPort) : targetPort_(targetPort) {
  listenFd_ = ListenLoopback(false, port_);
  acceptThread_ = std::thread([this] {
    while (!stop_) {
      pollfd p{listenFd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      workers_.emplace_back([this, client] { Relay(client); });
    }
  });
}

LoopbackTap::~LoopbackTap() {
  stop_ = true;
  acceptThread_.join();
  ::close(listenFd_);
  for (auto& w : workers_) w.join();
}

std::string LoopbackTap::Sent() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string all;
  for (const auto& s : sent_) all += s;
  return all;
}

void LoopbackTap::Relay(int client) {
  size_t slot = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slot = sent_.size();
    sent_.emplace_back();
  }
  RawClient target(targetPort_);
  pollfd fds[2] = {{client, POLLIN, 0}, {target.Fd(), POLLIN, 0}};
  char chunk[65536];
  while (!stop_ && target.Connected()) {
    if (::poll(fds, 2, 50) <= 0) continue;
    bool closed = false;
    for (int i = 0; i < 2 && !closed; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::recv(fds[i].fd, chunk, sizeof chunk, 0);
      if (n <= 0) {
        closed = true;
        break;
      }
      const std::string bytes(chunk, static_cast<size_t>(n));
      if (i == 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        sent_[slot] += bytes;
      }
      closed = !SendAll(fds[1 - i].fd, bytes);
    }
    if (closed) break;
  }
  ::close(client);
}

RawClient::RawClient(int port, const std::string& localAddress) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (!localAddress.empty()) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, localAddress.c_str(), &local.sin_addr);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

RawClient::~RawClient() {
  if (fd_ >= 0) ::close(fd_);
}

void RawClient::Send(const std::string& bytes) { SendAll(fd_, bytes); }

void RawClient::ShutdownSend() { ::shutdown(fd_, SHUT_WR); }

std::string RawClient::ReadAnswer(int timeoutMs, bool headRequest) {
  bool closed = false;
  const auto complete = [headRequest](const std::string& b) {
    vg::THTTPData m;
    m.Assign(b);
    if (m.HeaderLength() == 0) return false;
    if (m.IsInformational()) return false;
    if (headRequest) return true;
    return m.IsCompleteResponse();
  };
  // Interim answers are kept in front of the final one.
  std::string& buffer = pending_;
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string interim;
  for (;;) {
    while (true) {
      vg::THTTPData m;
      m.Assign(buffer);
      if (m.HeaderLength() > 0 && m.IsInformational()) {
        interim += buffer.substr(0, static_cast<size_t>(m.HeaderLength()));
        buffer.erase(0, static_cast<size_t>(m.HeaderLength()));
        continue;
      }
      break;
    }
    if (complete(buffer)) break;
    if (!ReadUntil(
            fd_, buffer,
            [&](const std::string& b) {
              vg::THTTPData m;
              m.Assign(b);
              return complete(b) || (m.HeaderLength() > 0 && m.IsInformational());
            },
            MillisLeft(end), &closed)) {
      if (closed && HeaderEnd(buffer) != std::string::npos) break;
      return {};
    }
  }
  vg::THTTPData m;
  m.Assign(buffer);
  size_t used = buffer.size();
  if (headRequest) {
    used = static_cast<size_t>(m.HeaderLength());
  } else if (m.HasHeader("Content-Length") && !m.HasHeader("Transfer-Encoding")) {
    used = std::min(buffer.size(),
                    static_cast<size_t>(m.HeaderLength()) + static_cast<size_t>(m.GetHeaderInt("Content-Length")));
  } else if (m.StatusCode() == 204 || m.StatusCode() == 304) {
    used = static_cast<size_t>(m.HeaderLength());
  }
  std::string answer = interim + buffer.substr(0, used);
  buffer.erase(0, used);
  return answer;
}

std::string RawClient::ReadUntilClose(int timeoutMs) {
  std::string out = std::move(pending_);
  pending_.clear();
  bool closed = false;
  ReadUntil(
      fd_, out, [](const std::string&) { return false; }, timeoutMs, &closed);
  return out;
}

bool RawClient::PeerClosed(int timeoutMs) {
  bool closed = false;
  std::string extra;
  ReadUntil(
      fd_, extra, [](const std::string&) { return false; }, timeoutMs, &closed);
  pending_ += extra;
  return closed;
}

ProcessResult RunProcess(const std::vector<std::string>& args, int timeoutMs, const std::vector<std::string>& env) {
  ProcessResult result;
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  const auto argv = CStrings(args);
  const auto envStrings = MergedEnvironment(env);
  const auto envp = CStrings(envStrings);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (rc != 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    return result;
  }
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  bool outOpen = true, errOpen = true;
  while ((outOpen || errOpen) && MillisLeft(end) > 0) {
    pollfd p[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0}, {errOpen ? errPipe[0] : -1, POLLIN, 0}};
    if (::poll(p, 2, MillisLeft(end)) <= 0) continue;
    char chunk[65536];
    for (int i = 0; i < 2; ++i) {
      if (!p[i].revents) continue;
      const ssize_t n = ::read(i == 0 ? outPipe[0] : errPipe[0], chunk, sizeof chunk);
      if (n <= 0) {
        (i == 0 ? outOpen : errOpen) = false;
      } else {
        (i == 0 ? result.out : result.err).append(chunk, static_cast<size_t>(n));
      }
    }
  }
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  int status = 0;
  for (;;) {
    const pid_t w = ::waitpid(pid, &status, WNOHANG);
    if (w == pid) break;
    if (MillisLeft(end) == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

Process::Process(const std::vector<std::string>& args, const std::vector<std::string>& env,
                 const std::string& outFile) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string target = outFile.empty() ? "/dev/null" : outFile;
  posix_spawn_file_actions_addopen(&actions, 1, target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const auto argv = CStrings(args);
  const auto envStrings = MergedEnvironment(env);
  const auto envp = CStrings(envStrings);
  pid_t pid = -1;
  if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
}

Process::~Process() {
  if (Running()) Stop(SIGKILL, 5000);
}

bool Process::Running() {
  if (pid_ < 0 || exitCode_) return false;
  int status = 0;
  const pid_t w = ::waitpid(pid_, &status, WNOHANG);
  if (w == pid_) {
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  return true;
}

int Process::WaitExit(int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Running()) {
    if (MillisLeft(end) == 0) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return exitCode_.value_or(-1);
}

int Process::Stop(int signal, int timeoutMs) {
  if (Running()) ::kill(pid_, signal);
  return WaitExit(timeoutMs);
}

bool WaitForPort(int port, int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (MillisLeft(end) > 0) {
    RawClient c(port);
    if (c.Connected()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

InProcessTunnel::InProcessTunnel() {
  vg::TQSClientConfig& config = vg::Settings();
  {
    vg::TConfigLock lock(config);
    config.SetFileName(dir_.File("veilgate.cfg"));
    config.SetLogDirectory(dir_.Path());
    config.SetLogInterval(60);
    config.SetLogFlags(0xFFFFFF);
    config.SetErrorTraceMode(false);
    config.SetSelfTcpPort(0);
    config.SetProxyEnabled(false);
    config.SetBypassProxyForLocal(false);
    config.SetProxyHost("");
    config.SetProxyPort(0);
    config.SetMaxHttpDataLength(0x200000);
    config.SetProxyORPC(false);
    config.SetClientAccessType(vg::TQSClientConfig::kAccessAny);
    config.SetAllowedHosts({});
    while (config.ServerCount() > 0) config.DeleteServer(config.GetServer(0));
  }
  form_ = std::make_unique<vg::TQSVeilgateAboutForm>();
  form_->StartListener();
  port_ = form_->ListeningPort();
  vg::TConfigLock lock(config);
  config.SetSelfTcpPort(port_);
}

InProcessTunnel::~InProcessTunnel() {
  form_->StopListener();
  vg::ThreadList().TerminateAll();
  form_.reset();
}

void InProcessTunnel::Configure(const std::function<void(vg::TQSClientConfig&)>& change) {
  vg::TQSClientConfig& config = vg::Settings();
  vg::TConfigLock lock(config);
  change(config);
}

std::string InProcessTunnel::ServiceLog() {
  std::string all;
  for (const auto& e : std::filesystem::directory_iterator(dir_.Path()))
    if (e.path().filename().string().find("service.log") != std::string::npos) all += ReadFileText(e.path().string());
  return all;
}

std::string ProxyGet(int port, const std::string& path, const std::string& version, const std::string& extraHeaders) {
  const std::string host = "127.0.0.1:" + std::to_string(port);
  return "GET http://" + host + path + " " + version + "\r\nHost: " + host + "\r\n" + extraHeaders + "\r\n";
}

int StatusOf(const std::string& answer) {
  vg::THTTPData m;
  m.Assign(answer);
  return m.StatusCode();
}

std::string BodyOf(const std::string& answer) {
  const size_t end = HeaderEnd(answer);
  return end == std::string::npos ? std::string() : answer.substr(end);
}

}  // namespace relaytest
