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
// there is no usable source. Without keep_carved only live entries are kept.
// An index allocation is read in pieces of about piece_bytes (0: 1 MiB),
// never fewer than eight records.
bool gather_dir_listing(dir_listing& listing, std::vector<byte>& buffer, user_ctx& ctx, ulong64 dir_entry,
                        bool keep_carved = true, uint64 piece_bytes = 0);

// One directory gathered attribute by attribute: both buffers are emptied,
// the record is read ("invalid inode" on standard output when it cannot be),
// and every $INDEX_ROOT and $INDEX_ALLOCATION of a $FILE_NAME index goes to
// collect_indx_attribute, which merges it into the two collections on its
// own. True when all_entries holds an entry afterwards, also one filed by an
// earlier call; false without a volume or when the record cannot be read.
bool collect_dir_entries(std::vector<byte>& allocation, std::vector<byte>& root, inode_indx_mmap& all_entries,
                         string_indx_map& nodup_entries, user_ctx& ctx, ulong64 dir_entry);

// One index attribute of the directory: `type` 0xA0 reads the allocation
// into `buffer` and parses it as 4 KiB INDX records (nothing when it cannot
// be read or holds less than one record); 0x90 copies the root's node into
// `buffer` and parses it, with file offsets from the node header. The parsed
// entries are merged into the collections by merge_indx_entries. True when
// that merge filed anything.
bool collect_indx_attribute(std::vector<byte>& buffer, inode_indx_mmap& all_entries, string_indx_map& nodup_entries,
                            ulong64 dir_entry, user_ctx& ctx, const attribute_record& attribute, uint32 type);
