#pragma once
// A test body run in a child process of its own (POSIX only).
#include <sys/wait.h>
#include <unistd.h>

namespace vgtest {

// Runs body in a child process; returns the child's exit status (or -1 if it died by signal).
template <class Body>
int InChild(Body&& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    int rc = 1;
    try {
      rc = body();
    } catch (...) {
      rc = 99;
    }
    ::_exit(rc);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vgtest
