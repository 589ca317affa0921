#pragma once
// Runs a piece of a test in a child process that is killed when it does not
// end in time: a call that would wait for ever fails the test instead of
// holding the suite.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace quor_test {

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
