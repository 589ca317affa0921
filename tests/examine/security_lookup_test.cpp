// Security ids resolved through $Secure against the descriptors the mounted
// volume shows (ntfs-3g's system.ntfs_acl), the cache never serving one
// volume's descriptors for another, and object ids through $ObjId.
#include "examine/security_lookup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "ntfs/security_descriptor.h"
#include "tests/examine/examine_support.h"
#include "tests/support/listing.h"
#include "utils/byte_order.h"

namespace {

using examine_test::volume;

uint32 security_id_of(volume& v, const std::string& path) {
  std::vector<entry_record> records;
  const entry_record* si = v.find(records, v.entry_of(path), 0x10, "");
  return si ? load_u32(si->item.body, 36) : 0;
}

// Unmounts when it goes, so that no failure leaves the mount behind.
struct mounted {
  std::string point = quor_test::scratch_dir() + "/acl.mnt";
  bool ok = false;
  explicit mounted(const std::string& image) {
    mkdir(point.c_str(), 0700);
    std::string out;
    ok = quor_test::run_command("cp " + image + " " + point + ".img && ntfs-3g -o ro " + point + ".img " + point,
                                out) == 0;
  }
  ~mounted() {
    std::string out;
    if (ok) quor_test::run_command("umount " + point, out);
  }
};

TEST(SecurityLookup, DescriptorsEqualTheMountedVolume) {
  volume v("views.img");
  ASSERT_NE(v.ntfs, nullptr);
  const std::vector<std::string> paths = {"/owners/u00.txt", "/owners/u17.txt", "/owners/u59.txt", "/links/target.txt"};
  if (geteuid() != 0 || !quor_test::have_program("ntfs-3g") || !quor_test::have_program("getfattr"))
    GTEST_SKIP() << "needs root, ntfs-3g and getfattr";
  const mounted m(v.image);
  ASSERT_TRUE(m.ok);
  for (const std::string& p : paths) {
    std::string sd;
    quor_test::run_command("getfattr --only-values -n system.ntfs_acl " + m.point + p + " 2>/dev/null", sd);
    ASSERT_FALSE(sd.empty()) << p;
    std::ostringstream want, out;
    print_security_descriptor(want, reinterpret_cast<const byte*>(sd.data()), static_cast<uint32>(sd.size()), nullptr);
    ASSERT_TRUE(print_security_id(v.ntfs, security_id_of(v, p), out)) << p;
    EXPECT_EQ(out.str(), want.str() + "\n") << p;
  }
  std::ostringstream none;
  EXPECT_FALSE(print_security_id(v.ntfs, 0xFFFFFF, none));
}

TEST(SecurityLookup, CacheFollowsTheVolumeNotTheEngineAddress) {
  uint32 id = 0;
  std::string views_text;
  {
    volume v("views.img");
    ASSERT_NE(v.ntfs, nullptr);
    id = security_id_of(v, "/owners/u59.txt");
    std::ostringstream out;
    ASSERT_TRUE(print_security_id(v.ntfs, id, out));
    views_text = out.str();
  }
  // A new engine, likely at the old one's address, on another volume.
  volume d("default.img");
  ASSERT_NE(d.ntfs, nullptr);
  security_id_map ids;
  security_text_map texts;
  ASSERT_TRUE(load_security_tables(d.ntfs, ids, texts));
  std::ostringstream out;
  const bool known = ids.count(id) && texts.count(ids[id].sds_offset);
  EXPECT_EQ(print_security_id(d.ntfs, id, out), known);
  EXPECT_EQ(out.str(), known ? texts[ids[id].sds_offset] + "\n" : "");
  EXPECT_NE(out.str(), views_text);
}

// By drive letter the same texts come out as by the open volume.
TEST(SecurityLookup, ByDriveLetterAsByVolume) {
  volume v("views.img");
  ASSERT_NE(v.ntfs, nullptr);
  quor_test::drive_letter q(v.image);
  ASSERT_TRUE(q.ok);
  size_t found = 0;
  for (const char* path : {"/owners/u59.txt", "/owners", "/"}) {
    const uint32 id = security_id_of(v, path);
    std::ostringstream by_volume, by_drive;
    const bool known = print_security_id(v.ntfs, id, by_volume);
    EXPECT_EQ(print_security_id(std::string("Q:\\"), id, by_drive), known) << path;
    EXPECT_EQ(by_drive.str(), by_volume.str()) << path;
    found += known;
  }
  EXPECT_GE(found, 2u);
  std::ostringstream out;
  EXPECT_FALSE(print_security_id(std::string("Q:"), 0xFFFFFF, out));
  EXPECT_FALSE(print_security_id(std::string(), security_id_of(v, "/owners/u59.txt"), out));
  EXPECT_FALSE(print_security_id(std::string("Z:"), security_id_of(v, "/owners/u59.txt"), out));
  EXPECT_EQ(out.str(), "");
}

TEST(SecurityLookup, ObjectIdsAndBirthIdsFindTheirEntries) {
  volume v("views.img");
  ASSERT_NE(v.ntfs, nullptr);
  for (const quor_test::listing_entry& e : quor_test::read_listing("views.img")) {
    int n = 0;
    if (std::sscanf(e.path.c_str(), "/objids/o%d.txt", &n) != 1 || n % 13 != 0) continue;
    for (byte filler : {byte(0x11), byte(0x33)}) {  // the object id, the birth object id
      byte id[16];
      std::memset(id, filler, sizeof id);
      id[0] = static_cast<byte>(n);
      ulong64 reference = 1;
      uint16 sequence = 1;
      ASSERT_TRUE(find_object_id(v.ntfs, id, reference, sequence)) << e.path;
      EXPECT_EQ(reference & 0xFFFFFFFFFFFFULL, e.inode);
      EXPECT_EQ(sequence, e.sequence);
    }
  }
  byte unknown[16] = {0xEE};
  ulong64 reference = 1;
  uint16 sequence = 1;
  EXPECT_FALSE(find_object_id(v.ntfs, unknown, reference, sequence));
  EXPECT_EQ(reference + sequence, 0u);
}

}  // namespace
