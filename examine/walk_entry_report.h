#pragma once
// The walker's CSV and text forms describe an MFT entry as a timeline: one
// row per distinct instant of its timestamps, with the MACB letters of each
// time source, its names and path, and descriptive columns.
#include <ostream>
#include <string>

#include "app/record_reader.h"
#include "app/user_ctx.h"

// One report of the entry, under `parent` (may be null) and narrowed to
// `attr` (may be null); `whole_record` describes all of the entry's
// attributes in the cluster column instead. Writes through the timeline CSV
// writer when ctx.csv is set, else through the text table writer.
void write_entry_report(const inode_attributes& rec, std::ostream& out, user_ctx& ctx, const parent_record* parent,
                        const attribute_record* attr, bool whole_record);

// "[name : label : sz: 0x.... : text or runs]" for every attribute with
// data, joined by `separator`.
void describe_runs(const inode_attributes& rec, std::ostream& out, const std::string& separator, bool omit_runs);

// The size the walker shows for an attribute: a non-resident one's larger
// of real and initialized size, a resident one's value length; 0 without
// bytes.
ulong64 walk_attribute_size(const attribute_record& attr);
// The size an attribute's data takes as stored: a non-resident one's
// allocated size, a resident one's value length; 0 without bytes.
ulong64 walk_stored_size(const attribute_record& attr);
