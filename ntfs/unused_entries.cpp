// The MFT entries the $MFT bitmap marks free: their names and parents, or
// everything the engine knows about each.
#include <algorithm>
#include <map>
#include <new>
#include <vector>

#include "ntfs/dir_children.h"
#include "ntfs/entry_info.h"
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
    clear_cut_record_tail(buf, static_cast<uint32>(size), bound);
    file_name_map found;
    collect_all_file_names(found, this, n, rec.data(), false, ~0ULL);
    for (const auto& kv : found) {
      names.emplace_back(n, kv.second.name);
      const ulong64 parent = mft_reference_entry(kv.second.parent);
      byte* pbuf = parent_rec.data();
      size = static_cast<int>(bound);
      if (!read_mft_record(parent, pbuf, pos, size, false)) continue;
      clear_cut_record_tail(pbuf, static_cast<uint32>(size), bound);
      file_name_map parent_names;
      if (collect_all_file_names(parent_names, this, parent, parent_rec.data(), false, ~0ULL) &&
          !parent_names.empty())
        parents.emplace_back(parent, parent_names.begin()->second.name);
    }
  }
}

bool CNtfs::collect_unused_entries(std::map<ulong64, inode_info>& out) {
  if (!m_Validated || !m_mft_record0 || m_mft_record_alloc_size == 0) return false;
  const uint32 bound = m_mft_record_alloc_size;
  const byte* bitmap_attr = nullptr;
  const byte* data_attr = nullptr;
  if (!find_attribute(m_mft_record0, bound, ATTR_BITMAP, bitmap_attr) ||
      !find_attribute(m_mft_record0, bound, ATTR_DATA, data_attr))
    return false;
  ulong64 bitmap_size = 0;
  ulong64 data_size = 0;
  if (!get_attribute_size(bitmap_attr, bitmap_size) || !get_attribute_size(data_attr, data_size)) return false;
  bitmap_size &= 0xFFFFFFFFULL;
  // Entries exist only where the $MFT's runs map clusters inside the volume:
  // a $DATA size larger than that names records no one can read.
  const ulong64 count = std::min<ulong64>(data_size / bound, get_inode_count());
  // One bit per entry: a bitmap far larger than the entries need is corrupt,
  // and is refused like an allocation that failed.
  if (bitmap_size > count / 8 + 2ULL * m_cluster_size) return true;
  std::vector<byte> bitmap;
  try {
    bitmap.assign(static_cast<size_t>(bitmap_size) + 1, 0);
  } catch (const std::bad_alloc&) {
    return true;
  }
  byte* cursor = nullptr;
  const uint32 length = static_cast<uint32>(bitmap_size);
  if (!read_attribute_value(m_mft_record0, ATTR_BITMAP, bitmap.data(), length, cursor, false)) return false;
  inode_info info;
  for (ulong64 n = 0; n < count; ++n) {
    if (test_bitmap_bit(bitmap.data(), length, n)) continue;
    if (get_inode_info(n, info, ~0ULL, ~0ULL)) out.emplace(n, info);
  }
  return true;
}
