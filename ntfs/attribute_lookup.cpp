// Attribute searches by type and UTF-16 name over a record's attributes and
// over $ATTRIBUTE_LIST entries, and the $STANDARD_INFORMATION time lines.
#include <cstring>
#include <ostream>

#include "ntfs/ntfs_structs.h"
#include "ntfs/volume_io.h"
#include "time/time_format.h"
#include "time/zq_time.h"
#include "utils/buffer_scan.h"
#include "utils/byte_order.h"

namespace {

// Attributes of a FILE record are never longer than this.
const uint32 MAX_ATTRIBUTE_LENGTH = 1024;

// Whether the `units` UTF-16 units at `at` (of a structure of `size`
// bytes) are exactly `name`, length included.
bool name_is(const byte* base, uint32 size, uint32 at, uint32 units, const std::vector<uint16>& name) {
  const uint32 want = utf16_vector_length(name);
  if (units != want) return false;
  if (!fits(size, at, 2ULL * units)) return false;
  for (uint32 i = 0; i < units; ++i)
    if (load_u16(base, at + 2ULL * i) != name[i]) return false;
  return true;
}

}  // namespace

bool find_attribute_by_name_from(byte*& cursor, uint32 limit, uint32 type, const std::vector<uint16>& name) {
  if (!cursor) return false;
  const bool unnamed = utf16_vector_length(name) == 0;
  byte* at = cursor;
  for (uint32 left = limit; left >= 4;) {
    cursor = at;
    const uint32 t = load_u32(at, AH_TYPE);
    if (t == ATTR_END || left < AH_RESIDENT_SIZE) return false;
    const uint32 length = load_u32(at, AH_LENGTH);
    if (length == 0 || length > left) return false;
    if (t == type && name_is(at, length, load_u16(at, AH_NAME_OFFSET), at[AH_NAME_LENGTH], name)) return true;
    // The search for the unnamed attribute takes an unnamed attribute of
    // another type longer than any in a 1 KiB record as the end of the list;
    // a named search walks on over long attributes (named streams are).
    if (unnamed && at[AH_NAME_LENGTH] == 0 && length > MAX_ATTRIBUTE_LENGTH) return false;
    at += length;
    left -= length;
  }
  return false;
}

bool find_attribute_by_name_from(byte*& cursor, uint32 type, const std::vector<uint16>& name) {
  return find_attribute_by_name_from(cursor, MAX_MFT_RECORD_SIZE, type, name);
}

bool find_attribute_list_entry_by_name(byte*& cursor, int& remaining, uint32 type, const std::vector<uint16>& name) {
  // An entry's type, length and name fields lie in its first 8 bytes.
  const int header = static_cast<int>(ALE_NAME_OFFSET) + 1;
  if (!cursor) return false;
  while (remaining >= header) {
    const uint32 left = static_cast<uint32>(remaining);
    const uint32 length = load_u16(cursor, ALE_LENGTH);
    // Only an entry whole inside the list's bytes is taken, and its name
    // must lie inside it.
    if (length <= left && load_u32(cursor, ALE_TYPE) == type &&
        name_is(cursor, length, cursor[ALE_NAME_OFFSET], cursor[ALE_NAME_LENGTH], name))
      return true;
    if (length == 0) {
      remaining = 0;
      return false;
    }
    // An entry claiming more than is left takes `remaining` below zero; the
    // cursor stays on it rather than point past the list.
    remaining -= static_cast<int>(length);
    if (remaining < 0) return false;
    cursor += length;
    if (remaining == 0 || (remaining >= 4 && load_u32(cursor, ALE_TYPE) == ATTR_END)) return false;
  }
  return false;
}

void dump_standard_information_times(const byte* record, uint32 limit, std::ostream& os) {
  if (!record || !fits(limit, FRH_FIRST_ATTRIBUTE, 2)) return;
  uint32 offset = load_u16(record, FRH_FIRST_ATTRIBUTE);
  while (fits(limit, offset, 16)) {
    if (load_u32(record, offset + AH_TYPE) == ATTR_END) return;
    const uint32 length = load_u32(record, offset + AH_LENGTH);
    if (length == 0 || !fits(limit, offset, length)) return;
    const byte* attr = record + offset;
    const uint32 value = 24 + 2u * attr[AH_NAME_LENGTH];
    if (load_u32(attr, AH_TYPE) == ATTR_STANDARD_INFORMATION && attr[AH_NON_RESIDENT] == 0 && length > value &&
        length >= value + 32) {
      const struct {
        const char* label;
        uint32 at;
      } lines[] = {{"create: ", 0}, {"mod:    ", 8}, {"access: ", 24}, {"meta:   ", 16}};
      for (int i = 0; i < 4; ++i) {
        os << lines[i].label;
        zq::write_time(os, zq::time(load_u64(attr, value + lines[i].at), zq::type_filetime));
        if (i < 3) os << "\n";
      }
    }
    const uint32 next = (offset + length) & 0xFFFF;
    if (next <= offset) return;
    offset = next;
  }
}
