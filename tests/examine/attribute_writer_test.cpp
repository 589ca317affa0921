// The attribute writer against icat (and md5sum) on kit volumes, and its
// refusals: data cut short by a damaged run list or a truncated image is a
// failure without a digest; damaged index records pass through unrepaired.
#include "examine/attribute_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ntfs/mft_record.h"
#include "tests/examine/examine_support.h"
#include "tests/support/listing.h"
#include "utils/byte_order.h"

namespace {

using examine_test::volume;

std::string md5sum_of(const std::string& cmd) {
  std::string out;
  if (quor_test::run_command(cmd + " | md5sum", out) != 0 || out.size() < 32) return "";
  return out.substr(0, 32);
}

struct data_case {
  const char* image;
  const char* path;
  const char* stream;
};

TEST(AttributeWriter, EveryKindOfFileEqualsIcat) {
  if (!quor_test::have_program("icat") || !quor_test::have_program("md5sum"))
    GTEST_SKIP() << "icat or md5sum not installed";
  const data_case cases[] = {
      {"default.img", "/small.txt", ""},          {"default.img", "/nonres.bin", ""},
      {"default.img", "/frag/a.bin", ""},         {"default.img", "/sparse.bin", ""},
      {"default.img", "/compressed/pattern.bin", ""}, {"default.img", "/compressed/longer.bin", ""},
      {"default.img", "/streams.txt", "alt"},     {"default.img", "/streams.txt", ""},
      {"c64k.img", "/nonres.bin", ""},            {"c64k.img", "/frag/b.bin", ""},
      {"c512.img", "/frag/a.bin", ""},            {"s4096.img", "/nonres.bin", ""},
  };
  for (const data_case& c : cases) {
    SCOPED_TRACE(std::string(c.image) + c.path + ":" + c.stream);
    volume v(c.image);
    ASSERT_NE(v.ntfs, nullptr);
    const ulong64 entry = v.entry_of(c.path);
    std::vector<entry_record> records;
    const entry_record* rec = v.find(records, entry, 0x80, c.stream);
    ASSERT_NE(rec, nullptr);
    std::ostringstream out, messages;
    std::string md5;
    ASSERT_TRUE(write_attribute_data(v.ntfs, *rec, out, messages, false, true, md5));
    std::string address = std::to_string(entry);
    if (*c.stream) address += "-128-" + std::to_string(rec->item.header.small_value);
    std::string want;
    ASSERT_TRUE(examine_test::icat(v.image, address, want));
    EXPECT_TRUE(out.str() == want);
    EXPECT_EQ(md5, md5sum_of("icat " + v.image + " " + address));
    EXPECT_TRUE(messages.str().empty());
  }
}

TEST(AttributeWriter, LargeClustersMatchTheKitContent) {
  // The Sleuth Kit does not read 128 KiB clusters: the content rules decide.
  volume v("c128k.img");
  ASSERT_NE(v.ntfs, nullptr);
  for (const char* path : {"/nonres.bin", "/frag/a.bin", "/small.txt"}) {
    SCOPED_TRACE(path);
    std::vector<entry_record> records;
    const entry_record* rec = v.find(records, v.entry_of(path), 0x80, "");
    ASSERT_NE(rec, nullptr);
    std::string want;
    ASSERT_TRUE(quor_test::expected_file_data("c128k.img", path, want));
    std::ostringstream out, messages;
    ASSERT_TRUE(copy_attribute_data(v.ntfs, *rec, out, messages, false));
    EXPECT_TRUE(out.str() == want);
  }
}

TEST(AttributeWriter, IndexAllocationFixedUnlessRaw) {
  if (!quor_test::have_program("icat")) GTEST_SKIP() << "icat not installed";
  volume v("default.img");
  ASSERT_NE(v.ntfs, nullptr);
  const ulong64 entry = v.entry_of("/many");
  std::vector<entry_record> records;
  const entry_record* rec = v.find(records, entry, 0xA0, "$I30");
  ASSERT_NE(rec, nullptr);
  std::string stored;
  ASSERT_TRUE(examine_test::icat(v.image, std::to_string(entry) + "-160-" + std::to_string(rec->item.header.small_value), stored));
  ASSERT_GE(stored.size(), 8192u);
  std::ostringstream raw, fixed, messages;
  ASSERT_TRUE(copy_attribute_data(v.ntfs, *rec, raw, messages, true));
  ASSERT_TRUE(copy_attribute_data(v.ntfs, *rec, fixed, messages, false));
  EXPECT_TRUE(raw.str() == stored);
  ASSERT_EQ(fixed.str().size(), stored.size());
  for (size_t at = 0; at + 4096 <= stored.size(); at += 4096) {
    std::vector<byte> want(stored.begin() + at, stored.begin() + at + 4096);
    ASSERT_EQ(apply_update_sequence(want.data(), 4096), RECORD_FIXUP_APPLIED);
    EXPECT_EQ(fixed.str().compare(at, 4096, std::string(want.begin(), want.end())), 0) << "record at " << at;
  }
}

// Copies the image; `damage` changes the copy before it is opened.
template <typename Damage>
std::string damaged_copy(const std::string& image, const std::string& name, Damage damage) {
  const std::string copy = quor_test::scratch_dir() + "/" + name;
  std::string ignored;
  if (quor_test::run_command("cp " + image + " " + copy, ignored) != 0) return "";
  damage(copy);
  return copy;
}

TEST(AttributeWriter, DataCutShortIsAFailureWithoutDigest) {
  volume v("default.img");
  ASSERT_NE(v.ntfs, nullptr);
  std::vector<entry_record> records;
  const entry_record* rec = v.find(records, v.entry_of("/nonres.bin"), 0x80, "");
  ASSERT_NE(rec, nullptr);
  ASSERT_FALSE(rec->runs.empty());

  // A run past the end of the volume, the size raised to cover it.
  entry_record beyond = *rec;
  const data_run& last = beyond.runs.back();
  beyond.runs.push_back(data_run(v.ntfs->m_total_clusters + 100, last.vcn + last.num_clusters, 4, false));
  store_u64(beyond.item.body + 16, entry_used_size(*rec) + 4 * v.ntfs->m_cluster_size);
  store_u64(beyond.item.body + 8, entry_used_size(beyond));

  // The image cut in the middle of the file's first run.
  const ulong64 cut = rec->runs[0].lcn * v.ntfs->m_cluster_size + 8192;
  const std::string truncated = damaged_copy(v.image, "truncated.img", [cut](const std::string& p) {
    std::string ignored;
    quor_test::run_command("truncate -s " + std::to_string(cut) + " " + p, ignored);
  });
  CNtfs* short_volume = nullptr;
  ASSERT_TRUE(open_ntfs_image(truncated.c_str(), 0, short_volume, false, false));
  std::unique_ptr<CNtfs> owner(short_volume);

  struct {
    CNtfs* ntfs;
    const entry_record* rec;
  } cases[] = {{v.ntfs, &beyond}, {short_volume, rec}};
  for (const auto& c : cases) {
    std::ostringstream out, messages;
    std::string md5 = "stale";
    EXPECT_FALSE(write_attribute_data(c.ntfs, *c.rec, out, messages, false, true, md5));
    EXPECT_TRUE(md5.empty());
    EXPECT_EQ(write_entry_data(out, c.ntfs, *c.rec, false, false), 0);
  }
  // Nothing to deliver, no volume, a failing output.
  std::ostringstream out, messages;
  std::string md5;
  EXPECT_FALSE(write_attribute_data(v.ntfs, entry_record(), out, messages, false, true, md5));
  EXPECT_FALSE(write_attribute_data(nullptr, *rec, out, messages, false, true, md5));
  std::ostream nowhere(nullptr);
  EXPECT_FALSE(write_attribute_data(v.ntfs, *rec, nowhere, messages, false, true, md5));
  EXPECT_FALSE(write_attribute_data(v.ntfs, *rec, out, nowhere, false, true, md5));
}

TEST(AttributeWriter, DamagedIndexRecordPassesThroughUnrepaired) {
  volume v("default.img");
  ASSERT_NE(v.ntfs, nullptr);
  std::vector<entry_record> records;
  const entry_record* rec = v.find(records, v.entry_of("/many"), 0xA0, "$I30");
  ASSERT_NE(rec, nullptr);
  const ulong64 at = rec->runs[0].lcn * v.ntfs->m_cluster_size;
  // The update-sequence array said to lie at the end of the record, far too long.
  const std::string copy = damaged_copy(v.image, "usa.img", [at](const std::string& p) {
    std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
    const byte bad[4] = {0xF0, 0x0F, 0xFF, 0xFF};
    f.seekp(static_cast<std::streamoff>(at + 4));
    f.write(reinterpret_cast<const char*>(bad), 4);
  });
  CNtfs* ntfs = nullptr;
  ASSERT_TRUE(open_ntfs_image(copy.c_str(), 0, ntfs, false, false));
  std::unique_ptr<CNtfs> owner(ntfs);
  std::ostringstream raw, fixed, messages;
  ASSERT_TRUE(copy_attribute_data(ntfs, *rec, raw, messages, true));
  ASSERT_TRUE(copy_attribute_data(ntfs, *rec, fixed, messages, false));
  EXPECT_TRUE(fixed.str().substr(0, 4096) == raw.str().substr(0, 4096));
}

std::string g_fed;
uint32 g_fed_value = 0;
void collect_fed(const byte* data, uint32 length, uint32 value) {
  g_fed.append(reinterpret_cast<const char*>(data), length);
  g_fed_value = value;
}

TEST(AttributeWriter, SinkAndUnnamedDataSeeTheSameBytes) {
  volume v("default.img");
  ASSERT_NE(v.ntfs, nullptr);
  const ulong64 entry = v.entry_of("/compressed/longer.bin");
  std::vector<entry_record> records;
  const entry_record* rec = v.find(records, entry, 0x80, "");
  ASSERT_NE(rec, nullptr);
  std::string want;
  ASSERT_TRUE(quor_test::expected_file_data("default.img", "/compressed/longer.bin", want));
  g_fed.clear();
  ASSERT_TRUE(feed_attribute_data(v.ntfs, *rec, collect_fed, 77, false));
  EXPECT_TRUE(g_fed == want);
  EXPECT_EQ(g_fed_value, 77u);
  std::ostringstream out;
  ASSERT_TRUE(write_unnamed_data(v.ntfs, entry, out));
  EXPECT_TRUE(out.str() == want);
  std::ostringstream shown;
  EXPECT_EQ(write_entry_data(shown, v.ntfs, *rec, false, false), 1);
  EXPECT_TRUE(shown.str() == want);
}

}  // namespace
