#pragma once
// The log2timeline CSV and bodyfile forms of one index entry. Each fills its
// row record from the entry and the context (full name, times, sizes, the
// extracted-file offset) and writes it, with its header once per run
// (guarded by header_pending). The entry writer dispatches to them.
#include <ostream>
#include <string>

#include "app/user_ctx.h"
#include "ntfs/index_node.h"

bool write_indx_entry_l2t(std::ostream& out, const INDX_ENTRY_INFO& e, user_ctx& ctx);
bool write_indx_entry_bodyfile(std::ostream& out, const INDX_ENTRY_INFO& e, user_ctx& ctx);
// The same two, appended to `out`.
void append_indx_entry_l2t(std::string& out, const INDX_ENTRY_INFO& e, user_ctx& ctx);
void append_indx_entry_bodyfile(std::string& out, const INDX_ENTRY_INFO& e, user_ctx& ctx);
