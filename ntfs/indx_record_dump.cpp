#include "ntfs/indx_record_dump.h"

#include <cstring>
#include <ostream>
#include <vector>

#include "ntfs/index_record.h"
#include "ntfs/index_reports.h"
#include "utils/byte_order.h"
#include "utils/case_text.h"

namespace {

const uint32 k_min_record = 4096;
const uint32 k_entry_header = 16;
const uint16 k_last_entry = 2;

// A copy of the record with its update-sequence array applied over the last
// two bytes of every `sector_size` stride that lies inside the record.
bool fixed_copy(const byte* record, int size, int sector_size, std::vector<byte>& copy) {
  if (!record || size < static_cast<int>(k_min_record) || std::memcmp(record, "INDX", 4) != 0) return false;
  copy.assign(record, record + size);
  if (sector_size <= 0) return true;
  const uint64 stride = static_cast<uint64>(sector_size);
  const uint64 array = load_u16(copy.data(), 4);
  const uint32 count = load_u16(copy.data(), 6);
  for (uint32 i = 1; i < count; ++i) {
    const uint64 tail = i * stride;
    if (tail < 2 || tail > copy.size() || !fits(copy.size(), array + 2ULL * i, 2)) break;
    std::memcpy(copy.data() + tail - 2, copy.data() + array + 2ULL * i, 2);
  }
  return true;
}

// Walks the node's entries: `show` gets each entry's view and its offset in
// the record. A directory index ends at its last-entry record; a view index
// at the first entry that starts at or past the node's entry size, as the
// record counts it.
template <typename Show>
void walk_entries(const std::vector<byte>& copy, bool directory, Show show) {
  const byte_view record(copy.data(), copy.size());
  const uint64 node = INDX_NODE_OFFSET;
  const uint64 first = node + load_u32(copy.data(), node);
  const uint32 index_length = load_u32(copy.data(), node + 4);
  uint64 end = node + index_length;
  if (end > record.size) end = record.size;
  for (uint64 at = first; fits(end, at, k_entry_header);) {
    const uint32 length = load_u16(copy.data(), at + 8);
    if (length < k_entry_header || !fits(end, at, length)) break;
    if (directory) {
      if (load_u64(copy.data(), at) == 0 || load_u16(copy.data(), at + 12) == k_last_entry) break;
    } else if (at >= index_length) {
      break;
    }
    show(record.sub(at, length), at);
    at += length;
  }
}

}  // namespace

bool dump_indx_record(const char* index_name, const byte* record, int size, int sector_size, std::ostream& out,
                      uint32 base_offset) {
  std::vector<byte> copy;
  if (!fixed_copy(record, size, sector_size, copy)) return false;
  dump_indx_header(out, byte_view(copy.data(), copy.size()), base_offset);
  const bool directory = index_name && compare(index_name, "$I30", true) == 0;
  walk_entries(copy, directory, [&](const byte_view& entry, uint64 at) {
    const uint32 position = static_cast<uint32>(at + base_offset);
    if (directory)
      dump_dir_entry(index_name, out, entry, position);
    else
      dump_index_entries(index_name, out, entry, position);
    out << "\n";
  });
  return true;
}

bool dump_indx_record_short(const char* index_name, const byte* record, int size, int sector_size,
                            std::ostream& out, bool with_header) {
  std::vector<byte> copy;
  if (!fixed_copy(record, size, sector_size, copy)) return false;
  const bool directory = index_name && compare(index_name, "$I30", true) == 0;
  bool header = with_header;
  walk_entries(copy, directory, [&](const byte_view& entry, uint64) {
    if (directory)
      print_index_entry_line(index_name, out, entry, header);
    else
      print_view_index_entry_line(index_name, out, entry, header);
    header = false;
  });
  return true;
}
