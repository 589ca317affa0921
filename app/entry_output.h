#pragma once
// Chooses which of a directory's gathered entries to write and writes each
// one to standard output: a labelled text block, a CSV line, log2timeline
// CSV rows or a bodyfile line, as the context says.
#include <ostream>
#include <string>

#include "app/dir_listing.h"
#include "app/user_ctx.h"
#include "ntfs/index_node.h"

// Clears the status line, then writes the entries the selection flags pick
// (valid, slack, all, nodups) in collection order.
void write_dir_entries(inode_indx_mmap& all_entries, string_indx_map& nodup_entries, user_ctx& ctx);
// The same for a merged directory listing (the status line is the caller's).
void write_dir_listing(const dir_listing& listing, user_ctx& ctx);

// One entry in the chosen form: csvl2t first, then bodyfile, then csv, else
// the text block.
void write_indx_entry(std::ostream& out, const INDX_ENTRY_INFO& e, user_ctx& ctx);

// The same, appended to `out`.
void append_indx_entry(std::string& out, const INDX_ENTRY_INFO& e, user_ctx& ctx);
