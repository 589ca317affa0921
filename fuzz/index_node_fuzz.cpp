// libFuzzer target: an INDX record as found on disk goes through the fixup
// and the node parser with slack carving; the same bytes also go through
// the parser as a bare node (an $INDEX_ROOT or an extracted file). Nothing
// may be read outside the input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ntfs/index_node.h"
#include "ntfs/index_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  // The first byte picks the directory entry the carver looks for.
  const ulong64 dir_entry = data[0] % 4 == 0 ? 0 : 5 + data[0];
  std::vector<byte> record(data + 1, data + size);

  string_indx_map valid;
  inode_indx_mmap carved;
  parse_index_node_w_carve(valid, carved, dir_entry, record.data(), static_cast<int>(record.size()), 0);
  parse_unused_index_node_w_carve(carved, dir_entry, record.data(), static_cast<int>(record.size()), 0);

  // As an INDX record of the next power-of-two size that holds it.
  uint32 record_size = 512;
  while (record_size < record.size() && record_size < 65536) record_size *= 2;
  record.resize(record_size, 0);
  if (fix_indx_record(record.data(), record_size))
    parse_indx_buffer_w_carve(valid, carved, dir_entry, record.data(), static_cast<int>(record_size), 0);
  parse_index_allocation_w_carve(valid, carved, dir_entry, record.data(), record.size(), record_size, data, 1, 0);
  return 0;
}
