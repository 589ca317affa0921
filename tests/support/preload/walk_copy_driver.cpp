// Runs the directory walker over the walker's options given to it and
// prints its text, so that a walk can run under a preload. With "probe"
// first it gives a file a new name through uni::rename_output instead and
// prints the size the new name then shows ("failed" when it was not
// renamed), to show what a preload makes of a rename.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/user_ctx.h"
#include "examine/walk_engine.h"
#include "utils/output_file.h"

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "probe") == 0) {
    struct stat st;
    if (uni::rename_output(std::string(argv[2]), std::string(argv[3])) != uni::rename_result::renamed ||
        ::stat(argv[3], &st) != 0) {
      std::puts("failed");
      return 0;
    }
    std::printf("%lld\n", static_cast<long long>(st.st_size));
    return 0;
  }
  std::vector<char*> args(argv, argv + argc);
  char quiet[] = "-quiet";
  args.push_back(quiet);
  user_ctx ctx;
  if (ctx.parse_cmdline(static_cast<int>(args.size()), args.data()) != 0) return 2;
  return walk_engine_run(std::cout, ctx) ? 0 : 1;
}
