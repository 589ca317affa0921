#pragma once
// The time of a version-1 GUID: a 60-bit count of 100-ns ticks since
// 1582-10-15 00:00:00 UTC, with a clock sequence and a node, in the Windows
// in-memory layout (Data1, Data2 and Data3 little-endian).
#include <vector>

#include "utils/guid_record.h"
#include "utils/types.h"

namespace zq {

// Ticks from 1582-10-15 to 1601-01-01.
constexpr uint64 guid_epoch_ticks = 5748192000000000ULL;

// `guid` points at 16 bytes. False (both numbers 0, node untouched) unless it
// is a version-1 GUID from 1601 on; otherwise the FILETIME, the 14-bit clock
// sequence, and the six node bytes appended to `node`.
bool guid_to_filetime(uint64& filetime, uint16& clock_sequence, std::vector<byte>& node,
                      const byte* guid);
// The same for a GUID held as a record of its fields.
bool guid_to_filetime(uint64& filetime, uint16& clock_sequence, std::vector<byte>& node,
                      const GUID& guid);

}  // namespace zq
