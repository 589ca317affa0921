#pragma once
// entry_record: the engine's summary of one attribute of an MFT entry (or of
// the entry itself): a summary item (ntfs/summary_item.h), the attribute's
// name, its runs or resident value, and a cached window of its data; with
// its stored form and the filling from an attribute header.
#include <string>
#include <vector>

#include "ntfs/summary_item.h"
#include "ntfs/tree_node.h"
#include "utils/types.h"

class CNtfs;

struct entry_record {
  summary_item item;
  std::string name;  // the attribute's name, UTF-8
  std::string text;  // the file name of a $FILE_NAME item, the print name of a reparse point, the volume label
  std::vector<data_run> runs;
  ulong64 window_offset = 0;
  std::vector<byte> window;
  std::vector<byte> resident;
  // Of a non-resident attribute: how far its data was ever written; past
  // it the data reads as zeros, whatever the clusters hold. Not kept in the
  // summary item nor in the stored forms; all ones when not known.
  ulong64 initialized_size = ~0ULL;

  void clear();
};

// One item (u16 length L, then L bytes of header and body) into `out`, its
// runs and resident bytes into `runs` and `resident`; L + 2, or 0 when `in`
// ends first. A packed $STANDARD_INFORMATION or $FILE_NAME item whose times
// do not decode is kept, with those times 0.
uint16 unpack_entry_record(entry_record& out, const std::vector<byte>& in, std::vector<data_run>& runs,
                           std::vector<byte>& resident, bool packed);
uint16 pack_entry_record(const entry_record& rec, std::vector<byte>& out, const std::vector<data_run>& runs,
                         const std::vector<byte>& resident, bool packed);
// The whole record in the compact form: item, window, name, text. A text
// of 255 bytes or more has its length byte 255 followed by a u16 length.
// The reader answers false when the input ends before the record does.
bool read_stored_entry_record(entry_record& out, const std::vector<byte>& in);
bool write_stored_entry_record(const entry_record& rec, std::vector<byte>& out);
// The window part alone: u16 count, then (when not 0) the offset as two u32
// and the bytes. A window beyond 65535 bytes is stored as its first 65535.
uint32 unpack_data_block(entry_record& out, const byte* src, uint32 length);
uint32 pack_data_block(const entry_record& rec, std::vector<byte>& out);
// A resident value body: length and has-data flag, then the bytes.
uint32 unpack_resident_data(entry_record& out, const byte* src, uint32 length, bool packed);
uint32 pack_resident_data(const entry_record& rec, std::vector<byte>& out, bool packed);
// The $STANDARD_INFORMATION (0x10) and $FILE_NAME (0x30) bodies: the body
// area's 40 or 50 bytes, or, packed, their small fields then the four times
// as a packed timestamp list. Times are read back only when the list gives
// exactly four; otherwise they stay 0. The unpackers answer 0 when the input
// ends before the body does, or when its packed list does not decode (the
// small fields before it are read all the same); the packers when a time
// cannot be packed (2^60 or more).
uint32 unpack_si_times(entry_record& out, const byte* src, uint32 length, bool packed);
uint32 pack_si_times(const entry_record& rec, std::vector<byte>& out, bool packed);
uint32 unpack_fn_times(entry_record& out, const byte* src, uint32 length, bool packed);
uint32 pack_fn_times(const entry_record& rec, std::vector<byte>& out, bool packed);

// Fills `out` from the attribute header `attr` (`available` bytes readable
// from it) of record `record_number`, which belongs to entry `entry`.
bool fill_entry_record_from_attribute(entry_record& out, ulong64 entry, ulong64 record_number, const byte* attr,
                                      uint32 available);
// The same for a caller that gives no count: the attribute's own length
// (u32 at 4) is taken as what its buffer holds.
bool fill_entry_record_from_attribute(entry_record& out, ulong64 entry, ulong64 record_number, const byte* attr);
// Makes the window hold [offset, offset + length) of the attribute's data.
bool load_attribute_window(entry_record& rec, CNtfs* ntfs, ulong64 offset, uint32 length);

// The display name of a FILE record of `size` bytes: the first name, replaced
// by a Win32 or POSIX one while the name taken is shorter than 13 bytes;
// every parent reference met goes into `parents`.
bool get_record_display_name(const byte* record, uint32 size, std::string& name, ulong64_set& parents,
                             const byte*& attribute);
// The same for a record buffer of unknown size, walked within the record's
// own size (record_own_size, ntfs/mft_record.h), which the buffer must hold.
bool get_record_display_name(const byte* record, std::string& name, ulong64_set& parents, const byte*& attribute);
