#pragma once
// The program's allocation functions, replaced by ones that fail when
// allocation_failure.h says so. Exactly one test file of a program includes
// this header.
#include <cstdlib>
#include <new>

#include "tests/support/allocation_failure.h"

// These are the allocation functions themselves: their delete frees what
// their new took from malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (quor_test::g_fail_at >= 0 && quor_test::g_allocations++ == quor_test::g_fail_at) throw std::bad_alloc();
  if (quor_test::g_most_bytes != 0 && size > quor_test::g_most_bytes) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return operator new(size, std::nothrow); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop
