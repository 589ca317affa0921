// The walker's services: the entry filters, and data copies checked against
// The Sleuth Kit's icat on the fixture volumes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/record_reader.h"
#include "app/source_open.h"
#include "app/walk_services.h"
#include "ntfs/ntfs.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"
#include "utils/byte_order.h"
#include "utils/hex_text.h"

namespace {

using quor_test::fixture;
using quor_test::run_command;

bool open_image(user_ctx& ctx, const std::string& image) {
  std::vector<std::string> args = {"quor", "-image", image, "-quiet"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  return ctx.parse_cmdline(static_cast<int>(argv.size()), argv.data()) == 0 && initialize_mft(ctx);
}

ulong64 inode_of(const std::string& image, const std::string& path) {
  for (const auto& e : quor_test::read_listing(image))
    if (e.path == path) return e.inode;
  return 0;
}

const attribute_record* find_attribute(const inode_attributes& rec, uint32 type, const std::wstring& name) {
  for (const auto& kv : rec.attributes)
    if (kv.second.type() == type && kv.second.name == name) return &kv.second;
  return nullptr;
}

std::string hex_digest(const byte* d) {
  std::string s;
  bytes_to_hex(s, d, 16);
  return s;
}

// Two texts of filter options and what an entry named `name` with all its
// times at `t` gives.
TEST(WalkFilters, NameExtensionAndTimeWindow) {
  const ulong64 t = 130000000000000000ull;
  inode_attributes rec;
  filename_record fn;
  fn.name = L"Report.Final.DOCX";
  for (int i = 0; i < 4; ++i) store_u64(fn.data + 8 + 8 * i, t);
  rec.filename_records.emplace(1, fn);
  const struct {
    const wchar_t* name;
    const wchar_t* ext;
    ulong64 start, stop;
    bool passes;
  } cases[] = {
      {L"", L"", 0, 0, true},
      {L"rt.fin", L"", 0, 0, true},  // anywhere in the lower-cased name
      {L"report.final.docx", L"", 0, 0, true},
      {L"xreport", L"", 0, 0, false},
      {L"", L"docx", 0, 0, true},
      {L"", L"cx", 0, 0, false},  // the whole extension, not its tail
      {L"", L"final", 0, 0, false},
      {L"", L"", t, t, true},
      {L"", L"", t + 1, ~0ull, false},
      {L"", L"", 0, t - 1, true},  // a stop time alone tests nothing
      {L"", L"", 1, t - 1, false},
      {L"port", L"docx", t, t, true},
  };
  for (const auto& c : cases) {
    user_ctx ctx;
    ctx.filter_name = c.name;
    ctx.filter_ext = c.ext;
    ctx.filter_start_time = c.start;
    ctx.filter_stop_time = c.stop;
    EXPECT_EQ(inode_passes_filters(rec, ctx), c.passes) << c.name << " " << c.ext << " " << c.start;
  }
  user_ctx ext_only;
  ext_only.filter_ext = L"docx";
  EXPECT_FALSE(inode_passes_filters(inode_attributes(), ext_only));  // no name at all
}

// Every kind of data the kit holds, copied and compared with icat's output
// of the same attribute (and with the kit's own pattern where it has one).
TEST(WalkCopy, DataEqualsIcatAndItsDigest) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  if (!quor_test::have_program("icat") || !quor_test::have_program("md5sum"))
    GTEST_SKIP() << "icat or md5sum not installed";
  const struct {
    const char* path;
    uint32 type;
    const wchar_t* stream;
    bool raw;
  } cases[] = {
      {"/small.txt", 0x80, L"", false},        // resident
      {"/nonres.bin", 0x80, L"", false},       // one run
      {"/frag/a.bin", 0x80, L"", false},       // sixteen runs
      {"/sparse.bin", 0x80, L"", false},       // holes and an initialized size below the data size
      {"/compressed/pattern.bin", 0x80, L"", false},
      {"/compressed/longer.bin", 0x80, L"", false},
      {"/streams.txt", 0x80, L"alt", false},   // named stream
      {"/many", 0xA0, L"$I30", true},          // index records as stored
  };
  user_ctx ctx;
  ASSERT_TRUE(open_image(ctx, image));
  for (const auto& c : cases) {
    const ulong64 inode = inode_of("default", c.path);
    ASSERT_NE(inode, 0u) << c.path;
    inode_attributes rec;
    ASSERT_TRUE(read_inode(rec, ctx, inode)) << c.path;
    const attribute_record* attr = find_attribute(rec, c.type, c.stream);
    ASSERT_NE(attr, nullptr) << c.path;
    const unsigned id = static_cast<unsigned>(load_u16(attr->raw.data() + 14));
    std::string icat, sum;
    const std::string cmd = "icat " + image + " " + std::to_string(inode) + "-" + std::to_string(c.type) + "-" +
                            std::to_string(id);
    ASSERT_EQ(run_command(cmd, icat), 0) << cmd;
    ASSERT_EQ(run_command(cmd + " | md5sum", sum), 0);
    ctx.raw = c.raw;
    std::ostringstream out;
    EXPECT_TRUE(copy_file_data(out, rec, ctx, attr)) << c.path;
    EXPECT_EQ(out.str().size(), icat.size()) << c.path;
    EXPECT_TRUE(out.str() == icat) << c.path;
    EXPECT_EQ(hex_digest(ctx.copy_digest), sum.substr(0, 32)) << c.path;
    std::string expected;
    if (quor_test::expected_file_data("default", c.path, expected) && c.stream[0] == 0) {
      EXPECT_TRUE(out.str() == expected) << c.path;
    }
  }
}

// Index records come out with their update-sequence protection undone:
// every 512-byte sector end of each 4 KiB record holds its saved value.
TEST(WalkCopy, IndexAllocationRecordsAreFixedUp) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  user_ctx ctx;
  ASSERT_TRUE(open_image(ctx, image));
  inode_attributes rec;
  ASSERT_TRUE(read_inode(rec, ctx, inode_of("default", "/many")));
  const attribute_record* attr = find_attribute(rec, 0xA0, L"$I30");
  ASSERT_NE(attr, nullptr);
  std::ostringstream raw_out, fixed_out;
  ctx.raw = true;
  ASSERT_TRUE(copy_file_data(raw_out, rec, ctx, attr));
  ctx.raw = false;
  ASSERT_TRUE(copy_file_data(fixed_out, rec, ctx, attr));
  const std::string raw = raw_out.str(), fixed = fixed_out.str();
  ASSERT_EQ(raw.size(), fixed.size());
  ASSERT_GE(raw.size(), 8192u);
  size_t records = 0;
  for (size_t at = 0; at + 4096 <= raw.size(); at += 4096) {
    const byte* r = reinterpret_cast<const byte*>(raw.data() + at);
    if (std::memcmp(r, "INDX", 4) != 0) continue;
    ++records;
    const uint16 array = load_u16(r + 4), count = load_u16(r + 6);
    ASSERT_EQ(count, 9u);
    for (uint16 i = 1; i < count; ++i) {
      EXPECT_EQ(fixed.compare(at + i * 512 - 2, 2, raw, at + array + 2 * i, 2), 0) << at << " " << i;
      EXPECT_EQ(fixed.compare(at + (i - 1) * 512, 510, raw, at + (i - 1) * 512, 510), 0);
    }
  }
  EXPECT_GT(records, 1u);
}

// A run list that leads outside the volume part way through the file: the
// copy stops there and says so, with the part before it intact.
TEST(WalkCopy, CopyStoppedPartWayIsAFailure) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  user_ctx ctx;
  ASSERT_TRUE(open_image(ctx, image));
  inode_attributes rec;
  ASSERT_TRUE(read_inode(rec, ctx, inode_of("default", "/frag/a.bin")));
  const attribute_record* good = find_attribute(rec, 0x80, L"");
  ASSERT_NE(good, nullptr);
  ASSERT_GE(good->runs.size(), 8u);
  // The runs written again with 4-byte offsets, the fifth one's leading far
  // past the volume's end.
  attribute_record bad = *good;
  const uint32 pairs = load_u16(bad.raw.data() + 32);
  bad.raw.resize(pairs + 6 * good->runs.size() + 8, 0);
  store_u32(bad.raw.data() + 4, static_cast<uint32>(bad.raw.size()));
  uint32 at = pairs;
  ulong64 previous = 0;
  for (size_t k = 0; k < good->runs.size(); ++k) {
    const ulong64 lcn = k == 4 ? 0x40000000ull : good->runs[k].lcn;
    ASSERT_LT(good->runs[k].num_clusters, 256u);
    bad.raw[at] = 0x41;
    bad.raw[at + 1] = static_cast<byte>(good->runs[k].num_clusters);
    store_u32(bad.raw.data() + at + 2, static_cast<uint32>(lcn - previous));
    previous = lcn;
    at += 6;
  }
  bad.raw[at] = 0;
  const std::string expected_head = [&] {
    std::ostringstream whole;
    copy_file_data(whole, rec, ctx, good);
    return whole.str().substr(0, 4 * 4096);
  }();
  std::ostringstream out;
  EXPECT_FALSE(copy_file_data(out, rec, ctx, &bad));
  EXPECT_EQ(out.str().size(), 4u * 4096);
  EXPECT_TRUE(out.str() == expected_head);

  // A stream that refuses the data is a failure too.
  std::ostringstream refused;
  refused.setstate(std::ios_base::badbit);
  EXPECT_FALSE(copy_file_data(refused, rec, ctx, good));
}


// A compressed attribute is read unit by unit, a unit being the cluster size
// times 2 to the attribute's unit exponent (here 4 clusters, 16 KiB): units
// without a sparse cluster were stored whole and are copied as they are, an
// all-sparse unit is zeros and does not end the copy.
TEST(WalkCopy, CompressedDataGoesByCompressionUnit) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  user_ctx ctx;
  ASSERT_TRUE(open_image(ctx, image));
  inode_attributes rec;
  ASSERT_TRUE(read_inode(rec, ctx, inode_of("default", "/nonres.bin")));
  const attribute_record* plain = find_attribute(rec, 0x80, L"");
  ASSERT_NE(plain, nullptr);
  ASSERT_EQ(plain->runs.size(), 1u);
  const ulong64 lcn = plain->runs[0].lcn, cs = ctx.ntfs->m_cluster_size;
  ASSERT_EQ(cs, 4096u);
  std::ostringstream whole;
  ASSERT_TRUE(copy_file_data(whole, rec, ctx, plain));

  // Runs: 8 clusters, a 4-cluster hole, 4 clusters; 16 clusters of data.
  attribute_record packed = *plain;
  packed.raw.assign(plain->raw.begin(), plain->raw.begin() + 64);
  packed.raw.resize(96, 0);
  store_u32(packed.raw.data() + 4, 96);
  store_u16(packed.raw.data() + 12, 0x0001);
  store_u16(packed.raw.data() + 32, 72);
  packed.raw[34] = 2;
  for (uint32 field : {40u, 48u, 56u}) store_u64(packed.raw.data() + field, 16 * cs);
  store_u64(packed.raw.data() + 64, 12 * cs);
  const byte pairs[] = {0x31, 8, static_cast<byte>(lcn), static_cast<byte>(lcn >> 8), static_cast<byte>(lcn >> 16),
                        0x01, 4,
                        0x11, 4, 8, 0};
  std::memcpy(packed.raw.data() + 72, pairs, sizeof pairs);
  std::ostringstream out;
  ASSERT_TRUE(copy_file_data(out, rec, ctx, &packed));
  const std::string expected =
      whole.str().substr(0, 8 * cs) + std::string(4 * cs, '\0') + whole.str().substr(8 * cs, 4 * cs);
  EXPECT_EQ(out.str().size(), expected.size());
  EXPECT_TRUE(out.str() == expected);
}

}  // namespace
