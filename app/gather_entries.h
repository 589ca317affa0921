#pragma once
// Gathers one directory's index entries: reads its MFT record and has the
// engine parse every $FILE_NAME index it holds ($INDEX_ROOT and the INDX
// records of $INDEX_ALLOCATION, a piece at a time) into live and carved
// entries, ready for the merge.
#include <vector>

#include "app/dir_listing.h"
#include "app/merge_entries.h"
#include "app/record_reader.h"
#include "app/user_ctx.h"
#include "ntfs/index_node.h"
#include "utils/types.h"

// Fills `listing` (cleared first) with one attribute per index of the
// directory, in the record's order; `buffer` is the caller's scratch, kept
// across directories. An index of views or quotas, or one that cannot be
// read whole, gives an attribute without entries. False when the record
// cannot be read (then "invalid inode" is written on standard output) or
// there is no usable source.
bool gather_dir_listing(dir_listing& listing, std::vector<byte>& buffer, user_ctx& ctx, ulong64 dir_entry);

// Gathers and merges the directory and appends its rows to the two
// collections; false when it holds no entry or cannot be read.
bool collect_dir_entries(inode_indx_mmap& all_entries, string_indx_map& nodup_entries, user_ctx& ctx,
                         ulong64 dir_entry);
