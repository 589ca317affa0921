// The "File Record:" report sections, written by hand from the rules.
#include "examine/entry_record_report.h"

#include <gtest/gtest.h>

#include <sstream>

#include "utils/byte_order.h"

namespace {

const ulong64 MAY_2023 = 133273728000000000ULL;  // 2023-05-01 00:00:00 UTC

entry_record file_record() {
  entry_record r;
  r.item.header.type = ENTRY_SUMMARY_TYPE;
  entry_summary s;
  s.reference_low = 42;
  s.sequence = 3;
  s.flags = 1 | 2 | 4 | (15 << 3) | 0x80;
  s.base_reference = 7;
  s.store(r.item.body);
  return r;
}

entry_record data_record(uint16 flags, ulong64 compressed) {
  entry_record r;
  r.item.header.type = 0x80;
  r.item.header.word_value = flags;
  r.item.header.flag = 1;
  store_u64(r.item.body + 8, 0x10000);
  store_u64(r.item.body + 16, 0x9000);
  store_u64(r.item.body + 24, compressed);
  store_u32(r.item.body + 32, 4);
  r.runs.push_back(data_run(0x20, 0, 4, false));
  r.runs.push_back(data_run(0, 4, 12, true));
  return r;
}

entry_record resident_record() {
  entry_record r;
  r.item.header.type = 0x80;
  r.name = "alt";
  store_u32(r.item.body, 17);
  for (byte b = 0; b < 17; ++b) r.resident.push_back(b);
  return r;
}

entry_record name_record() {
  entry_record r;
  r.item.header.type = 0x30;
  r.text = "name.txt";
  store_u64(r.item.body, 0x0005000000000005ULL);
  for (int i = 0; i < 4; ++i) store_u64(r.item.body + 8 + 8 * i, MAY_2023 + i * 600 * 10000000ULL);
  r.item.body[48] = 1;
  return r;
}

TEST(EntryRecordReport, SectionsByHand) {
  const struct {
    entry_record rec;
    const char* want;
  } cases[] = {
      {file_record(),
       "File Record: \n  MFT entry: 0x0000002a [42]\n  Seq Num:   0x0003 [3]\n  Type:      directory\n"
       "  deleted\n  references mft entry: 0x000000000007\n  Ref Count: -1\n"},
      {data_record(0x8001, 0x3000),
       "Data Attrib: (unnamed), data compressed, sparse clusters\n  alloc: 0x000000010000 [65536]\n"
       "  used:  0x000000009000 [36864]\n  compressed size: 0x000000003000\n  cluster runs\n"
       "    0000000000000020 : 0000000000000023\n    0000000000000000 : 000000000000000b [sparsed]\n"},
      {resident_record(),
       "Data Attrib: alt\n  used:  0x0011 [17]\n"
       "  00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n  10 \n"},
      {name_record(),
       "Filename Attrib: name.txt, (indexed)\n  parnt mft: 0x00000005 [5]\n"
       "  modified:  05/01/2023 00:10:00.000\n  accessed:  05/01/2023 00:20:00.000\n"
       "  created:   05/01/2023 00:00:00.000\n  mft mod:   05/01/2023 00:30:00.000\n"},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    write_entry_record_report(c.rec, out, nullptr);
    EXPECT_EQ(out.str(), c.want);
    std::wostringstream wide;
    write_entry_record_report_w(c.rec, wide, nullptr);
    EXPECT_EQ(wide.str().size(), out.str().size());
  }
}

}  // namespace
