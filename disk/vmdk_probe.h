#pragma once
// Probes of VMDK sparse data held in memory or in a stream (a carved file, a
// region of a memory image) that find the grain directory or the volumes of
// the virtual disk without building a vmdk_extent. Every offset and count
// taken from the data is checked against the bytes given before it is used.
#include <iosfwd>
#include <vector>

#include "utils/types.h"

// The grain directory: the entries from its start up to the first grain
// table. False when the image has no sparse header or the directory does not
// lie inside it.
bool vmdk_grain_directory_from_image(const byte* image, ulong64 size, std::vector<uint32>& out);
// The same directory as a titled report whose row prefixes are entry indexes.
bool dump_vmdk_grain_directory_image(const byte* image, ulong64 size, std::ostream& os);
// Reads the header and metadata area from the stream and reports them as above.
bool dump_vmdk_grain_directory_stream(std::istream& is, std::ostream& os);

// Volumes of a monolithic image whose first grain follows the metadata:
// mbr_offset = overhead x 512 and each partition's start x 512 (a position in
// the virtual disk) appended to `volumes`. With verbose the header report
// goes to standard output.
bool vmdk_volumes_from_image(const byte* image, ulong64 size, ulong64& mbr_offset, std::vector<ulong64>& volumes,
                             bool verbose);
// Volumes found by following the first used directory and grain-table
// entries to the first stored grain: mbr_offset is that grain's position in
// the stream, and each partition's start x 512 + mbr_offset (a position in
// the stream) is appended to `volumes`.
bool vmdk_volumes_from_stream(std::istream& is, ulong64& mbr_offset, std::vector<ulong64>& volumes, bool verbose);
