#pragma once
// Builds FILE records by hand for the record-reading tests: attributes laid
// out as NTFS lays them out, then the update-sequence protection applied so
// that the reader has to undo it.
#include <cstring>
#include <string>
#include <vector>

#include "utils/byte_order.h"
#include "utils/types.h"

namespace quor_test {

class record_builder {
 public:
  record_builder(uint32 size, uint16 flags, uint16 sequence) : rec_(size, 0) {
    std::memcpy(rec_.data(), "FILE", 4);
    count_ = static_cast<uint16>(size / 512 + 1);
    store_u16(&rec_[4], 48);
    store_u16(&rec_[6], count_);
    store_u16(&rec_[16], sequence);
    store_u16(&rec_[18], 1);
    next_ = align8(48 + 2u * count_);
    store_u16(&rec_[20], static_cast<uint16>(next_));
    store_u16(&rec_[22], flags);
    store_u32(&rec_[28], size);
  }

  // A resident attribute; returns its offset in the record.
  uint32 add_resident(uint32 type, uint16 id, const std::u16string& name, const std::vector<byte>& value) {
    uint32 at = next_;
    uint32 value_offset = align8(24 + 2 * static_cast<uint32>(name.size()));
    uint32 length = align8(value_offset + static_cast<uint32>(value.size()));
    rec_.at(at + length - 1);  // throws when the record is too small
    byte* a = &rec_[at];
    store_u32(a, type);
    store_u32(a + 4, length);
    a[9] = static_cast<byte>(name.size());
    store_u16(a + 10, 24);
    store_u16(a + 14, id);
    store_u32(a + 16, static_cast<uint32>(value.size()));
    store_u16(a + 20, static_cast<uint16>(value_offset));
    for (size_t i = 0; i < name.size(); ++i) store_u16(a + 24 + 2 * i, name[i]);
    if (!value.empty()) std::memcpy(a + value_offset, value.data(), value.size());
    next_ += length;
    return at;
  }

  // A resident $ATTRIBUTE_LIST value from list entries.
  static void add_list_entry(std::vector<byte>& list, uint32 type, ulong64 holder, uint16 id, uint16 length = 32) {
    size_t at = list.size();
    list.resize(at + length, 0);
    store_u32(&list[at], type);
    store_u16(&list[at + 4], length);
    store_u64(&list[at + 16], holder);
    if (length >= 26) store_u16(&list[at + 24], id);
  }

  uint32 add_file_name(uint16 id, ulong64 parent, const std::u16string& name, uint8 name_space, ulong64 time) {
    std::vector<byte> v(66 + 2 * name.size(), 0);
    store_u64(&v[0], parent);
    for (int i = 0; i < 4; ++i) store_u64(&v[8 + 8 * i], time);
    v[64] = static_cast<byte>(name.size());
    v[65] = name_space;
    for (size_t i = 0; i < name.size(); ++i) store_u16(&v[66 + 2 * i], name[i]);
    return add_resident(0x30, id, u"", v);
  }

  // A non-resident attribute of one cluster at LCN 16, data size `size`.
  void add_nonresident(uint32 type, uint16 id, ulong64 size) {
    rec_.at(next_ + 71);
    byte* a = &rec_[next_];
    store_u32(a, type);
    store_u32(a + 4, 72);
    a[8] = 1;
    store_u16(a + 10, 64);
    store_u16(a + 14, id);
    store_u16(a + 32, 64);
    store_u64(a + 40, 4096);
    store_u64(a + 48, size);
    store_u64(a + 56, size);
    const byte pairs[] = {0x11, 0x01, 0x10, 0x00};
    std::memcpy(a + 64, pairs, sizeof pairs);
    next_ += 72;
  }

  // An attribute header whose length points past the record.
  void add_bogus_length(uint32 length) {
    store_u32(&rec_.at(next_), 0x80);
    store_u32(&rec_.at(next_ + 4), length);
    next_ += 24;
  }

  void mark_baad() { baad_ = true; }

  std::vector<byte> finish(uint16 check) {
    store_u32(&rec_.at(next_), 0xFFFFFFFF);
    store_u32(&rec_[24], next_ + 8);
    byte* usa = &rec_[48];
    store_u16(usa, check);
    for (uint32 i = 1; i < count_; ++i) {
      byte* end = &rec_[i * 512 - 2];
      std::memcpy(usa + 2 * i, end, 2);
      store_u16(end, check);
    }
    if (baad_) std::memcpy(rec_.data(), "BAAD", 4);
    return rec_;
  }

 private:
  static uint32 align8(uint32 v) { return (v + 7) & ~7u; }
  std::vector<byte> rec_;
  uint16 count_ = 0;
  uint32 next_ = 0;
  bool baad_ = false;
};

}  // namespace quor_test
