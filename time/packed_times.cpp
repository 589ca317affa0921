#include "time/packed_times.h"

#include <cstddef>

namespace {

constexpr uint64 base_limit = 1ULL << 60;
constexpr uint64 ms_unit = 10000;
constexpr uint32 header_size = 9;

uint32 width_for(uint64 largest) {
  if (largest < (1ULL << 8)) return 1;
  if (largest < (1ULL << 16)) return 2;
  if (largest < (1ULL << 32)) return 4;
  if (largest < (1ULL << 48)) return 6;
  return 8;
}

void append_le(std::vector<byte>& out, uint64 v, uint32 width) {
  for (uint32 i = 0; i < width; ++i) out.push_back(static_cast<byte>(v >> (8 * i)));
}

uint64 read_le(const byte* p, uint32 width) {
  uint64 v = 0;
  for (uint32 i = 0; i < width; ++i) v |= static_cast<uint64>(p[i]) << (8 * i);
  return v;
}

}  // namespace

namespace zq {

uint16 encode_packed_times(const std::vector<uint64>& times, std::vector<byte>& out,
                           bool milliseconds) {
  const std::size_t count = times.size();
  if (count == 0 || count > 8) return 0;
  std::size_t base_index = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (times[i] >= base_limit) return 0;
    if (times[i] > times[base_index]) base_index = i;
  }
  const uint64 base = times[base_index];
  uint64 largest = 0;
  std::vector<uint64> diffs;
  diffs.reserve(count - 1);
  for (std::size_t i = 0; i < count; ++i) {
    if (i == base_index) continue;
    uint64 d = base - times[i];
    if (milliseconds) d /= ms_unit;
    if (d > largest) largest = d;
    diffs.push_back(d);
  }
  const uint32 width = width_for(largest);
  out.push_back(static_cast<byte>((count - 1) | (base_index << 3) | (milliseconds ? 0x40 : 0)));
  append_le(out, base, 8);
  out.back() = static_cast<byte>(((base >> 56) & 0x0F) | ((width - 1) << 4));
  for (uint64 d : diffs) append_le(out, d, width);
  return static_cast<uint16>(header_size + (count - 1) * width);
}

uint32 decode_packed_times(const byte* data, uint32 length, std::vector<uint64>& out) {
  out.clear();
  if (!data || length < header_size) return 0;
  const uint32 count = (data[0] & 7u) + 1;
  const uint32 base_index = (data[0] >> 3) & 7u;
  const bool milliseconds = (data[0] & 0x40) != 0;
  // A base outside the list is a damaged header: no time could be trusted.
  if (base_index >= count) return 0;
  const uint64 base = read_le(data + 1, 7) | (static_cast<uint64>(data[8] & 0x0F) << 56);
  const uint32 width = ((data[8] >> 4) & 7u) + 1;
  const uint32 needed = header_size + (count - 1) * width;
  if (length < needed) return 0;
  const bool readable = width == 1 || width == 2 || width == 4 || width == 6 || width == 8;
  const byte* p = data + header_size;
  for (uint32 i = 0; i < count; ++i) {
    if (i == base_index) {
      out.push_back(base);
      continue;
    }
    if (readable) {
      const uint64 d = read_le(p, width);
      out.push_back(base - (milliseconds ? d * ms_unit : d));
    }
    p += width;
  }
  return needed;
}

}  // namespace zq
