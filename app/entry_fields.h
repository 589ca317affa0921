#pragma once
// The fields of one parsed index entry, read out of the 84 bytes the parser
// keeps as found: the 16-byte index entry header, then the fixed part of the
// $FILE_NAME key. Offsets are those of the on-disk entry.
#include "ntfs/index_node.h"
#include "ntfs/ntfs_structs.h"
#include "utils/byte_order.h"
#include "utils/types.h"

namespace entry_fields {


inline const byte* header(const INDX_ENTRY_INFO& e) { return &e.entry_header[0]; }
inline const byte* key(const INDX_ENTRY_INFO& e) { return &e.file_name[0]; }

inline ulong64 entry_number(const INDX_ENTRY_INFO& e) { return mft_reference_entry(load_u64(header(e))); }
inline uint16 sequence(const INDX_ENTRY_INFO& e) { return load_u16(header(e) + 6); }
inline ulong64 parent_entry(const INDX_ENTRY_INFO& e) { return mft_reference_entry(load_u64(key(e))); }
inline uint16 parent_sequence(const INDX_ENTRY_INFO& e) { return load_u16(key(e) + 6); }

// The four times as FILETIMEs (entry offsets 24, 32, 40, 48).
inline ulong64 created(const INDX_ENTRY_INFO& e) { return load_u64(key(e) + 8); }
inline ulong64 modified(const INDX_ENTRY_INFO& e) { return load_u64(key(e) + 16); }
inline ulong64 mft_changed(const INDX_ENTRY_INFO& e) { return load_u64(key(e) + 24); }
inline ulong64 accessed(const INDX_ENTRY_INFO& e) { return load_u64(key(e) + 32); }

inline ulong64 allocated_size(const INDX_ENTRY_INFO& e) { return load_u64(key(e) + 40); }
inline ulong64 real_size(const INDX_ENTRY_INFO& e) { return load_u64(key(e) + 48); }
inline uint32 file_attributes(const INDX_ENTRY_INFO& e) { return load_u32(key(e) + 56); }

}  // namespace entry_fields
