#include "utils/byte_pattern.h"

#include <algorithm>

bool find_pattern(const uint8* buffer, uint32 length, const std::vector<byte>& pattern, uint64* found,
                  uint64 base) {
  if (!buffer || length == 0 || !found || pattern.empty() || pattern.size() > length) return false;
  const uint8* end = buffer + length;
  const uint8* hit = std::search(buffer, end, pattern.begin(), pattern.end());
  if (hit == end) return false;
  *found = static_cast<uint64>(hit - buffer) + base;
  return true;
}
