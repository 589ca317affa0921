#pragma once
// Running out of memory on demand. Once armed, allocation number `n` (from
// 0, counted from the arming) throws std::bad_alloc, as it would when memory
// runs out, and every later one succeeds again; disarmed, allocations are
// neither counted nor failed. Every allocation goes to malloc.
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

}  // namespace quor_test
