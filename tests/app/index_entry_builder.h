#pragma once
// Hand-built index entries for the writer and merge tests: the fields are laid
// out where the engine's parser leaves them in the copied entry block.
#include <string>

#include "ntfs/index_node.h"
#include "utils/byte_order.h"

struct index_entry_fields {
  ulong64 reference = 0;         // entry number | sequence << 48
  ulong64 parent_reference = 0;  // parent entry | parent sequence << 48
  ulong64 modify = 0, access = 0, mft_change = 0, create = 0;
  ulong64 allocated_size = 0, real_size = 0;
  uint32 flags = 0;
};

inline ulong64 file_reference(ulong64 entry, uint16 sequence) {
  return entry | (static_cast<ulong64>(sequence) << 48);
}

inline INDX_ENTRY_INFO build_index_entry(const index_entry_fields& f, const std::string& name, bool valid) {
  INDX_ENTRY_INFO e;
  store_u64(e.entry, f.reference);
  store_u64(e.entry + 16, f.parent_reference);
  store_u64(e.entry + 24, f.create);
  store_u64(e.entry + 32, f.modify);
  store_u64(e.entry + 40, f.mft_change);
  store_u64(e.entry + 48, f.access);
  store_u64(e.entry + 56, f.allocated_size);
  store_u64(e.entry + 64, f.real_size);
  store_u32(e.entry + 72, f.flags);
  e.name = name;
  e.valid = valid ? 1 : 0;
  e.is_dir = (f.flags & 0x10000010) ? 1 : 0;
  return e;
}
