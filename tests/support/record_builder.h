#pragma once
// FILE records built by hand for the record, run, parser and record-reading
// tests: attributes laid out as NTFS lays them out, then (`protect`) the
// update-sequence protection applied so that a reader has to undo it.
#include <cstring>
#include <string>
#include <vector>

#include "ntfs/ntfs_structs.h"
#include "utils/byte_order.h"

namespace quor_test {

// A FILE record of `size` bytes with an update-sequence array at 0x30 whose
// sector tails carry the check value (the protected, on-disk form).
// The first attribute follows the update-sequence array, at 8-byte alignment.
struct record_builder {
  std::vector<byte> rec;
  uint32 next;

  explicit record_builder(uint32 size = 1024) : rec(size, 0), next(align8(0x30 + 2 * (size / 512 + 1))) {
    std::memcpy(rec.data(), "FILE", 4);
    store_u16(&rec[FRH_USA_OFFSET], 0x30);
    store_u16(&rec[FRH_USA_COUNT], static_cast<uint16>(size / 512 + 1));
    store_u16(&rec[FRH_SEQUENCE], 1);
    store_u16(&rec[FRH_FIRST_ATTRIBUTE], static_cast<uint16>(next));
    store_u16(&rec[FRH_FLAGS], FILE_RECORD_IN_USE);
    store_u32(&rec[FRH_BYTES_ALLOCATED], size);
  }

  // Appends a resident attribute; returns its offset.
  uint32 resident(uint32 type, const std::vector<byte>& value, const std::u16string& name = u"", uint16 id = 0) {
    const uint32 name_off = 24;
    const uint32 value_off = align8(name_off + 2 * static_cast<uint32>(name.size()));
    const uint32 length = align8(value_off + static_cast<uint32>(value.size()));
    byte* a = header(type, length, 0, name, name_off);
    store_u16(a + AH_INSTANCE, id);
    store_u32(a + AH_VALUE_LENGTH, static_cast<uint32>(value.size()));
    store_u16(a + AH_VALUE_OFFSET, static_cast<uint16>(value_off));
    if (!value.empty()) std::memcpy(a + value_off, value.data(), value.size());
    return appended(length);
  }

  // Appends a non-resident attribute with the given mapping pairs.
  uint32 non_resident(uint32 type, const std::vector<byte>& pairs, uint64 data_size, uint64 first_vcn = 0,
                      const std::u16string& name = u"") {
    const uint32 name_off = 64;
    const uint32 pairs_off = align8(name_off + 2 * static_cast<uint32>(name.size()));
    const uint32 length = align8(pairs_off + static_cast<uint32>(pairs.size()) + 1);
    byte* a = header(type, length, 1, name, name_off);
    store_u64(a + AH_FIRST_VCN, first_vcn);
    store_u16(a + AH_MAPPING_PAIRS, static_cast<uint16>(pairs_off));
    store_u64(a + AH_ALLOCATED_SIZE, data_size);
    store_u64(a + AH_DATA_SIZE, data_size);
    store_u64(a + AH_INITIALIZED_SIZE, data_size);
    std::memcpy(a + pairs_off, pairs.data(), pairs.size());
    return appended(length);
  }

  void add(uint32 type, uint16 id, const std::u16string& name, const std::vector<byte>& value) {
    resident(type, value, name, id);
  }

  void add_file_name(uint16 id, ulong64 parent, const std::u16string& name, uint8 name_space, ulong64 time) {
    std::vector<byte> v = file_name_value(parent, name, 0, name_space);
    for (int i = 0; i < 4; ++i) store_u64(&v[8 + 8 * i], time);
    resident(ATTR_FILE_NAME, v, u"", id);
  }

  // Ends the attribute list; returns the record in its unprotected form.
  std::vector<byte> done() {
    store_u32(&rec.at(next), ATTR_END);
    store_u32(&rec[FRH_BYTES_IN_USE], next + 8);
    return rec;
  }

  // The end marker and the protection with check value 0x0707.
  std::vector<byte> finish() { return protect(done(), 0x0707); }

  // The protected form: each sector tail moved into the array and replaced
  // by the check value.
  static std::vector<byte> protect(std::vector<byte> rec, uint16 check) {
    const uint32 array = load_u16(&rec[FRH_USA_OFFSET]);
    const uint32 count = load_u16(&rec[FRH_USA_COUNT]);
    store_u16(&rec[array], check);
    for (uint32 i = 1; i < count; ++i) {
      std::memcpy(&rec[array + 2 * i], &rec[i * 512 - 2], 2);
      store_u16(&rec[i * 512 - 2], check);
    }
    return rec;
  }

  static std::vector<byte> file_name_value(uint64 parent, const std::u16string& name, uint64 real_size = 0,
                                           uint8 name_space = 1) {
    std::vector<byte> v(FN_NAME + 2 * name.size(), 0);
    store_u64(&v[FN_PARENT], parent);
    store_u64(&v[FN_REAL_SIZE], real_size);
    v[FN_NAME_LENGTH] = static_cast<byte>(name.size());
    v[FN_NAMESPACE] = name_space;
    for (size_t i = 0; i < name.size(); ++i) store_u16(&v[FN_NAME + 2 * i], static_cast<uint16>(name[i]));
    return v;
  }

  static uint32 align8(uint32 v) { return (v + 7) & ~7u; }

  byte* header(uint32 type, uint32 length, byte non_resident, const std::u16string& name, uint32 name_off) {
    if (rec.size() < next + length + 8) rec.resize(next + length + 8);
    byte* a = &rec[next];
    store_u32(a + AH_TYPE, type);
    store_u32(a + AH_LENGTH, length);
    a[AH_NON_RESIDENT] = non_resident;
    a[AH_NAME_LENGTH] = static_cast<byte>(name.size());
    store_u16(a + AH_NAME_OFFSET, static_cast<uint16>(name_off));
    for (size_t i = 0; i < name.size(); ++i) store_u16(a + name_off + 2 * i, static_cast<uint16>(name[i]));
    return a;
  }

  uint32 appended(uint32 length) {
    const uint32 at = next;
    next += length;
    return at;
  }
};

}  // namespace quor_test
