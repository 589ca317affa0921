// Every examination over a copy of a kit volume whose MFT records were
// damaged at random: no read outside the records (the sanitizer build
// watches), and no success claimed for data that was not delivered whole.
#include <gtest/gtest.h>

#include <memory>

#include "examine/attribute_dump.h"
#include "examine/attribute_writer.h"
#include "examine/entry_record_report.h"
#include "examine/index_listing.h"
#include "tests/examine/examine_support.h"

namespace {

TEST(DamagedVolume, ExaminationsStayInsideAndClaimOnlyWhatTheyRead) {
  examine_test::volume clean("default.img");
  const ulong64 entries = std::min<ulong64>(clean.ntfs->get_inode_count(), 700);
  const std::string copy = quor_test::copy_fixture("default.img", "damaged.img");
  ASSERT_FALSE(copy.empty());
  {
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    uint32 seed = 12345;
    for (ulong64 e = 16; e < entries; ++e) {
      // Eight bytes of each record, never the last two of a sector (the
      // update sequence would only refuse the record).
      for (int i = 0; i < 8; ++i) {
        seed = seed * 1103515245u + 12345u;
        const uint32 at = 16 + (seed >> 8) % 1000;
        f.seekp(static_cast<std::streamoff>(clean.ntfs->get_inode_file_pos(e) + at - (at % 512 >= 510 ? 2 : 0)));
        f.put(static_cast<char>(seed >> 24));
      }
    }
  }
  const std::unique_ptr<CNtfs> ntfs = quor_test::open_engine_at(copy);
  ASSERT_NE(ntfs, nullptr);
  size_t delivered = 0;
  for (ulong64 e = 16; e < entries; ++e) {
    std::vector<byte> record;
    std::ostringstream text;
    if (read_entry_file_record(ntfs.get(), e, record)) dump_mft_record(record.data(), 1024, text);
    std::vector<entry_record> records;
    if (!collect_entry_records(ntfs.get(), e, records)) continue;
    list_index_allocations(ntfs.get(), e, text);
    for (const entry_record& r : records) {
      write_entry_record_report(r, text, ntfs.get());
      ulong64 bytes = 0;
      if (!pump_entry_record(ntfs.get(), r, false, [&bytes](const byte*, uint32 n) { return (bytes += n) > 0; }))
        continue;
      ++delivered;
      EXPECT_EQ(bytes, entry_data_length(ntfs.get(), r, false)) << "entry " << e;
    }
  }
  EXPECT_GT(delivered, 100u);
}

}  // namespace
