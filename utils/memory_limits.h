#pragma once
// Work whose buffers grow with its input may find no memory for them (or a
// size no container can hold, as on a 32-bit host). The library answers
// that with the operation's own failure result rather than ending the
// process; what the work made is dropped with its unwinding.
#include <new>
#include <stdexcept>
#include <utility>

// `work()`, or `failed` when it ran out of memory.
template <class Result, class Work>
Result or_without_memory(Result failed, Work&& work) {
  try {
    return std::forward<Work>(work)();
  } catch (const std::bad_alloc&) {
    return failed;
  } catch (const std::length_error&) {
    return failed;
  }
}
