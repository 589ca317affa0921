// Sizes of an entry's data streams, read from its record (and from the
// extension record that holds a stream's first piece).
#include <cstring>
#include <vector>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"

namespace {

uint32 units_of(const uint16* name) {
  uint32 n = 0;
  if (name)
    while (name[n]) ++n;
  return n;
}

void sizes_of(const byte* attr, ulong64& allocated, ulong64& size) {
  const uint32 length = load_u32(attr, AH_LENGTH);
  if (attr[AH_NON_RESIDENT] && length >= AH_NON_RESIDENT_SIZE) {
    allocated = load_u64(attr, AH_ALLOCATED_SIZE);
    size = load_u64(attr, AH_INITIALIZED_SIZE);
  } else if (!attr[AH_NON_RESIDENT]) {
    allocated = size = load_u32(attr, AH_VALUE_LENGTH);
  }
}

}  // namespace

bool CNtfs::get_data_attribute_sizes(ulong64 inode, ulong64& size, ulong64& compressed_size, bool& flagged) {
  size = 0;
  compressed_size = 0;
  flagged = false;
  std::vector<byte> rec;
  bool torn = false;
  if (!read_mft_record_to_vector(rec, torn, inode)) return false;
  const byte* attr = nullptr;
  if (!find_attribute_by_name(rec.data(), static_cast<uint32>(rec.size()), ATTR_DATA, attr, nullptr, 0)) return false;
  const uint32 length = load_u32(attr, AH_LENGTH);
  flagged = load_u16(attr, AH_FLAGS) != 0;
  if (attr[AH_NON_RESIDENT]) {
    if (length < AH_NON_RESIDENT_SIZE) return false;
    size = load_u64(attr, AH_INITIALIZED_SIZE);
    if (attr[AH_COMPRESSION_UNIT] && length >= AH_COMPRESSED_SIZE + 8) compressed_size = load_u64(attr, AH_COMPRESSED_SIZE);
  } else {
    size = load_u32(attr, AH_VALUE_LENGTH);
    if (flagged) compressed_size = size;
  }
  return true;
}

bool CNtfs::get_stream_sizes(ulong64 inode, ulong64& allocated, ulong64& size, const uint16* name) {
  allocated = 0;
  size = 0;
  std::vector<byte> rec;
  bool torn = false;
  if (!read_mft_record_to_vector(rec, torn, inode)) return false;
  const uint32 units = units_of(name);
  const byte* attr = nullptr;
  if (find_attribute_by_name(rec.data(), static_cast<uint32>(rec.size()), ATTR_DATA, attr, name, units)) {
    sizes_of(attr, allocated, size);
    return true;
  }
  // Not in the base record: the list names the record holding the first piece.
  const byte* list_attr = nullptr;
  std::vector<byte> list;
  if (!find_attribute(rec.data(), static_cast<uint32>(rec.size()), ATTR_ATTRIBUTE_LIST, list_attr) ||
      list_attr[AH_NON_RESIDENT] || !read_attribute_list_value(list_attr, load_u32(list_attr, AH_LENGTH), list))
    return false;
  uint32 at = 0;
  const uint32 list_len = static_cast<uint32>(list.size());
  for (; find_attribute_list_entry(list.data(), list_len, ATTR_DATA, at); at += load_u16(list.data(), at + ALE_LENGTH)) {
    const byte* entry = list.data() + at;
    if (load_u64(entry, ALE_FIRST_VCN) != 0 || entry[ALE_NAME_LENGTH] != units) continue;
    const uint32 name_at = entry[ALE_NAME_OFFSET];
    if (units && !fits(load_u16(entry, ALE_LENGTH), name_at, 2ULL * units)) continue;
    bool same = true;
    for (uint32 i = 0; i < units && same; ++i) same = load_u16(entry, name_at + 2 * i) == name[i];
    if (!same) continue;
    std::vector<byte> holder;
    if (!read_mft_record_to_vector(holder, torn, mft_reference_entry(load_u64(entry, ALE_REFERENCE)))) return false;
    if (!find_attribute_by_name(holder.data(), static_cast<uint32>(holder.size()), ATTR_DATA, attr, name, units))
      return false;
    sizes_of(attr, allocated, size);
    return true;
  }
  return false;
}
