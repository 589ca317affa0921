#pragma once
// INODE_STATS: the engine's summary of one MFT record (its file name and the
// runs of its $DATA, $INDEX_ALLOCATION and $BITMAP attributes).
#include <string>
#include <vector>

#include "ntfs/data_runs.h"
#include "utils/types.h"

struct INODE_STATS {
  std::string name_utf8;
  std::wstring name;
  byte file_name[68];
  uint32 file_size = 0;
  std::vector<run_record> bitmap_runs;
  std::vector<run_record> data_runs;
  std::vector<run_record> index_allocation_runs;

  INODE_STATS() { reset(); }
  void reset();
};
