#pragma once
// 64-bit values split into and joined from two 32-bit halves, high first.
#include "utils/types.h"

// Writes both halves and returns the high one.
uint32 split_u64(ulong64 value, uint32& high, uint32& low);
uint32 split_long64(long64 value, uint32& high, uint32& low);
// high x 2^32 + low.
ulong64 make_u64(uint32 high, uint32 low);
// Always true; out holds the value with its four bytes reversed.
bool byte_swap32(uint32 value, uint32& out);
