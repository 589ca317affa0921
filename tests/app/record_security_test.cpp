// A resident security-descriptor attribute reaches its attribute record as
// the descriptor's text, each line indented by two blanks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/record_reader.h"
#include "tests/app/record_builder.h"
#include "utils/byte_order.h"

TEST(RecordSecurity, ResidentDescriptorBecomesIndentedText) {
  // Owner S-1-5-32-544 at 20, no group or SACL, DACL at 36 with one ACE
  // allowing S-1-1-0 the standard rights.
  std::vector<byte> sd = {1, 0, 0x04, 0x80, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 36, 0, 0, 0,
                          1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0,
                          2, 0, 28, 0, 1, 0, 0, 0,
                          0, 3, 20, 0, 0xFF, 0x01, 0x1F, 0x00,
                          1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
  std::vector<byte> damaged = sd;
  store_u32(&damaged[4], 0x7FFF);  // owner past the value
  store_u16(&damaged[38], 0xFFFF);  // DACL larger than the value

  // Entries 0 and 1: the descriptor and its damaged copy; 2 to 6: owners
  // S-1-5-32-545 to 549, more different descriptors in a row than a reader
  // keeps rendered; 7: a descriptor beside an attribute of another kind.
  std::vector<std::vector<byte>> records;
  quor_test::record_builder r0, r1;
  r0.add(0x50, 1, u"", sd);
  r1.add(0x50, 1, u"", damaged);
  records.push_back(r0.finish());
  records.push_back(r1.finish());
  for (byte rid = 0x21; rid <= 0x25; ++rid) {
    std::vector<byte> owned = sd;
    owned[32] = rid;
    quor_test::record_builder r;
    r.add(0x50, 1, u"", owned);
    records.push_back(r.finish());
  }
  quor_test::record_builder r7;
  r7.add(0x80, 0, u"", {'d', 'a', 't', 'a'});
  r7.add(0x50, 1, u"", sd);
  records.push_back(r7.finish());
  user_ctx ctx;
  quor_test::open_as_mft_file(ctx, records, "security.mft");

  const std::string dacl =
      "\n"
      "  Discretionary Access Control List\n"
      "  access allowed  World           DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER | SYNCHRONIZE\n";
  const std::string expected[] = {
      "  Security Identifiers\n  owner sid [S-1-5-32-544]\n" + dacl,
      "  Security Identifiers\n  owner sid []\n" + dacl,
      "  Security Identifiers\n  owner sid [S-1-5-32-545]\n" + dacl,
      "  Security Identifiers\n  owner sid [S-1-5-32-546]\n" + dacl,
      "  Security Identifiers\n  owner sid [S-1-5-32-547]\n" + dacl,
      "  Security Identifiers\n  owner sid [S-1-5-32-548]\n" + dacl,
      "  Security Identifiers\n  owner sid [S-1-5-32-549]\n" + dacl,
      "  Security Identifiers\n  owner sid [S-1-5-32-544]\n" + dacl,
  };
  // One record reused as a walker reuses it, the entries read forwards,
  // backwards and alternating.
  inode_attributes rec;
  for (ulong64 entry : {0, 1, 2, 3, 4, 5, 6, 7, 6, 5, 4, 3, 2, 1, 0, 1, 0, 7, 2, 7}) {
    ASSERT_TRUE(read_inode(rec, ctx, entry));
    const attribute_record& attr = rec.attributes.at(0x50 | (1ull << 48));
    EXPECT_EQ(attr.label, "security descr");
    EXPECT_EQ(attr.detail, expected[entry]) << entry;
    for (const auto& kv : rec.attributes) {
      if (kv.second.type() != 0x50) {
        EXPECT_EQ(kv.second.detail, "") << entry;
      }
    }
  }
}
