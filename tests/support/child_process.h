#pragma once
// Runs a piece of a test in a child process that is killed when it does not
// end in time: a call that would wait for ever fails the test instead of
// holding the suite.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

namespace quor_test {

// Whether an allocation that finds no memory throws std::bad_alloc, as the
// standard library's does. AddressSanitizer's allocator ends the process
// instead, and reserves address space of its own at start.
inline bool allocation_failures_throw() {
#if defined(__SANITIZE_ADDRESS__)
  return false;
#else
  return true;
#endif
}

// Lets the calling process map at most `headroom` bytes more than it has
// mapped now: a larger allocation then fails as it does when memory runs
// out (ulimit -v). For a child: the limit cannot be raised again. False
// when it could not be set.
inline bool limit_address_space(std::uint64_t headroom) {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t pages = 0;
  if (!(statm >> pages)) return false;
  const std::uint64_t limit = pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) + headroom;
  struct rlimit rl;
  rl.rlim_cur = static_cast<rlim_t>(limit);
  rl.rlim_max = static_cast<rlim_t>(limit);
  return static_cast<std::uint64_t>(rl.rlim_cur) == limit && ::setrlimit(RLIMIT_AS, &rl) == 0;
}

// `body`'s result as the child's exit status, with the child's standard
// error going to `err`; -1 when it was still running after five seconds and
// was killed, -2 when it could not be started or did not exit by itself, 253
// when `body` threw.
inline int exit_status_in_child(const std::function<int()>& body, const std::string& err) {
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) ::dup2(fd, 2);
    // Whatever `body` throws must end the child here: caught by the test
    // framework, it would go on running the tests beside the parent.
    int status = -3;
    try {
      status = body();
    } catch (...) {
    }
    ::_exit(status);
  }
  if (pid < 0) return -2;
  for (int tick = 0; tick < 500; ++tick) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    ::usleep(10000);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return -1;
}

}  // namespace quor_test
