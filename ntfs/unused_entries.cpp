// Names of the MFT entries the $MFT bitmap marks free, and of their parents.
#include <vector>

#include "ntfs/dir_children.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"

void CNtfs::scan_unused_entries(entry_name_list& names, entry_name_list& parents) {
  if (!m_Validated || !m_mft_record0) return;
  const uint32 bound = m_mft_record_alloc_size;
  const byte* bitmap_attr = nullptr;
  if (!find_attribute(m_mft_record0, bound, ATTR_BITMAP, bitmap_attr)) return;
  ulong64 bitmap_size = 0;
  if (!get_attribute_size(bitmap_attr, bitmap_size)) return;
  // One bit per entry: a bitmap larger than the entries need is corrupt.
  if (bitmap_size == 0 || bitmap_size > m_num_inodes / 8 + 2ULL * m_cluster_size) return;
  std::vector<byte> bitmap(static_cast<size_t>(bitmap_size), 0);
  byte* cursor = nullptr;
  if (!read_attribute_value(m_mft_record0, ATTR_BITMAP, bitmap.data(), static_cast<uint32>(bitmap.size()), cursor,
                            false))
    return;
  std::vector<byte> rec(bound);
  std::vector<byte> parent_rec(bound);
  for (ulong64 n = 0; n < m_num_inodes; ++n) {
    if (test_bitmap_bit(bitmap.data(), static_cast<uint32>(bitmap.size()), n)) continue;
    byte* buf = rec.data();
    ulong64 pos = 0;
    int size = static_cast<int>(bound);
    if (!read_mft_record(n, buf, pos, size, false)) continue;
    file_name_map found;
    collect_all_file_names(found, this, n, rec.data(), false, ~0ULL);
    for (const auto& kv : found) {
      names.emplace_back(n, kv.second.name);
      const ulong64 parent = mft_reference_entry(kv.second.parent);
      byte* pbuf = parent_rec.data();
      size = static_cast<int>(bound);
      if (!read_mft_record(parent, pbuf, pos, size, false)) continue;
      file_name_map parent_names;
      if (collect_all_file_names(parent_names, this, parent, parent_rec.data(), false, ~0ULL) &&
          !parent_names.empty())
        parents.emplace_back(parent, parent_names.begin()->second.name);
    }
  }
}
