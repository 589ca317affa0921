#pragma once
// INDX records of a directory's $INDEX_ALLOCATION: their size, their
// update-sequence fixup, and the CNtfs readers (defined in index_record.cpp):
//   CNtfs::read_index_allocation   the whole allocation as one stream in VCN
//                                  order, every record fixed up in its slot
//   CNtfs::read_and_fix_indexrecord one record at a VCN through a cluster list
#include "ntfs/ntfs.h"
#include "utils/types.h"

// INDX record layout: signature, update-sequence array, node header at 24.
const uint32 INDX_NODE_OFFSET = 24;
// The record size almost every volume uses, whatever its cluster size.
const uint32 INDX_DEFAULT_RECORD_SIZE = 4096;
// No index record is larger; a larger allocated size is damage.
const uint32 INDX_MAX_RECORD_SIZE = 65536;

// True for an index record size the readers accept: a power of two from 512
// to 65536 bytes (an $INDEX_ROOT names it in its u32 at value offset 8).
bool is_valid_index_record_size(uint32 record_size);

// Checks the "INDX" signature of the `record_size` bytes at `record` and
// undoes their update-sequence protection in place (512-byte stride): the
// first min(count - 1, record_size / 512) sectors when the whole array lies
// inside the record, none otherwise. The check value is not compared. False,
// with the bytes untouched, only when the signature is missing.
bool fix_indx_record(byte* record, uint32 record_size);
