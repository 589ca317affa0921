#pragma once
// FILE records built by hand for the record-reading tests: attributes laid
// out as NTFS lays them out, then the update-sequence protection applied so
// that the reader has to undo it.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/user_ctx.h"
#include "tests/support/fixture.h"
#include "utils/byte_order.h"
#include "utils/file_handle.h"
#include "utils/types.h"

namespace quor_test {

struct record_builder {
  std::vector<byte> rec;
  uint32 next;

  explicit record_builder(uint32 size = 1024) : rec(size, 0), next((48 + 2 * (size / 512 + 1) + 7) & ~7u) {
    std::memcpy(rec.data(), "FILE", 4);
    store_u16(&rec[4], 48);
    store_u16(&rec[6], static_cast<uint16>(size / 512 + 1));
    store_u16(&rec[16], 1);
    store_u16(&rec[20], static_cast<uint16>(next));
    store_u16(&rec[22], 1);
  }

  void add(uint32 type, uint16 id, const std::u16string& name, const std::vector<byte>& value) {
    uint32 value_offset = (24 + 2 * static_cast<uint32>(name.size()) + 7) & ~7u;
    uint32 length = (value_offset + static_cast<uint32>(value.size()) + 7) & ~7u;
    byte* a = &rec.at(next + length) - length;
    store_u32(a, type);
    store_u32(a + 4, length);
    a[9] = static_cast<byte>(name.size());
    store_u16(a + 10, 24);
    store_u16(a + 14, id);
    store_u32(a + 16, static_cast<uint32>(value.size()));
    store_u16(a + 20, static_cast<uint16>(value_offset));
    for (size_t i = 0; i < name.size(); ++i) store_u16(a + 24 + 2 * i, name[i]);
    std::memcpy(a + value_offset, value.data(), value.size());
    next += length;
  }

  void add_file_name(uint16 id, ulong64 parent, const std::u16string& name, uint8 name_space, ulong64 time) {
    std::vector<byte> v(66 + 2 * name.size(), 0);
    store_u64(&v[0], parent);
    for (int i = 0; i < 4; ++i) store_u64(&v[8 + 8 * i], time);
    v[64] = static_cast<byte>(name.size());
    v[65] = name_space;
    for (size_t i = 0; i < name.size(); ++i) store_u16(&v[66 + 2 * i], name[i]);
    add(0x30, id, u"", v);
  }

  // The end marker, bytes in use, and every sector end moved into the array.
  std::vector<byte> finish() {
    store_u32(&rec.at(next), 0xFFFFFFFF);
    store_u32(&rec[24], next + 8);
    store_u16(&rec[48], 0x0707);
    for (uint32 i = 1; i <= rec.size() / 512; ++i) {
      std::memcpy(&rec[48 + 2 * i], &rec[i * 512 - 2], 2);
      store_u16(&rec[i * 512 - 2], 0x0707);
    }
    return rec;
  }
};

// Writes `records` one after another as an extracted $MFT file named `name`
// in the scratch folder and opens it as the source of `ctx`.
inline void open_as_mft_file(user_ctx& ctx, const std::vector<std::vector<byte>>& records, const std::string& name) {
  const std::string path = scratch_dir() + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  for (const auto& r : records) std::fwrite(r.data(), 1, r.size(), f);
  std::fclose(f);
  ctx.mft_reader = new uni::file_handle(path, false, false);
  ctx.is_open = true;
}

}  // namespace quor_test
