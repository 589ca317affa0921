// Filing the attributes of MFT records into one inode_attributes, as the
// directory walker does for every entry: records of the kind older volumes
// keep for every file (standard information, a name, a resident security
// descriptor, resident data), sharing one descriptor or each with its own,
// and records of the kind newer volumes keep (the descriptor in $Secure).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "app/record_reader.h"
#include "app/user_ctx.h"
#include "ntfs/mft_record.h"
#include "tests/support/record_builder.h"
#include "utils/byte_order.h"

namespace {

void append(std::vector<byte>& to, const std::vector<byte>& part) {
  const size_t at = to.size();
  to.resize(at + part.size());
  std::copy(part.begin(), part.end(), to.begin() + static_cast<std::ptrdiff_t>(at));
}

// Owner S-1-5-32-`owner`, group S-1-5-18, a DACL allowing Administrators
// and SYSTEM everything and Users reading: what a file of an older volume
// inherits (owner 544, Administrators).
std::vector<byte> descriptor(uint32 owner) {
  std::vector<byte> owner_sid = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0, 0, 0, 0};
  store_u32(&owner_sid[12], owner);
  const std::vector<byte> admins = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
  const std::vector<byte> system = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  const std::vector<byte> users = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};
  std::vector<byte> aces;
  const std::pair<uint32, const std::vector<byte>*> grants[] = {
      {0x1F01FF, &admins}, {0x1F01FF, &system}, {0x1200A9, &users}};
  for (const auto& g : grants) {
    std::vector<byte> ace(8, 0);
    ace[2] = static_cast<byte>(8 + g.second->size());
    store_u32(&ace[4], g.first);
    append(ace, *g.second);
    append(aces, ace);
  }
  std::vector<byte> sd(20, 0);
  sd[0] = 1;
  store_u16(&sd[2], 0x8004);  // self-relative, DACL present
  store_u32(&sd[4], 20);
  append(sd, owner_sid);
  store_u32(&sd[8], static_cast<uint32>(sd.size()));
  append(sd, system);
  store_u32(&sd[16], static_cast<uint32>(sd.size()));
  std::vector<byte> acl(8, 0);
  acl[0] = 2;
  store_u16(&acl[2], static_cast<uint16>(8 + aces.size()));
  store_u16(&acl[4], 3);
  append(sd, acl);
  append(sd, aces);
  return sd;
}

std::vector<byte> file_record(bool with_descriptor, uint32 owner = 544) {
  quor_test::record_builder r;
  r.add(ATTR_STANDARD_INFORMATION, 0, u"", std::vector<byte>(72, 1));
  r.add_file_name(1, 5, u"report-2023.docx", 1, 133000000000000000ull);
  if (with_descriptor) r.add(ATTR_SECURITY_DESCRIPTOR, 2, u"", descriptor(owner));
  r.add(ATTR_DATA, 3, u"", std::vector<byte>(300, 7));
  return r.done();
}

// Files the records in turn into one reused inode_attributes.
void file_attributes(benchmark::State& state, const std::vector<std::vector<byte>>& records) {
  user_ctx ctx;
  inode_attributes out;
  for (auto _ : state) {
    for (const std::vector<byte>& record : records) {
      out.clear();
      const byte* rec = record.data();
      const uint32 limit = record_walk_limit(rec, static_cast<uint32>(record.size()));
      uint32 offset = load_u16(rec + FRH_FIRST_ATTRIBUTE), type = 0, length = 0;
      while (attribute_at(rec, limit, offset, type, length)) {
        bool is_list = false;
        out.parse_attribute(ctx, 64, rec, limit, rec + offset, is_list);
        offset += length;
      }
      benchmark::DoNotOptimize(out.attributes.size());
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * records.size()));
}

void BM_FileRecordWithDescriptor(benchmark::State& state) {
  file_attributes(state, std::vector<std::vector<byte>>(64, file_record(true)));
}
void BM_FileRecordWithoutDescriptor(benchmark::State& state) {
  file_attributes(state, std::vector<std::vector<byte>>(64, file_record(false)));
}
// Each record with an owner of its own: no two neighbours share a descriptor.
void BM_FileRecordDescriptorsDiffer(benchmark::State& state) {
  std::vector<std::vector<byte>> records;
  for (uint32 i = 0; i < 64; ++i) records.push_back(file_record(true, 1000 + i));
  file_attributes(state, records);
}

}  // namespace

BENCHMARK(BM_FileRecordWithDescriptor);
BENCHMARK(BM_FileRecordWithoutDescriptor);
BENCHMARK(BM_FileRecordDescriptorsDiffer);
