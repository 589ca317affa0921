#pragma once
// Scans of raw bytes for plausible timestamps. The slack carver uses the
// window scan to find where the four FILETIMEs of a file-name key may lie.
#include <vector>

#include "time/zq_time.h"

namespace zq {

// Clears `offsets`, then tests the little-endian 8-byte slots of `buffer`
// from its start: a slot inside [low, high] adds base + 8 x slot and moves
// the scan on by step / 8 slots, any other slot by one. False without
// scanning for a null buffer, a length below 8, or a step that is 0 or not a
// multiple of 8; otherwise true when anything was found.
bool scan_filetimes_in_range(std::vector<ulong64>& offsets, const byte* buffer, int length,
                             ulong64 base, ulong64 low, ulong64 high, int step);

// Every byte position read as 32-bit Unix seconds that make a valid time.
bool scan_unix_times(const byte* buffer, uint32 length, std::vector<zq::time>& times,
                     std::vector<uint32>& offsets);
// Every byte position read as a 64-bit value, tried as Unix seconds and then
// as a FILETIME; a position may appear twice, Unix first.
bool scan_stamps(const byte* buffer, uint32 length, std::vector<zq::time>& times,
                 std::vector<uint32>& offsets);

}  // namespace zq
