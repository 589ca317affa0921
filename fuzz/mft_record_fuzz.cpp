// Feeds arbitrary bytes to the FILE record path: update-sequence fixup, the
// attribute walks, resident values and the record summary.
#include <cstring>
#include <vector>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the record size the engine would read with.
  static const uint32 sizes[] = {256, 512, 1024, 4096};
  const uint32 record_size = sizes[data[0] & 3];
  std::vector<byte> rec(record_size, 0);
  std::memcpy(rec.data(), data + 1, size - 1 < record_size ? size - 1 : record_size);
  apply_update_sequence(rec.data(), record_size);

  static CNtfs engine;
  engine.m_mft_record_size = record_size;
  engine.m_mft_record_alloc_size = record_size;
  engine.m_cluster_size = 4096;
  INODE_STATS stats;
  engine.parse_file_record(rec.data(), stats);

  const uint32 types[] = {ATTR_FILE_NAME, ATTR_DATA, ATTR_INDEX_ROOT, ATTR_ATTRIBUTE_LIST};
  for (uint32 type : types) {
    const byte* attr = nullptr;
    bool have = find_attribute(rec.data(), record_size, type, attr);
    while (have) {
      const uint32 length = load_u32(attr, AH_LENGTH);
      byte_view view;
      if (resident_value(attr, length, view) && type == ATTR_ATTRIBUTE_LIST) {
        uint32 at = 0;
        while (find_attribute_list_entry(view.data, static_cast<uint32>(view.size), ATTR_DATA, at))
          at += load_u16(view.data, at + ALE_LENGTH);
      }
      attribute_name(attr, length, view);
      std::vector<run_record> runs;
      decode_attribute_runs(attr, record_size - static_cast<uint32>(attr - rec.data()), runs);
      have = find_next_attribute(rec.data(), record_size, attr, type);
    }
  }
  const uint16 name[] = {'$', 'I', '3', '0'};
  const byte* attr = nullptr;
  find_attribute_by_name(rec.data(), record_size, ATTR_INDEX_ROOT, attr, name, 4);
  return 0;
}
