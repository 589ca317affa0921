#include "app/record_names.h"

#include <algorithm>

#include "app/attribute_list.h"
#include "app/record_reader.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs_structs.h"
#include "utils/byte_order.h"
#include "utils/utf16le.h"

namespace {

// The offset of the name in a $FILE_NAME value (after the 66 fixed bytes).
const uint32 k_name_start = 66;

}  // namespace

bool record_names_reader::file_attribute(ulong64 holder, const byte* record, uint32 limit, const byte* attr,
                                         bool& is_list) {
  is_list = false;
  // The checks of inode_attributes::parse_attribute, so that a walk ends
  // where the full reader's ends.
  const uint64 offset = static_cast<uint64>(attr - record);
  if (!fits(limit, offset, AH_RESIDENT_SIZE)) return false;
  const uint32 attr_length = load_u32(attr + AH_LENGTH);
  if (attr_length < AH_RESIDENT_SIZE || !fits(limit, offset, attr_length)) return false;
  const uint32 type = load_u32(attr + AH_TYPE);
  is_list = type == ATTR_ATTRIBUTE_LIST;
  byte_view value;
  if (type != ATTR_FILE_NAME || attr[AH_NON_RESIDENT] != 0 || !resident_value(attr, attr_length, value) ||
      value.size < k_name_start)
    return true;

  const ulong64 id = load_u16(attr + AH_INSTANCE);
  const uint8 name_space = value.data[FN_NAMESPACE];
  const ulong64 parent = load_u64(value.data);
  // Keyed and kept as read_inode keeps them: a name of another record once
  // by that record and its id, its key already held giving way to the next
  // free; in the entry's own record the first name of a key holds it.
  const auto held = [this](ulong64 k) { return std::find(keys_.begin(), keys_.end(), k) != keys_.end(); };
  ulong64 key = file_name_key(parent, id, name_space);
  if (mft_reference_entry(holder) != mft_reference_entry(entry_)) {
    const std::pair<ulong64, ulong64> identity(mft_reference_entry(holder), id);
    if (std::find(filed_.begin(), filed_.end(), identity) != filed_.end()) return true;
    filed_.push_back(identity);
    key = first_free_key(key, FILE_NAME_KEY_STEP, held);
  }
  if (held(key)) return true;
  keys_.push_back(key);
  if (!named_ || key < first_key_) {
    named_ = true;
    first_key_ = key;
    uint32 units = value.data[FN_NAME_LENGTH];
    const uint32 room = static_cast<uint32>((value.size - k_name_start) / 2);
    if (units > room) units = room;
    units_.resize(units);
    for (uint32 i = 0; i < units; ++i) units_[i] = load_u16(value.data + k_name_start + 2 * i);
  }
  const ulong64 parent_entry = mft_reference_entry(parent);
  bool known = false;
  for (const auto& p : parents_) known = known || p.first == parent_entry;
  if (name_space != 2 && !known) parents_.emplace_back(parent_entry, parent);
  return true;
}

bool record_names_reader::read(std::wstring& name, ulong64_set& parents, bool& is_dir, ulong64 entry,
                               user_ctx& ctx, bool dirs_only) {
  name.clear();
  parents.clear();
  is_dir = false;
  bool is_baad = false;
  if (!read_source_record(record_, is_baad, ctx, entry) || is_baad || record_.size() < FRH_SIZE) return false;
  const byte* rec = record_.data();
  const uint32 size = static_cast<uint32>(record_.size());
  is_dir = (load_u16(rec + FRH_FLAGS) & FILE_RECORD_DIRECTORY) != 0;
  if (dirs_only && !is_dir) return false;

  entry_ = entry;
  keys_.clear();
  filed_.clear();
  parents_.clear();
  named_ = false;
  first_key_ = 0;
  uint32 offset = load_u16(rec + FRH_FIRST_ATTRIBUTE);
  if (offset == 0) return false;
  const uint32 limit = record_walk_limit(rec, size);
  uint32 type = 0, length = 0;
  // Extension records are read into their own buffer: record_ stays whole.
  const listed_attribute_sink sink = [this](ulong64 holder, const byte* record, uint32 record_limit,
                                            const byte* attr) {
    bool nested = false;
    file_attribute(holder, record, record_limit, attr, nested);
  };
  // The list is followed after the base record, as read_inode does.
  uint32 list_offset = 0, list_length = 0;
  while (attribute_at(rec, limit, offset, type, length)) {
    bool is_list = false;
    if (!file_attribute(entry, rec, limit, rec + offset, is_list)) break;
    if (is_list && list_offset == 0) {
      list_offset = offset;
      list_length = length;
    }
    offset += length;
  }
  if (list_offset != 0) visit_attribute_list(ctx, entry, rec + list_offset, list_length, sink);
  if (named_ && !units_.empty()) append_utf16_units(name, units_.data(), static_cast<uint32>(units_.size()), true);
  for (const auto& p : parents_) parents.insert(p.second);
  return !parents.empty();
}
