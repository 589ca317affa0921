#include "app/indx_file.h"

#include <vector>

#include "app/entry_fields.h"
#include "app/entry_output.h"
#include "app/evidence_guard.h"
#include "app/standard_output.h"
#include "ntfs/index_node.h"
#include "ntfs/index_record.h"
#include "utils/file_handle.h"
#include "utils/status_line.h"

namespace {

const uint32 k_record_size = 4096;
const uint32 k_piece = 0x200000;  // a whole number of records
// An extracted file is one $INDEX_ALLOCATION.
const uint32 k_allocation = 0xA0;

// The parser's maps hold one record's entries at a time; the listing holds
// every entry of the file once, compactly.
struct indx_file_state {
  dir_listing& listing;
  ulong64 dir_entry;
  bool found_any = false;  // a live or carved entry, kept or not

  indx_file_state(dir_listing& l, ulong64 dir, bool keep_carved) : listing(l), dir_entry(dir) {
    listing.clear();
    listing.keep_carved(keep_carved);
    listing.add_attribute(k_allocation);
  }
};

void parse_records(indx_file_state& state, byte* data, uint32 size, ulong64 base_offset) {
  indx_attribute_entries& parsed = state.listing.parsed(0);
  const uint32 records = size / k_record_size;
  for (uint32 i = 0; i < records; ++i) {
    byte* record = data + static_cast<size_t>(i) * k_record_size;
    if (!fix_indx_record(record, k_record_size)) continue;
    parse_indx_buffer_w_carve(parsed.valid, parsed.carved, state.dir_entry, record, k_record_size,
                              base_offset + static_cast<ulong64>(i) * k_record_size);
    if (parsed.valid.empty() && parsed.carved.empty()) continue;
    state.found_any = true;
    // The directory is learnt from the first record with a live entry: the
    // parent of its lowest key. Later records carve against it.
    if (state.dir_entry == 0 && !parsed.valid.empty())
      state.dir_entry = entry_fields::parent_entry(parsed.valid.begin()->second);
    state.listing.take_parsed(0);
  }
}

void write_listing(dir_listing& listing, user_ctx& ctx) {
  print_status(" ");
  if (listing.merge(ctx.mft_entry_count)) write_dir_listing(listing, ctx);
}

}  // namespace

bool analyze_indx_buffer(ulong64 dir_entry, user_ctx& ctx, byte* data, uint32 size) {
  if (!data || size < 16) return false;
  dir_listing listing;
  indx_file_state state(listing, dir_entry, writes_carved(ctx));
  parse_records(state, data, size, 0);
  if (!state.found_any) return false;
  write_listing(listing, ctx);
  return true;
}

namespace {

indx_file_result gather_from(uni::file_handle& file, dir_listing& listing, user_ctx& ctx) {
  indx_file_state state(listing, 0, writes_carved(ctx));
  if (!file.is_open()) return indx_file_unreadable;
  long64 size = file.current_size();
  if (size <= 0) return indx_file_empty;

  std::vector<byte> piece;
  for (ulong64 offset = 0; offset < static_cast<ulong64>(size); offset += k_piece) {
    // A piece that cannot be read fails the run: a listing that silently
    // stops part way would pass for the whole file.
    if (!file.read_bytes_at(piece, k_piece, offset) || piece.empty()) return indx_file_unreadable;
    parse_records(state, piece.data(), static_cast<uint32>(piece.size()), offset);
  }
  return state.found_any ? indx_file_done : indx_file_unparsable;
}

}  // namespace

indx_file_result gather_indx_file(dir_listing& listing, user_ctx& ctx) {
  uni::file_handle file(ctx.indxfile, false, false);
  return gather_from(file, listing, ctx);
}

indx_file_result analyze_indx_file(user_ctx& ctx) {
  uni::file_handle file(ctx.indxfile, false, false);
  // The file held open is the evidence, whatever name led to it; a set
  // gathered only in part is marked so, and refuses.
  uni::file_identities opened;
  if (file.is_open()) uni::identities_of_source(file.descriptor(), opened);
  if (file.is_open() && outputs_on_opened_evidence(opened)) return indx_file_refused;
  release_standard_streams();
  // Standard output that takes nothing would lose the whole listing.
  if (file.is_open() && standard_output_failed()) return indx_file_refused;
  // A copy folder is made only beside a source that is open and checked.
  if (file.is_open() && make_copy_folder(ctx, opened) != 0) return indx_file_refused;
  dir_listing listing;
  const indx_file_result gathered = gather_from(file, listing, ctx);
  if (gathered == indx_file_done) write_listing(listing, ctx);
  return gathered;
}
