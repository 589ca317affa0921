#pragma once
// Running out of memory on demand. Once armed, allocation number `n` (from
// 0, counted from the arming) throws std::bad_alloc, as it would when memory
// runs out, and every later one succeeds again; disarmed, allocations are
// neither counted nor failed. Every allocation goes to malloc. Apart from
// the count, allocations above a size can be made to fail.
//
// The allocation functions that do this are in allocation_failure_new.h,
// which exactly one test file of a program includes.
#include "utils/types.h"

namespace quor_test {

inline long64 g_fail_at = -1;
inline long64 g_allocations = 0;

// Counts allocations from now on and fails number n; a negative n disarms.
// Arming with a number past every allocation only counts.
inline void arm_allocation_failure(long64 n) {
  g_allocations = 0;
  g_fail_at = n;
}

// Allocations counted since the last arming.
inline long64 allocations_counted() { return g_allocations; }

// The largest allocation that succeeds; 0: any size.
inline unsigned long long g_most_bytes = 0;

// While one lives, every allocation of more than `bytes` throws
// std::bad_alloc, as it would where memory is short: a call whose memory
// follows a size read from disk fails at once instead of taking gigabytes.
class allocation_size_limit {
 public:
  explicit allocation_size_limit(unsigned long long bytes) { g_most_bytes = bytes; }
  ~allocation_size_limit() { g_most_bytes = 0; }
  allocation_size_limit(const allocation_size_limit&) = delete;
  allocation_size_limit& operator=(const allocation_size_limit&) = delete;
};

}  // namespace quor_test
