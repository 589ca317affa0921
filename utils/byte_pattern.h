#pragma once
// The first occurrence of a byte pattern in a buffer.
#include <vector>

#include "utils/types.h"

// True when the pattern occurs; *found is then its first offset + base.
// False for a null or empty buffer, an empty pattern, a pattern longer than
// the buffer, or a null found.
bool find_pattern(const uint8* buffer, uint32 length, const std::vector<byte>& pattern, uint64* found,
                  uint64 base);
