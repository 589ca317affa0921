#include "app/indx_file.h"

#include <vector>

#include "app/entry_fields.h"
#include "app/entry_output.h"
#include "app/merge_entries.h"
#include "ntfs/index_node.h"
#include "ntfs/index_record.h"
#include "utils/byte_order.h"
#include "utils/file_handle.h"

namespace {

const uint32 k_record_size = 4096;
const uint32 k_piece = 0x200000;  // a whole number of records

struct indx_file_state {
  string_indx_map valid;
  inode_indx_mmap carved;
  ulong64 dir_entry = 0;
};

void parse_records(indx_file_state& state, byte* data, uint32 size, ulong64 base_offset) {
  uint32 records = size / k_record_size;
  for (uint32 i = 0; i < records; ++i) {
    byte* record = data + static_cast<size_t>(i) * k_record_size;
    if (!fix_indx_record(record, k_record_size)) continue;
    if (state.dir_entry == 0 && !state.valid.empty())
      state.dir_entry = entry_fields::parent_entry(state.valid.begin()->second);
    parse_indx_buffer_w_carve(state.valid, state.carved, state.dir_entry, record, k_record_size,
                              base_offset + static_cast<ulong64>(i) * k_record_size);
  }
}

bool merge_and_write(indx_file_state& state, user_ctx& ctx) {
  inode_indx_mmap all_entries;
  string_indx_map nodup_entries;
  if (!merge_indx_entries(all_entries, nodup_entries, state.valid, state.carved, 0xA0, ctx.mft_entry_count))
    return false;
  write_dir_entries(all_entries, nodup_entries, ctx);
  return true;
}

}  // namespace

bool analyze_indx_buffer(ulong64 dir_entry, user_ctx& ctx, byte* data, uint32 size) {
  if (!data || size < 16) return false;
  indx_file_state state;
  state.dir_entry = dir_entry;
  parse_records(state, data, size, 0);
  return merge_and_write(state, ctx);
}

indx_file_result analyze_indx_file(user_ctx& ctx) {
  uni::file_handle file(ctx.indxfile, false, false);
  if (!file.is_open()) return indx_file_unreadable;
  long64 size = file.current_size();
  if (size <= 0) return indx_file_empty;

  indx_file_state state;
  std::vector<byte> piece;
  for (ulong64 offset = 0; offset < static_cast<ulong64>(size); offset += k_piece) {
    // A piece that cannot be read fails the run: a listing that silently
    // stops part way would pass for the whole file.
    if (!file.read_bytes_at(piece, k_piece, offset) || piece.empty()) return indx_file_unreadable;
    parse_records(state, piece.data(), static_cast<uint32>(piece.size()), offset);
  }
  return merge_and_write(state, ctx) ? indx_file_done : indx_file_unparsable;
}
