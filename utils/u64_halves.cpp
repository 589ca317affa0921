#include "utils/u64_halves.h"

uint32 split_u64(ulong64 value, uint32& high, uint32& low) {
  high = static_cast<uint32>(value >> 32);
  low = static_cast<uint32>(value);
  return high;
}

uint32 split_long64(long64 value, uint32& high, uint32& low) {
  return split_u64(static_cast<ulong64>(value), high, low);
}

ulong64 make_u64(uint32 high, uint32 low) { return (static_cast<ulong64>(high) << 32) | low; }

bool byte_swap32(uint32 value, uint32& out) {
  out = ((value & 0xFF) << 24) | ((value & 0xFF00) << 8) | ((value >> 8) & 0xFF00) | (value >> 24);
  return true;
}
