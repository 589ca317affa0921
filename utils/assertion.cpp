#include "utils/assertion.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void assertion_failed(const char* expression, const char* file, int line, const char* function) {
  const char* name = file ? std::strrchr(file, '/') : nullptr;
  name = name ? name + 1 : (file ? file : "");
  std::fprintf(stderr, "%s:%d: %s: Assertion `%s' failed.\n", name, line, function ? function : "",
               expression ? expression : "");
  std::fflush(stderr);
  std::abort();
}
