#include "app/standard_output.h"

#include <fcntl.h>
#include <linux/kcmp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iostream>

namespace {

// The real standard output and error while what is written to them is held;
// -1 when nothing is held.
int real_out = -1;
int real_err = -1;
// Both held in one memory file: they were one open file.
bool held_together = false;
// What was held did not all reach standard output.
bool release_lost = false;

// True when the descriptors are one open file (2>&1), or, where the system
// cannot tell that, one file: written in one order, they must be held in one.
bool one_open_file(int a, int b) {
  const pid_t self = ::getpid();
  const long same = ::syscall(SYS_kcmp, self, self, KCMP_FILE, a, b);
  if (same >= 0) return same == 0;
  struct stat sa, sb;
  return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino &&
         sa.st_rdev == sb.st_rdev;
}

void flush_all() {
  std::cout.flush();
  std::fflush(stdout);
  std::fflush(stderr);
}

// Copies what the memory file `held` took into `fd`; false when `fd` did
// not take all of it. A static buffer: this may run with no memory left.
bool copy_held(int held, int fd) {
  static char buffer[16384];
  off_t at = 0;
  for (;;) {
    const ssize_t got = ::pread(held, buffer, sizeof buffer, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got == 0;
    at += got;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(fd, buffer + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += put;
    }
  }
}

void give_back() {
  ::dup2(real_out, STDOUT_FILENO);
  ::dup2(real_err, STDERR_FILENO);
  ::close(real_out);
  ::close(real_err);
  real_out = real_err = -1;
}

}  // namespace

bool standard_output_failed() { return release_lost || std::cout.fail() || std::ferror(stdout) != 0; }

bool standard_output_flushed() {
  std::cout.flush();
  const bool flushed = std::fflush(stdout) == 0;
  return flushed && !standard_output_failed();
}

void hold_standard_descriptors() {
  static const char* const kHolders[] = {"/dev/null", "/dev/full", "/dev/null"};
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int held = ::open(kHolders[fd], O_RDWR);
    if (held >= 0 && held != fd) {
      ::dup2(held, fd);
      ::close(held);
    }
  }
}

// Ignored, the signal leaves the write to fail with EFBIG. A reader that
// leaves a pipe early still ends the run quietly by SIGPIPE, as usual.
void fail_writes_past_size_limit() { std::signal(SIGXFSZ, SIG_IGN); }

bool hold_standard_streams() {
  if (real_out >= 0) return true;
  flush_all();
  held_together = one_open_file(STDOUT_FILENO, STDERR_FILENO);
  // A terminal shows each line as it comes; the memory file would have
  // stdio buffer the whole run's output instead.
  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  const int out_mem = ::memfd_create("quor held output", MFD_CLOEXEC);
  const int err_mem = held_together || out_mem < 0 ? out_mem : ::memfd_create("quor held errors", MFD_CLOEXEC);
  real_out = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  real_err = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  bool held = out_mem >= 0 && err_mem >= 0 && real_out >= 0 && real_err >= 0 &&
              ::dup2(out_mem, STDOUT_FILENO) == STDOUT_FILENO;
  if (held && ::dup2(err_mem, STDERR_FILENO) != STDERR_FILENO) {
    ::dup2(real_out, STDOUT_FILENO);
    held = false;
  }
  if (out_mem >= 0) ::close(out_mem);
  if (err_mem >= 0 && err_mem != out_mem) ::close(err_mem);
  if (!held) {
    if (real_out >= 0) ::close(real_out);
    if (real_err >= 0) ::close(real_err);
    real_out = real_err = -1;
    return false;
  }
  if (terminal) std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  return true;
}

void release_standard_streams() {
  if (real_out < 0) return;
  flush_all();
  if (!copy_held(STDOUT_FILENO, real_out)) release_lost = true;
  if (!held_together) copy_held(STDERR_FILENO, real_err);
  give_back();
}

void discard_standard_streams() {
  if (real_out < 0) return;
  flush_all();
  give_back();
  // Whatever failed so far failed on the memory file, whose bytes are gone:
  // it says nothing of the real standard output.
  std::clearerr(stdout);
  std::cout.clear();
}

int real_standard_descriptor(int fd) {
  if (fd == STDOUT_FILENO && real_out >= 0) return real_out;
  if (fd == STDERR_FILENO && real_err >= 0) return real_err;
  return fd;
}
