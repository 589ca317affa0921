#include "time/time_scan.h"

#include "utils/byte_order.h"

namespace zq {

bool scan_filetimes_in_range(std::vector<ulong64>& offsets, const byte* buffer, int length,
                             ulong64 base, ulong64 low, ulong64 high, int step) {
  offsets.clear();
  if (!buffer || length < 8 || step <= 0 || step % 8 != 0) return false;
  const uint32 slots = static_cast<uint32>(length) / 8;
  const uint32 skip = static_cast<uint32>(step) / 8;
  // One subtraction and one comparison per slot; the unsigned wrap turns the
  // two-sided window test into one.
  const ulong64 span = high - low;
  const bool empty_window = high < low;
  for (uint32 i = 0; i < slots;) {
    const ulong64 v = load_u64(buffer + static_cast<uint64>(i) * 8);
    if (!empty_window && v - low <= span) {
      offsets.push_back(base + static_cast<ulong64>(i) * 8);
      if (skip > slots - i) break;
      i += skip;
    } else {
      ++i;
    }
  }
  return !offsets.empty();
}

bool scan_unix_times(const byte* buffer, uint32 length, std::vector<zq::time>& times,
                     std::vector<uint32>& offsets) {
  times.clear();
  offsets.clear();
  if (!buffer || length < 8) return false;
  for (uint32 p = 0; p + 4 < length; ++p) {
    zq::time t(load_u32(buffer + p));
    if (!t.m_valid) continue;
    times.push_back(t);
    offsets.push_back(p);
  }
  return true;
}

bool scan_stamps(const byte* buffer, uint32 length, std::vector<zq::time>& times,
                 std::vector<uint32>& offsets) {
  times.clear();
  offsets.clear();
  if (!buffer || length < 8) return false;
  for (uint32 p = 0; p + 8 < length; ++p) {
    const uint64 v = load_u64(buffer + p);
    zq::time as_unix(v, type_unix);
    if (as_unix.m_valid) {
      times.push_back(as_unix);
      offsets.push_back(p);
    }
    if (!is_valid_filetime(v)) continue;
    times.push_back(zq::time(v, type_filetime));
    offsets.push_back(p);
  }
  return true;
}

}  // namespace zq
