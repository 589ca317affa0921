#include "ntfs/mft_record.h"

#include <algorithm>
#include <cstring>

#include "utils/buffer_scan.h"

record_fixup_state apply_update_sequence(byte* record, uint32 length) {
  return apply_update_sequence(record, length, length);
}

record_fixup_state apply_update_sequence(byte* record, uint32 length, uint32 got) {
  if (!record || length < 8 || got < 8 || got > length) return RECORD_FIXUP_INVALID;
  const uint32 array_offset = load_u16(record, FRH_USA_OFFSET);
  const uint32 count = load_u16(record, FRH_USA_COUNT);
  if (count < 2) return RECORD_FIXUP_NONE;
  if (static_cast<uint64>(count - 1) * UPDATE_SEQUENCE_STRIDE != length) return RECORD_FIXUP_INVALID;
  // The array must lie in the first stride, clear of the tail it restores,
  // and among the bytes read.
  if (array_offset < 8 || array_offset + 2ULL * count > UPDATE_SEQUENCE_STRIDE - 2 ||
      array_offset + 2ULL * count > got)
    return RECORD_FIXUP_INVALID;
  // The sector a cut runs through has lost its check value: it stays as
  // read, and clear_cut_record_tail clears the attribute the cut runs through.
  const uint32 whole = got / UPDATE_SEQUENCE_STRIDE;
  if (whole == 0) return RECORD_FIXUP_NONE;
  const uint16 check = load_u16(record, array_offset);
  bool torn = false;
  for (uint32 i = 1; i <= whole; ++i) {
    byte* tail = record + i * UPDATE_SEQUENCE_STRIDE - 2;
    if (load_u16(tail) != check) torn = true;
    std::memcpy(tail, record + array_offset + 2 * i, 2);
  }
  return torn ? RECORD_FIXUP_TORN : RECORD_FIXUP_APPLIED;
}

bool protect_update_sequence(byte* record, uint32 length) {
  if (!record || length < 8) return false;
  const uint32 array_offset = load_u16(record, FRH_USA_OFFSET);
  const uint32 count = load_u16(record, FRH_USA_COUNT);
  if (count < 2 || static_cast<uint64>(count - 1) * UPDATE_SEQUENCE_STRIDE != length) return false;
  if (array_offset < 8 || array_offset + 2ULL * count > UPDATE_SEQUENCE_STRIDE - 2) return false;
  const uint16 check = static_cast<uint16>(load_u16(record, array_offset) + 1);
  store_u16(record + array_offset, check);
  for (uint32 i = 1; i < count; ++i) {
    byte* tail = record + i * UPDATE_SEQUENCE_STRIDE - 2;
    std::memcpy(record + array_offset + 2 * i, tail, 2);
    store_u16(tail, check);
  }
  return true;
}

uint32 record_walk_limit(const byte* record, uint32 size) {
  if (!record || size < FRH_BYTES_ALLOCATED) return size;
  const uint32 first = load_u16(record, FRH_FIRST_ATTRIBUTE);
  const uint32 in_use = load_u32(record, FRH_BYTES_IN_USE);
  if (in_use <= size && in_use >= first + 4ULL) return in_use;
  return size;
}

bool attribute_at(const byte* record, uint32 limit, uint32 offset, uint32& type, uint32& length) {
  type = ATTR_END;
  length = 0;
  if (!record || !fits(limit, offset, 4)) return false;
  type = load_u32(record, offset);
  if (type == ATTR_END || !fits(limit, offset, 8)) return false;
  length = load_u32(record, offset + AH_LENGTH);
  return length >= AH_RESIDENT_SIZE && fits(limit, offset, length);
}

void clear_cut_record_tail(byte* record, uint32 got, uint32 size) {
  if (!record || got >= size || got < FRH_SIZE) return;
  uint32 offset = load_u16(record, FRH_FIRST_ATTRIBUTE);
  uint32 type = 0;
  uint32 length = 0;
  while (attribute_at(record, got, offset, type, length)) offset += length;
  // After an end marker read whole nothing is walked; else the clearing
  // starts at the attribute the cut runs through. A first-attribute offset
  // inside the header stops the walk there: the header was read and stays.
  const uint32 from = type == ATTR_END && fits(got, offset, 4) ? got : std::max(offset, FRH_SIZE);
  if (from < size) std::memset(record + from, 0, size - from);
}

namespace {

bool first_attribute_offset(const byte* record, uint32 size, uint32& offset) {
  if (!record || size < FRH_SIZE) return false;
  offset = load_u16(record, FRH_FIRST_ATTRIBUTE);
  return true;
}

// Walks from `offset` to the first attribute of `type` (the one at `offset`
// included).
bool walk_to_type(const byte* record, uint32 limit, uint32 offset, uint32 type, const byte*& attr) {
  uint32 t = 0;
  uint32 len = 0;
  while (attribute_at(record, limit, offset, t, len)) {
    if (t == type) {
      attr = record + offset;
      return true;
    }
    offset += len;
  }
  return false;
}

bool cursor_offset(const byte* record, uint32 size, const byte* attr, uint32& offset) {
  if (!record || !attr || attr < record) return false;
  uint64 off = static_cast<uint64>(attr - record);
  if (off >= size) return false;
  offset = static_cast<uint32>(off);
  return true;
}

}  // namespace

bool find_attribute(const byte* record, uint32 size, uint32 type, const byte*& attr) {
  uint32 offset = 0;
  if (!first_attribute_offset(record, size, offset)) return false;
  return walk_to_type(record, record_walk_limit(record, size), offset, type, attr);
}

bool find_attribute_from(const byte* record, uint32 size, const byte*& attr, uint32 type) {
  uint32 offset = 0;
  if (!cursor_offset(record, size, attr, offset)) return false;
  return walk_to_type(record, record_walk_limit(record, size), offset, type, attr);
}

bool find_next_attribute(const byte* record, uint32 size, const byte*& attr, uint32 type) {
  uint32 offset = 0;
  if (!cursor_offset(record, size, attr, offset)) return false;
  const uint32 limit = record_walk_limit(record, size);
  uint32 t = 0;
  uint32 len = 0;
  if (!attribute_at(record, limit, offset, t, len)) return false;
  return walk_to_type(record, limit, offset + len, type, attr);
}

bool find_attribute_by_name(const byte* record, uint32 size, uint32 type, const byte*& attr, const uint16* name,
                            uint32 name_length) {
  uint32 offset = 0;
  if (!first_attribute_offset(record, size, offset)) return false;
  if (name_length && !name) return false;
  const uint32 limit = record_walk_limit(record, size);
  uint32 t = 0;
  uint32 len = 0;
  while (attribute_at(record, limit, offset, t, len)) {
    const byte* a = record + offset;
    if (t == type && a[AH_NAME_LENGTH] == name_length) {
      if (name_length == 0) {
        attr = a;
        return true;
      }
      byte_view own;
      if (attribute_name(a, len, own)) {
        bool same = true;
        for (uint32 i = 0; i < name_length && same; ++i) same = load_u16(own.data, 2 * i) == name[i];
        if (same) {
          attr = a;
          return true;
        }
      }
    }
    offset += len;
  }
  return false;
}

uint32 record_own_size(const byte* record) {
  if (!record) return 0;
  // A damaged header must not stretch the walk past the buffer: the size is
  // believed only where the rest of the header was written for it too.
  const uint32 allocated = load_u32(record, FRH_BYTES_ALLOCATED);
  const bool power_of_two = (allocated & (allocated - 1)) == 0;
  const bool agrees = power_of_two && allocated >= DEFAULT_RECORD_WALK_SIZE && allocated <= MAX_MFT_RECORD_SIZE &&
                      load_u16(record, FRH_USA_COUNT) == allocated / UPDATE_SEQUENCE_STRIDE + 1 &&
                      load_u32(record, FRH_BYTES_IN_USE) <= allocated;
  return agrees ? allocated : DEFAULT_RECORD_WALK_SIZE;
}

// The walks without a byte count hand back a cursor into the caller's own
// buffer, writable as the caller's pointer was.
bool find_attribute(const byte* record, uint32 type, byte*& attr) {
  const byte* found = nullptr;
  if (!find_attribute(record, record_own_size(record), type, found)) return false;
  attr = const_cast<byte*>(found);
  return true;
}

bool find_attribute_from(byte*& attr, uint32 type) {
  const byte* found = nullptr;
  if (!attr || !walk_to_type(attr, MAX_MFT_RECORD_SIZE, 0, type, found)) return false;
  attr = const_cast<byte*>(found);
  return true;
}

bool find_next_attribute(byte*& attr, uint32 type) {
  uint32 t = 0;
  uint32 len = 0;
  const byte* found = nullptr;
  if (!attr || !attribute_at(attr, MAX_MFT_RECORD_SIZE, 0, t, len) ||
      !walk_to_type(attr, MAX_MFT_RECORD_SIZE, len, type, found))
    return false;
  attr = const_cast<byte*>(found);
  return true;
}

bool find_attribute_by_name(const byte* record, uint32 type, byte*& attr, const uint16* name) {
  const byte* found = nullptr;
  if (!find_attribute_by_name(record, record_own_size(record), type, found, name, utf16_strlen(name)))
    return false;
  attr = const_cast<byte*>(found);
  return true;
}

bool resident_value(const byte* attr, uint32 attr_length, byte_view& value) {
  value = byte_view();
  if (!attr || attr_length < AH_RESIDENT_SIZE || attr[AH_NON_RESIDENT]) return false;
  const uint32 length = load_u32(attr, AH_VALUE_LENGTH);
  const uint32 offset = load_u16(attr, AH_VALUE_OFFSET);
  if (!fits(attr_length, offset, length)) return false;
  value = byte_view(attr + offset, length);
  return true;
}

bool mapping_pairs(const byte* attr, uint32 attr_length, byte_view& pairs) {
  pairs = byte_view();
  if (!attr || attr_length < AH_NON_RESIDENT_SIZE || !attr[AH_NON_RESIDENT]) return false;
  const uint32 offset = load_u16(attr, AH_MAPPING_PAIRS);
  if (offset < AH_NON_RESIDENT_SIZE || offset >= attr_length) return false;
  pairs = byte_view(attr + offset, attr_length - offset);
  return true;
}

bool attribute_name(const byte* attr, uint32 attr_length, byte_view& name) {
  name = byte_view();
  if (!attr || attr_length < AH_RESIDENT_SIZE) return false;
  const uint32 units = attr[AH_NAME_LENGTH];
  const uint32 offset = load_u16(attr, AH_NAME_OFFSET);
  if (units == 0 || !fits(attr_length, offset, 2ULL * units)) return false;
  name = byte_view(attr + offset, 2ULL * units);
  return true;
}

bool find_attribute_list_entry(const byte* list, uint32 length, uint32 type, uint32& offset) {
  if (!list) return false;
  while (fits(length, offset, ALE_MIN_SIZE)) {
    const uint32 t = load_u32(list, offset);
    if (t == ATTR_END) return false;
    const uint32 entry_length = load_u16(list, offset + ALE_LENGTH);
    if (entry_length < ALE_MIN_SIZE || !fits(length, offset, entry_length)) return false;
    if (t == type) return true;
    offset += entry_length;
  }
  return false;
}

bool find_next_attribute_list_entry(const byte* list, uint32 length, uint32 type, uint32& offset) {
  if (!list || !fits(length, offset, ALE_MIN_SIZE)) return false;
  const uint32 entry_length = load_u16(list, offset + ALE_LENGTH);
  if (entry_length < ALE_MIN_SIZE || !fits(length, offset, entry_length)) return false;
  uint32 next = offset + entry_length;
  if (!find_attribute_list_entry(list, length, type, next)) return false;
  offset = next;
  return true;
}

bool find_attribute_list_entry(const byte* list_attr, uint32 type, byte*& entry, uint32& remaining) {
  if (!list_attr) return false;
  // No attribute is longer than the largest record that holds it.
  const uint32 attr_length = std::min(load_u32(list_attr, AH_LENGTH), MAX_MFT_RECORD_SIZE);
  const byte* list = nullptr;
  uint32 length = 0;
  if (list_attr[AH_NON_RESIDENT]) {
    if (!entry || attr_length < AH_NON_RESIDENT_SIZE) return false;
    list = entry;
    length = static_cast<uint32>(load_u64(list_attr, AH_INITIALIZED_SIZE));
  } else {
    byte_view value;
    if (!resident_value(list_attr, attr_length, value)) return false;
    list = value.data;
    length = static_cast<uint32>(value.size);
  }
  uint32 offset = 0;
  if (!find_attribute_list_entry(list, length, type, offset)) return false;
  entry = const_cast<byte*>(list + offset);
  remaining = length - offset;
  return true;
}

bool find_next_attribute_list_entry(byte*& entry, uint32& remaining, uint32 type) {
  uint32 offset = 0;
  if (!entry || !find_next_attribute_list_entry(entry, remaining, type, offset)) return false;
  entry += offset;
  remaining -= offset;
  return true;
}

bool get_attribute_size(const byte* attr, ulong64& size) {
  size = 0;
  if (!attr) return false;
  const uint32 length = load_u32(attr, AH_LENGTH);
  if (attr[AH_NON_RESIDENT]) {
    if (length < AH_ALLOCATED_SIZE + 8) return false;
    size = load_u64(attr, AH_ALLOCATED_SIZE);
  } else {
    if (length < AH_RESIDENT_SIZE) return false;
    size = load_u32(attr, AH_VALUE_LENGTH);
  }
  return true;
}

uint32 test_bitmap_bit(const byte* bitmap, uint32 length, ulong64 bit) {
  if (!bitmap || bit / 8 >= length) return 0;
  return (bitmap[bit / 8] >> (bit % 8)) & 1;
}
