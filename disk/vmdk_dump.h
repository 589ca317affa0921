#pragma once
// The row layout shared by the VMDK text reports: "0x", a position in at
// least 8 hexadecimal digits and " : " before every row of eight 32-bit
// entries. The reports themselves are members of vmdk_extent and vmdk_disk;
// the probes over raw bytes are in vmdk_probe.h.
#include <cstddef>
#include <iosfwd>

#include "utils/types.h"

// Sets the stream to lower-case hexadecimal with '0' fill (left so) and
// writes "0x", `position` in at least 8 digits and " : ".
std::ostream& write_vmdk_prefix(std::ostream& os, ulong64 position);

// `count` entries in rows of eight, each entry in 8 digits and a blank; the
// first row's prefix shows `first`, each later one `row_step` more. One more
// newline follows the last entry, so a count that is a multiple of 8 ends
// with an empty line.
void write_vmdk_rows(std::ostream& os, const uint32* entries, size_t count, ulong64 first, ulong64 row_step);
