#pragma once
// Selecting files by signature: attribute tests (extension, size range, time)
// and byte patterns searched in a region, at the start of every 512-byte
// block, or in the tail of the file.
#include <string>
#include <vector>

#include "utils/types.h"

struct file_signature {
  uint64 time_threshold = 0;  // Unix seconds; 0 lets every file pass
  uint64 min_size = 0;        // inclusive size range in bytes
  uint64 max_size = ~uint64(0);
  std::wstring ext;  // required extension, case kept; empty means any
  uint32 region_start = 0;
  uint32 region_end = 0;
  std::vector<byte> region_pattern;
  uint32 tail_length = 0;  // 1 .. 16383 bytes at the end of the file
  std::vector<byte> tail_pattern;
  uint32 block_length = 0;  // 1 .. 511 bytes at the start of every 512-byte block
  std::vector<byte> block_pattern;
};

// Keeps, in their order, the paths that some signature selects (see the
// definition for how its tests combine). False when `paths` is empty or
// nothing was kept; an empty signature list keeps every path and gives true.
bool filter_files_by_signature(std::vector<std::string>& paths, const std::vector<file_signature>& signatures);
