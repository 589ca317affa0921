#pragma once
// Packed timestamp lists: up to eight close 64-bit times stored as the
// largest one (60 bits) and each other's distance below it in the smallest
// common byte width, optionally in milliseconds.
//
// Layout, little-endian: byte 0 = count - 1 (bits 0-2), base index (bits
// 3-5), millisecond flag (bit 6); bytes 1-7 the base's bits 0-55; byte 8 its
// bits 56-59 (low half) and width - 1 (bits 4-6); then one difference per
// time other than the base, in list order.
#include <vector>

#include "utils/types.h"

namespace zq {

// Appends the packed form of `times` to `out`; returns the bytes appended, or
// 0 with nothing appended for an empty list, more than eight times, or a
// time of 2^60 or more (including one negative as a signed number), which
// the 60-bit base could not give back.
uint16 encode_packed_times(const std::vector<uint64>& times, std::vector<byte>& out,
                           bool milliseconds);
// Clears `out` and reads one packed list from `data`; returns the bytes it
// took, or 0 when the buffer is shorter than the header says or the header
// is damaged. Differences of a width the encoder never writes (3, 5, 7
// bytes) are stepped over and give no time.
uint32 decode_packed_times(const byte* data, uint32 length, std::vector<uint64>& out);

}  // namespace zq
