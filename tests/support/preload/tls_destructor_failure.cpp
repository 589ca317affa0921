// Preloaded into a program under test: calloc fails when glibc's
// __cxa_thread_atexit_impl asks it for the record of a thread-local
// destructor (glibc 2.36 takes that record from calloc, and ends the
// process when it gets none), and works as usual for every other caller.
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

extern "C" void* calloc(size_t count, size_t size) {
  Dl_info caller;
  if (dladdr(__builtin_return_address(0), &caller) != 0 && caller.dli_sname != nullptr &&
      std::strcmp(caller.dli_sname, "__cxa_thread_atexit_impl") == 0)
    return nullptr;
  if (size != 0 && count > static_cast<size_t>(-1) / size) return nullptr;
  void* block = std::malloc(count * size);
  if (block != nullptr) std::memset(block, 0, count * size);
  return block;
}
