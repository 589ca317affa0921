#pragma once
// The one operation of the examination library that writes to a volume:
// overwriting a file's data with zeros, and the data size query beside it.
// Paths are "<drive letter>:<path on that volume>".
#include <string>

#include "utils/types.h"

class CNtfs;

bool get_file_data_size(const std::string& path, ulong64& size);
bool wipe_file_data(const std::string& path);

// Zeros over the unnamed $DATA of an entry of a volume opened for writing:
// every real cluster of its runs up to its data size (holes stay holes), or
// its resident value, in writes of at most `chunk` bytes. False when any
// write fails or falls short, and for compressed data, which cannot be
// overwritten in place.
bool wipe_entry_data(CNtfs* ntfs, ulong64 entry, uint32 chunk = 1u << 20);
