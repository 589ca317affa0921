#pragma once
// The walker's two exchange forms: body-format lines (for mactime and its
// kin) and log2timeline CSV rows, per name, parent directory and time
// source of an MFT entry. The lines themselves are written by the tool's own
// bodyfile and log2timeline writers.
#include <ostream>

#include "app/record_reader.h"
#include "app/user_ctx.h"

void write_entry_bodyfile(const inode_attributes& rec, std::ostream& out, user_ctx& ctx);
// One line: the $STANDARD_INFORMATION times with `use_si`, else those of
// `fn`; any pointer may be null.
void write_bodyfile_line(const inode_attributes& rec, std::ostream& out, user_ctx& ctx, const parent_record* parent,
                         const attribute_record* attr, const si_record* si, const filename_record* fn, bool use_si);

void write_entry_l2t(const inode_attributes& rec, std::ostream& out, user_ctx& ctx);
void write_l2t_line(const inode_attributes& rec, std::ostream& out, user_ctx& ctx, const parent_record* parent,
                    const si_record* si, const filename_record* fn, bool use_si);
