#pragma once
// The log2timeline CSV and bodyfile forms of one index entry. Each fills its
// row record from the entry and the context (full name, times, sizes, the
// extracted-file offset) and appends it, with its header once per run
// (guarded by header_pending). The entry writer dispatches to them.
#include <string>

#include "app/user_ctx.h"
#include "ntfs/index_node.h"

void append_indx_entry_l2t(std::string& out, const INDX_ENTRY_INFO& e, user_ctx& ctx);
void append_indx_entry_bodyfile(std::string& out, const INDX_ENTRY_INFO& e, user_ctx& ctx);
