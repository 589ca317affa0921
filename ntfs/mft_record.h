#pragma once
// MFT FILE records: update-sequence fixup and the bounded walks over a
// record's attributes and over $ATTRIBUTE_LIST entries.
//
// Every walk takes the size of the record buffer it walks: an attribute is
// visited only when its header and its whole length lie inside the part of
// the record that is in use (bytes in use, capped by the buffer), so neither
// a corrupt length nor a record larger than 1 KiB can lead a walk astray.
#include "ntfs/ntfs.h"
#include "utils/byte_order.h"
#include "utils/types.h"

// NTFS protects multi-sector records in 512-byte strides whatever the
// volume's sector size.
const uint32 UPDATE_SEQUENCE_STRIDE = 512;

// Undoes the update-sequence protection of a FILE or INDX record of `length`
// bytes in place. Applied only when (count - 1) x 512 equals `length` and the
// array lies inside the record (else RECORD_FIXUP_INVALID, record untouched;
// count below 2 gives RECORD_FIXUP_NONE). A sector whose last two bytes do not
// hold the check value is restored all the same, and the result is
// RECORD_FIXUP_TORN.
record_fixup_state apply_update_sequence(byte* record, uint32 length);
// The same for a record of `length` bytes of which the end of the image left
// only the first `got`: each 512-byte sector read whole is checked and
// restored as in a whole record; the sector the cut runs through stays as
// read. The array must lie among the bytes read (else RECORD_FIXUP_INVALID);
// with no sector read whole the result is RECORD_FIXUP_NONE. Only the `got`
// bytes are touched.
record_fixup_state apply_update_sequence(byte* record, uint32 length, uint32 got);

// The inverse, for writing a record back: the check value is advanced, each
// 512-byte sector's last two bytes are saved into the array and replaced by
// it. False (record untouched) when the array does not fit as above.
bool protect_update_sequence(byte* record, uint32 length);

// The bytes of the record the attribute walk may visit: bytes in use when
// that lies between the first attribute and `size`, else `size`.
uint32 record_walk_limit(const byte* record, uint32 size);

// A FILE record the end of the image cut short after `got` of its `size`
// bytes (CNtfs::read_mft_record zeroes the buffer past them): the attribute
// the cut runs through, and all that follows it, is cleared to zeros too,
// so that a walk over the whole buffer, one that takes the record's size
// and no count of the bytes read, meets only attributes read whole. A
// record read whole, or one whose header the cut runs through, is left as
// it is.
void clear_cut_record_tail(byte* record, uint32 got, uint32 size);

// The attribute header at `offset`: true when its type and length are inside
// `limit`, the length is at least a resident header and the attribute ends
// inside `limit`. The end marker gives false with type ATTR_END.
bool attribute_at(const byte* record, uint32 limit, uint32 offset, uint32& type, uint32& length);

// Walk 1: the first attribute of `type`.
bool find_attribute(const byte* record, uint32 size, uint32 type, const byte*& attr);
// Walk 2: the attribute at the cursor, or the next one of `type`.
bool find_attribute_from(const byte* record, uint32 size, const byte*& attr, uint32 type);
// Walk 3: the next attribute of `type` after the cursor.
bool find_next_attribute(const byte* record, uint32 size, const byte*& attr, uint32 type);
// Walk 4: the attribute of `type` whose name is `name` (name_length UTF-16
// units); with name_length 0, the first unnamed one.
bool find_attribute_by_name(const byte* record, uint32 size, uint32 type, const byte*& attr, const uint16* name,
                            uint32 name_length);

// The bytes a FILE record handed over without a count spans: its own
// allocated size (u32 at 28) when the record agrees with it (a power of two
// from 1 KiB to the largest record a volume may declare, an update-sequence
// count of size / 512 + 1, bytes in use within it), else
// DEFAULT_RECORD_WALK_SIZE. The caller's buffer must hold the record's own
// size: a record is read whole, at the size its volume gives every record.
uint32 record_own_size(const byte* record);

// The same walks for a caller that holds a record, or a cursor into one, but
// no count of its bytes. A record is walked within its own size
// (record_own_size), so the attributes of a 4 KiB record past its first
// 1 KiB are reached; the buffer must hold that size. The cursor handed back
// points into the caller's buffer.
bool find_attribute(const byte* record, uint32 type, byte*& attr);
// `name`: UTF-16 units ending in a 0 unit; null or empty for the unnamed one.
bool find_attribute_by_name(const byte* record, uint32 type, byte*& attr, const uint16* name);
// A walk from a cursor cannot keep to its record's own size: the cursor
// tells neither where its record starts nor how long it is, and nothing
// before it may be read to find out (it may point into a copy of one
// attribute, or into a record whose header is damaged). It trusts the
// caller's buffer to hold the rest of the record up to its end marker, and
// goes no further than the largest record a volume may declare. A record
// read from evidence makes no such promise (one cut short, one whose end
// marker is overwritten): walk it with the sized forms or with those that
// take the record, which keep to its size.
bool find_attribute_from(byte*& attr, uint32 type);
bool find_next_attribute(byte*& attr, uint32 type);

// The resident value of an attribute of `attr_length` bytes, when its offset
// and length lie inside the attribute.
bool resident_value(const byte* attr, uint32 attr_length, byte_view& value);
// The mapping pairs of a non-resident attribute: from their offset to the
// attribute's end.
bool mapping_pairs(const byte* attr, uint32 attr_length, byte_view& pairs);
// The attribute's UTF-16 name, when it lies inside the attribute.
bool attribute_name(const byte* attr, uint32 attr_length, byte_view& name);

// $ATTRIBUTE_LIST walk over a value of `length` bytes: the first entry of
// `type` at or after `offset`; `offset` is left on it.
bool find_attribute_list_entry(const byte* list, uint32 length, uint32 type, uint32& offset);
bool find_next_attribute_list_entry(const byte* list, uint32 length, uint32 type, uint32& offset);
// The same walk started from the $ATTRIBUTE_LIST attribute itself, whose
// header the caller's buffer holds. A resident list is its value, which must
// lie inside the attribute's own length (and the buffer hold that much). For
// a non-resident list `entry` must already point at the value the caller
// read, which must hold its initialized size (low 32 bits). On success
// `entry` is on the first entry of `type` and `remaining` counts the list's
// bytes from it; on failure both are left as they were.
bool find_attribute_list_entry(const byte* list_attr, uint32 type, byte*& entry, uint32& remaining);
// The next entry of `type` after the one at `entry`, within the `remaining`
// bytes from it; both move on to the entry found.
bool find_next_attribute_list_entry(byte*& entry, uint32& remaining, uint32 type);

// Non-resident: allocated size; resident: value length.
bool get_attribute_size(const byte* attr, ulong64& size);
// Bit `bit` of a bitmap (least significant bit first); 0 beyond `length`.
uint32 test_bitmap_bit(const byte* bitmap, uint32 length, ulong64 bit);
