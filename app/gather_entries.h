#pragma once
// Gathers one directory's index entries: reads its MFT record, has the
// engine parse every $FILE_NAME index it holds ($INDEX_ROOT and the INDX
// records of $INDEX_ALLOCATION) into live and carved entries, and merges
// them all at once into the directory's two collections.
#include <vector>

#include "app/merge_entries.h"
#include "app/record_reader.h"
#include "app/user_ctx.h"
#include "ntfs/index_node.h"
#include "utils/types.h"

// The scratch buffers are the caller's, kept across directories; both are
// emptied first. True when all_entries holds at least one entry afterwards
// (entries of earlier calls count too). Writes "invalid inode" on standard
// output when the record cannot be read.
bool collect_dir_entries(std::vector<byte>& allocation_buffer, std::vector<byte>& root_buffer,
                         inode_indx_mmap& all_entries, string_indx_map& nodup_entries, user_ctx& ctx,
                         ulong64 dir_entry);

// Parses one index attribute of the directory (0x90 $INDEX_ROOT or 0xA0
// $INDEX_ALLOCATION) into `out`, using `buffer` for its bytes. `record` is
// the directory's record, whose $INDEX_ROOT gives the index record size and
// whose $BITMAP tells the INDX records in use from the freed ones. Nothing is
// added when the attribute cannot be read.
void collect_indx_attribute(std::vector<byte>& buffer, indx_attribute_entries& out, ulong64 dir_entry,
                            user_ctx& ctx, const inode_attributes& record, const attribute_record& attribute,
                            uint32 type);
