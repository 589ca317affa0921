// Gives a file a new name through uni::rename_output and prints the result
// ("renamed", "taken" or "failed"). With "probe" first it prints what
// renameat2 without replacing and link answer for the two paths instead
// (the error names, or "ok"), to show what a preload makes of them.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "utils/output_file.h"

namespace {

const char* answer(int result) {
  if (result == 0) return "ok";
  if (errno == EINVAL) return "EINVAL";
  if (errno == EIO) return "EIO";
  return "other";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "probe") == 0) {
    const char* renamed = answer(::renameat2(AT_FDCWD, argv[2], AT_FDCWD, argv[3], RENAME_NOREPLACE));
    const char* linked = answer(::link(argv[2], argv[3]));
    std::printf("%s %s\n", renamed, linked);
    return 0;
  }
  if (argc != 3) return 2;
  switch (uni::rename_output(std::string(argv[1]), std::string(argv[2]))) {
    case uni::rename_result::renamed:
      std::puts("renamed");
      break;
    case uni::rename_result::taken:
      std::puts("taken");
      break;
    case uni::rename_result::failed:
      std::puts("failed");
      break;
  }
  return 0;
}
