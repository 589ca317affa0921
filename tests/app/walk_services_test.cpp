// The walker's services: the entry filters, and data copies checked against
// The Sleuth Kit's icat on the fixture volumes.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "app/record_reader.h"
#include "app/source_open.h"
#include "app/walk_services.h"
#include "ntfs/ntfs.h"
#include "tests/support/child_process.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"
#include "utils/byte_order.h"

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

// default.img opened in `ctx`, the entry at `path` read into `rec`: its
// attribute of `type` named `name`, or null.
const attribute_record* kit_attribute(user_ctx& ctx, inode_attributes& rec, const std::string& path, uint32 type,
                                      const std::wstring& name) {
  const std::string image = fixture("default.img");
  if (image.empty() || !open_image(ctx, image) || !read_inode(rec, ctx, inode_of("default", path))) return nullptr;
  return find_attribute(rec, type, name);
}

// Filter options against an entry named Report.Final.DOCX with all its
// times at `t`.
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

// Index records come out with their update-sequence protection undone
// (as stored with -raw): every 512-byte sector end of each 4 KiB record
// holds its saved value.
TEST(WalkCopy, IndexAllocationRecordsAreFixedUp) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  user_ctx ctx;
  inode_attributes rec;
  const attribute_record* attr = kit_attribute(ctx, rec, "/many", 0xA0, L"$I30");
  ASSERT_NE(attr, nullptr);
  std::ostringstream raw_out, fixed_out;
  ctx.raw = true;
  ASSERT_TRUE(copy_file_data(raw_out, rec, ctx, attr));
  ctx.raw = false;
  ASSERT_TRUE(copy_file_data(fixed_out, rec, ctx, attr));
  const std::string raw = raw_out.str(), fixed = fixed_out.str();
  std::string icat;
  if (quor_test::have_program("icat")) {
    const unsigned id = load_u16(attr->raw.data() + 14);
    ASSERT_EQ(run_command("icat " + image + " " + std::to_string(rec.entry) + "-160-" + std::to_string(id), icat), 0);
    EXPECT_TRUE(raw == icat);  // as stored
  }
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

// A compressed attribute is read unit by unit, a unit being the cluster size
// times 2 to the attribute's unit exponent (here 4 clusters, 16 KiB): units
// without a sparse cluster were stored whole and are copied as they are, an
// all-sparse unit is zeros and does not end the copy.
TEST(WalkCopy, CompressedDataGoesByCompressionUnit) {
  if (fixture("default.img").empty()) GTEST_SKIP() << "fixture default.img missing";
  user_ctx ctx;
  inode_attributes rec;
  const attribute_record* plain = kit_attribute(ctx, rec, "/nonres.bin", 0x80, L"");
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

// With verbose set the status line counts 64 KiB chunks done while data
// remains, and is cleared at the end: 65,537 bytes show "copy chunk: 1"
// once, 65,536 bytes only the clearing; the first chunk shows even when
// the first piece the pump hands on holds more. (/nonres.bin, its data
// size cut short.)
TEST(WalkCopy, VerboseCopyCountsChunks) {
  if (fixture("default.img").empty()) GTEST_SKIP() << "fixture default.img missing";
  user_ctx ctx;
  inode_attributes rec;
  const attribute_record* data = kit_attribute(ctx, rec, "/nonres.bin", 0x80, L"");
  ASSERT_NE(data, nullptr);
  const std::string back(80, '\b');
  const auto status = [&](const std::string& text) { return back + text + std::string(60 - text.size(), ' ') + back; };
  const std::string err = quor_test::scratch_dir() + "/chunks.err";
  const struct {
    ulong64 size;
    bool verbose;
    std::string said;
  } cases[] = {
      {65537, true, status("copy chunk: 1") + status("")},
      {65536, true, status("")},
      {204800, true, status("copy chunk: 1") + status("")},  // one piece of three chunks and a tail
      {65537, false, ""},
  };
  for (const auto& c : cases) {
    attribute_record cut = *data;
    store_u64(cut.raw.data() + 48, c.size);
    store_u64(cut.raw.data() + 56, c.size);
    ctx.verbose = c.verbose;
    const int copied = quor_test::exit_status_in_child(
        [&] {
          std::ostringstream out;
          return copy_file_data(out, rec, ctx, &cut) && out.str().size() == c.size ? 0 : 1;
        },
        err);
    EXPECT_EQ(copied, 0) << c.size;
    EXPECT_EQ(quor_test::read_file_text(err), c.said) << c.size << " verbose " << c.verbose;
  }
}

}  // namespace

// A file continued in extension records is copied whole: runlist.img's
// /frag/a.bin keeps 1,017 of its clusters in the base record and the rest in
// later pieces, and its copy equals the kit's written pattern and icat.
TEST(WalkCopy, FileContinuedInExtensionRecordsIsCopiedWhole) {
  const std::string image = fixture("runlist.img");
  if (image.empty()) GTEST_SKIP() << "fixture runlist.img missing";
  user_ctx ctx;
  inode_attributes rec;
  const ulong64 entry = inode_of("runlist", "/frag/a.bin");
  ASSERT_TRUE(open_image(ctx, image));
  ASSERT_TRUE(read_inode(rec, ctx, entry));
  const attribute_record* data = find_attribute(rec, 0x80, L"");
  ASSERT_NE(data, nullptr);
  std::string expected;
  ASSERT_TRUE(quor_test::expected_file_data("runlist", "/frag/a.bin", expected));
  ASSERT_EQ(expected.size(), 19660800u);
  std::ostringstream out;
  ctx.copy_md5 = true;
  EXPECT_TRUE(copy_file_data(out, rec, ctx, data));
  EXPECT_EQ(out.str().size(), expected.size());
  EXPECT_TRUE(out.str() == expected);
  if (quor_test::have_program("icat")) {
    std::string icat;
    ASSERT_EQ(run_command("icat " + image + " " + std::to_string(entry), icat), 0);
    EXPECT_TRUE(out.str() == icat);
  }
}
