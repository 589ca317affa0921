// Preloaded into a program under test: from the allocation numbered
// QUOR_NEW_FAILS_FROM on (0 the program's first through operator new),
// every operator new throws std::bad_alloc, as it does once memory has run
// out, or with QUOR_NEW_FAILS_ONCE set that one alone, as where a large
// allocation is refused and smaller ones still go through; without that
// number every allocation goes through. Every allocation
// goes to malloc, whose memory the runtime's operator delete frees.
#include <atomic>
#include <cstdlib>
#include <new>

namespace {

long long fails_from() {
  static const long long from = [] {
    const char* text = std::getenv("QUOR_NEW_FAILS_FROM");
    return text != nullptr && *text != '\0' ? std::atoll(text) : -1LL;
  }();
  return from;
}

std::atomic<long long> made(0);

}  // namespace

void* operator new(std::size_t size) {
  const long long from = fails_from();
  static const bool once = std::getenv("QUOR_NEW_FAILS_ONCE") != nullptr;
  const long long number = made++;
  if (from >= 0 && (once ? number == from : number >= from)) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
