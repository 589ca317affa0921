#pragma once
// Little-endian loads and stores over evidence bytes. memcpy keeps them free
// of alignment and aliasing traps; callers check bounds first (see
// byte_view for the checked form).
#include <cstddef>
#include <cstring>

#include "utils/types.h"

inline uint16 load_u16(const byte* p) {
  return static_cast<uint16>(p[0] | (p[1] << 8));
}
inline uint32 load_u32(const byte* p) {
  return static_cast<uint32>(p[0]) | (static_cast<uint32>(p[1]) << 8) |
         (static_cast<uint32>(p[2]) << 16) | (static_cast<uint32>(p[3]) << 24);
}
inline uint64 load_u64(const byte* p) {
  return static_cast<uint64>(load_u32(p)) | (static_cast<uint64>(load_u32(p + 4)) << 32);
}
inline uint16 load_u16(const byte* buf, uint64 off) { return load_u16(buf + off); }
inline uint32 load_u32(const byte* buf, uint64 off) { return load_u32(buf + off); }
inline uint64 load_u64(const byte* buf, uint64 off) { return load_u64(buf + off); }

inline void store_u16(byte* p, uint16 v) {
  p[0] = static_cast<byte>(v);
  p[1] = static_cast<byte>(v >> 8);
}
inline void store_u32(byte* p, uint32 v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<byte>(v >> (8 * i));
}
inline void store_u64(byte* p, uint64 v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<byte>(v >> (8 * i));
}

// True when [off, off + width) lies inside a buffer of `size` bytes, computed
// without wrapping.
inline bool fits(uint64 size, uint64 off, uint64 width) {
  return off <= size && width <= size - off;
}

// A bounded view of evidence bytes: every load says whether it was inside.
struct byte_view {
  const byte* data = nullptr;
  uint64 size = 0;

  byte_view() = default;
  byte_view(const byte* d, uint64 n) : data(d), size(n) {}

  bool has(uint64 off, uint64 width) const { return data && fits(size, off, width); }
  bool u8(uint64 off, uint8& v) const {
    if (!has(off, 1)) return false;
    v = data[off];
    return true;
  }
  bool u16(uint64 off, uint16& v) const {
    if (!has(off, 2)) return false;
    v = load_u16(data + off);
    return true;
  }
  bool u32(uint64 off, uint32& v) const {
    if (!has(off, 4)) return false;
    v = load_u32(data + off);
    return true;
  }
  bool u64(uint64 off, uint64& v) const {
    if (!has(off, 8)) return false;
    v = load_u64(data + off);
    return true;
  }
  // The sub-range [off, off + len), or an empty view when it does not fit.
  byte_view sub(uint64 off, uint64 len) const {
    return has(off, len) ? byte_view(data + off, len) : byte_view();
  }
};
