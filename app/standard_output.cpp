#include "app/standard_output.h"

#include <cstdio>
#include <iostream>

bool standard_output_failed() { return std::cout.fail() || std::ferror(stdout) != 0; }

bool standard_output_flushed() {
  std::cout.flush();
  const bool flushed = std::fflush(stdout) == 0;
  return flushed && !standard_output_failed();
}
