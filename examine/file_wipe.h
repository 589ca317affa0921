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
// every cluster of its runs that lies on disk, whole, past the data size to
// the end of its last cluster (holes stay holes), or its resident value, in
// writes of at most `chunk` bytes. False when any write fails or falls
// short, and when there is nothing to overwrite (an empty value, no cluster
// on disk). Compressed data is overwritten in its stored clusters. A run
// list that is not wholly the file's is not written at all: a run
// outside the volume or at its cluster 0, runs that do not map exactly the
// attribute's allocated size, a piece in an extension record that names
// another file as its base.
bool wipe_entry_data(CNtfs* ntfs, ulong64 entry, uint32 chunk = 1u << 20);
