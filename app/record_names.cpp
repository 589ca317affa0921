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

bool record_names_reader::file_attribute(const byte* record, uint32 limit, const byte* attr, bool& is_list) {
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
  const ulong64 key = mft_reference_entry(parent) | (((id * 16 + name_space) & 0xFFFF) << 48);
  // The first $FILE_NAME of a key holds it, as in read_inode.
  if (std::find(keys_.begin(), keys_.end(), key) != keys_.end()) return true;
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
  named_ = false;
  first_key_ = 0;
  uint32 offset = load_u16(rec + FRH_FIRST_ATTRIBUTE);
  if (offset == 0) return false;
  const uint32 limit = record_walk_limit(rec, size);
  uint32 type = 0, length = 0;
  // Extension records are read into their own buffer: record_ stays whole.
  const listed_attribute_sink sink = [this](const byte* record, uint32 record_limit, const byte* attr) {
    bool nested = false;
    file_attribute(record, record_limit, attr, nested);
  };
  while (attribute_at(rec, limit, offset, type, length)) {
    bool is_list = false;
    if (!file_attribute(rec, limit, rec + offset, is_list)) break;
    if (is_list) visit_attribute_list(ctx, entry, rec + offset, length, sink);
    offset += length;
  }
  if (named_ && !units_.empty()) append_utf16_units(name, units_.data(), static_cast<uint32>(units_.size()), true);
  for (const auto& p : parents_) parents.insert(p.second);
  return !parents.empty();
}
