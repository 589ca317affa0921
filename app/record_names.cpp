#include "app/record_names.h"

#include <algorithm>

#include "app/record_reader.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs_structs.h"
#include "utils/byte_order.h"
#include "utils/utf16le.h"

namespace {

// The offset of the name in a $FILE_NAME value (after the 66 fixed bytes).
const uint32 k_name_start = 66;

}  // namespace

bool record_names_reader::read(std::wstring& name, ulong64_set& parents, bool& is_dir, ulong64 entry,
                               user_ctx& ctx) {
  name.clear();
  parents.clear();
  is_dir = false;
  bool is_baad = false;
  if (!read_source_record(record_, is_baad, ctx, entry) || is_baad || record_.size() < FRH_SIZE) return false;
  const byte* rec = record_.data();
  const uint32 size = static_cast<uint32>(record_.size());
  is_dir = (load_u16(rec + FRH_FLAGS) & FILE_RECORD_DIRECTORY) != 0;

  keys_.clear();
  parents_.clear();
  bool named = false;
  ulong64 first_key = 0;
  uint32 offset = load_u16(rec + FRH_FIRST_ATTRIBUTE);
  if (offset == 0) return false;
  const uint32 limit = record_walk_limit(rec, size);
  uint32 type = 0, length = 0;
  while (attribute_at(rec, limit, offset, type, length)) {
    const byte* attr = rec + offset;
    if (!fits(limit, offset, AH_RESIDENT_SIZE)) break;
    const uint32 attr_length = load_u32(attr + AH_LENGTH);
    if (attr_length < AH_RESIDENT_SIZE || !fits(limit, offset, attr_length)) break;
    if (type == ATTR_ATTRIBUTE_LIST) return get_inode_parents(name, parents, is_dir, entry, ctx);
    byte_view value;
    if (type == ATTR_FILE_NAME && attr[AH_NON_RESIDENT] == 0 && resident_value(attr, attr_length, value) &&
        value.size >= k_name_start) {
      const ulong64 id = load_u16(attr + AH_INSTANCE);
      const uint8 name_space = value.data[FN_NAMESPACE];
      const ulong64 parent = load_u64(value.data);
      const ulong64 key = mft_reference_entry(parent) | (((id * 16 + name_space) & 0xFFFF) << 48);
      // The first $FILE_NAME of a key holds it, as in read_inode.
      if (std::find(keys_.begin(), keys_.end(), key) == keys_.end()) {
        keys_.push_back(key);
        if (!named || key < first_key) {
          named = true;
          first_key = key;
          uint32 units = value.data[FN_NAME_LENGTH];
          const uint32 room = static_cast<uint32>((value.size - k_name_start) / 2);
          if (units > room) units = room;
          units_.resize(units);
          for (uint32 i = 0; i < units; ++i) units_[i] = load_u16(value.data + k_name_start + 2 * i);
          name.clear();
          if (units) append_utf16_units(name, units_.data(), units, true);
        }
        const ulong64 parent_entry = mft_reference_entry(parent);
        bool known = false;
        for (const auto& p : parents_) known = known || p.first == parent_entry;
        if (name_space != 2 && !known) parents_.emplace_back(parent_entry, parent);
      }
    }
    offset += length;
  }
  for (const auto& p : parents_) parents.insert(p.second);
  return !parents.empty();
}
