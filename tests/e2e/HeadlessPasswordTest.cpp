// The headless program asks for the password of an encrypted key on its controlling terminal:
// here a pseudo-terminal whose other side the test reads and types into.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "platform/CodePage.h"
#include "support/E2eSupport.h"

using namespace relaytest;
using namespace e2etest;

namespace {

// A program running on a terminal of its own; stopped by its process id.
class OnTerminal {
 public:
  OnTerminal(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      for (const std::string& item : env) ::putenv(const_cast<char*>(item.c_str()));
      std::vector<char*> argv;
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~OnTerminal() { Stop(); }

  // Reads what the program wrote until it contains text; false after the limit.
  bool WaitFor(const std::string& text, int timeoutMs = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (seen_.find(text, from_) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd fd{master_, POLLIN, 0};
      if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) return false;
      char buf[512];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) return false;
      seen_.append(buf, static_cast<size_t>(n));
    }
    from_ = seen_.find(text, from_) + text.size();
    return true;
  }
  void Type(const std::string& line) { (void)!::write(master_, line.data(), line.size()); }
  const std::string& Seen() const { return seen_; }

  int Stop() {
    if (pid_ <= 0) return exit_;
    ::kill(pid_, SIGTERM);
    int status = 0;
    // Bounded by time, not by reads: a program with much to say on its way out must not be
    // killed for it.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end && ::waitpid(pid_, &status, WNOHANG) == 0) {
      // Keep the terminal drained so that the program never blocks writing to it.
      pollfd fd{master_, POLLIN, 0};
      char buf[512];
      if (::poll(&fd, 1, 100) > 0) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0)
          seen_.append(buf, static_cast<size_t>(n));  // the last words, for a failure
        else
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    if (::waitpid(pid_, &status, WNOHANG) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    ::close(master_);
    return exit_;
  }

 private:
  int master_ = -1;
  pid_t pid_ = -1;
  int exit_ = -1;
  std::string seen_;
  size_t from_ = 0;
};

TEST_F(ProtectedPath, TheHeadlessProgramAsksForTheKeyPasswordOnItsTerminal) {
  TempDir pki;
  const ProcessResult made =
      RunProcess({"bash", std::string(VG_TEST_SOURCE_DIR) + "/scripts/make-demo-pki.sh", pki.Path()}, 120000);
  ASSERT_EQ(made.exitCode, 0) << made.err;
  std::string password = ReadFileText(pki.File("password.txt"));
  while (!password.empty() && (password.back() == '\n' || password.back() == '\r')) password.pop_back();
  auto identity = [&](const std::string& key, const std::string& cert, const std::string& partner) {
    return "CertificateFile=" + pki.File(cert) + "\nPrivateKeyFile=" + pki.File(key) +
           "\nCAFile=" + pki.File("ca.pem") + "\nSubscribersDir=" + pki.File("subscribers") +
           "\nPartnerUID=" + partner + "\n";
  };
  gateEngine_ = "Engine=OpenSSL\n";
  gateEngineParams_ = identity("gateway.key", "gateway.pem", "vg-client");
  tunnelEngine_ = "OpenSSL";
  tunnelEngineParams_ = identity("client-enc.key", "client.pem", "vg-gateway");
  StartGate();
  WriteTunnelConfig();
  OnTerminal tunnel({kBinDir + "/vgproxy", "--headless", "--config", Config()}, env_);
  ASSERT_TRUE(WaitForPort(proxyPort_, 10000)) << tunnel.Seen();

  auto fetched = std::async(std::launch::async, [this] { return Curl({"http://" + kHost + "/len/3000"}); });
  ASSERT_TRUE(tunnel.WaitFor("Пожалуйста, введите пароль секретного ключа")) << tunnel.Seen();
  tunnel.Type(password + "\n");
  EXPECT_EQ(fetched.get().out, Body(3000)) << tunnel.Seen() << Diagnostics();
  EXPECT_EQ(tunnel.Seen().find(password), std::string::npos);  // never echoed

  // Unloading while the question waits (the engine forgot the key and asks again): the program
  // ends at once and the waiting connection gets no page.
  fetched = std::async(std::launch::async, [this] {
    return Curl({"-H", "vg-act: cc", "http://" + kHost + "/len/3000"});
  });
  ASSERT_TRUE(tunnel.WaitFor("Пожалуйста, введите пароль секретного ключа")) << tunnel.Seen();
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(tunnel.Stop(), 0) << tunnel.Seen();
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
  EXPECT_NE(fetched.get().out, Body(3000));
}

}  // namespace
