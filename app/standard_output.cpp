#include "app/standard_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

bool standard_output_failed() { return std::cout.fail() || std::ferror(stdout) != 0; }

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
