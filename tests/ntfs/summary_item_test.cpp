// Summary items and entry records: the packed forms by hand, records filled
// from kit attributes round-tripping through the stored form, every cut of
// a stored form refused, windows of attribute data, display names and the
// item descriptor.
#include "ntfs/summary_item.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include "ntfs/entry_record.h"
#include "ntfs/item_descriptor.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "tests/support/engine.h"
#include "tests/support/record_builder.h"
#include "time/packed_times.h"

namespace {

TEST(SummaryItem, PackedFormsByHand) {
  const byte packed[] = {0x08, 0x01, 0x00, 0x40};
  item_header h;
  ASSERT_EQ(unpack_item_header(h, packed, 4, true), 4u);
  EXPECT_EQ(h.type, 0x80u);
  EXPECT_EQ(h.small_value, 1u);
  EXPECT_EQ(h.word_value, 0u);
  EXPECT_EQ(h.flag, 1u);
  EXPECT_EQ(unpack_item_header(h, packed, 3, true), 0u);
  h.word_value = 0xBEEF;
  std::vector<byte> out;
  pack_item_header(h, out, true);
  item_header back;
  ASSERT_EQ(unpack_item_header(back, out.data(), 4, true), 4u);
  EXPECT_EQ(back.word_value, 0xBEEF);

  byte record[64] = {};
  store_u16(record + FRH_SEQUENCE, 5);
  store_u16(record + FRH_LINK_COUNT, 1);
  store_u16(record + FRH_FLAGS, 3);
  summary_item item;
  ASSERT_TRUE(build_entry_summary_item(item, 5, record, sizeof record));
  entry_summary s;
  s.load(item.body);
  EXPECT_EQ(s.flags, 0x0E);
  out.clear();
  ASSERT_EQ(pack_entry_summary(s, out, true), 8u);
  EXPECT_EQ(out, (std::vector<byte>{0x05, 0x00, 0x00, 0x00, 0x00, 0x05, 0x58, 0x00}));
  store_u16(record + FRH_FLAGS, 2);
  ASSERT_TRUE(build_entry_summary_item(item, 5, record, sizeof record));
  s.load(item.body);
  EXPECT_EQ(s.flags, 0x0F);
  out.clear();
  pack_entry_summary(s, out, true);
  EXPECT_EQ(out[6], 0x5C);
  // With a base reference: 12 bytes, and 11 are not enough.
  store_u64(record + FRH_BASE_RECORD, 0x1234);
  ASSERT_TRUE(build_entry_summary_item(item, 5, record, sizeof record));
  s.load(item.body);
  out.clear();
  ASSERT_EQ(pack_entry_summary(s, out, true), 12u);
  entry_summary t;
  EXPECT_EQ(unpack_entry_summary(t, out.data(), 11, true), 0u);
  ASSERT_EQ(unpack_entry_summary(t, out.data(), 12, true), 12u);
  EXPECT_EQ(t.base_reference, 0x1234u);
  EXPECT_EQ(t.flags, s.flags);

  // Runs: fewest bytes per value, absolute LCNs, VCNs summed on reading.
  attribute_summary a;
  out.clear();
  pack_attribute_summary(a, out, {data_run(0, 0, 8, false)}, true);
  ASSERT_EQ(out.size(), 20u + 2 + 2);
  EXPECT_EQ(out[22], 0x10);
  EXPECT_EQ(out[23], 0x08);
  out.clear();
  pack_attribute_summary(a, out, {data_run(0x100, 0, 4, false), data_run(0x80, 4, 2, false)}, true);
  std::vector<data_run> runs;
  ASSERT_EQ(unpack_attribute_summary(a, out.data(), static_cast<uint32>(out.size()), runs, true), out.size());
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[1].lcn, 0x80u);
  EXPECT_EQ(runs[1].vcn, 4u);
  // A stored count or run that reaches past the data fails the whole unpack.
  for (uint32 cut = 0; cut < out.size(); ++cut) {
    std::vector<byte> part(out.begin(), out.begin() + cut);
    EXPECT_EQ(unpack_attribute_summary(a, part.data(), cut, runs, true), 0u) << cut;
    EXPECT_TRUE(runs.empty());
  }

  const struct {
    uint32 type;
    uint8 flag;
    uint32 unpacked, packed;
  } sizes[] = {{0x80, 0, 22, 9}, {0x30, 0, 67, 54}, {0x80, 1, 55, 42}, {0x110, 0, 34, 21}};
  for (const auto& c : sizes) {
    item_header x;
    x.type = c.type;
    x.flag = c.flag;
    EXPECT_EQ(item_size(x, false), c.unpacked);
    EXPECT_EQ(item_size(x, true), c.packed);
  }
}

// The unpackers and the entry-summary builder for a caller whose buffer holds
// the whole item but not its length: the same fields as the bounded forms,
// each item read in the bytes its form, flags or run count give (every
// buffer here is exactly that long, so the sanitizer build sees a read past
// it).
TEST(SummaryItem, UnpackersWithoutALength) {
  const std::vector<byte> packed = {0x08, 0x01, 0x00, 0x40};
  item_header h;
  ASSERT_EQ(unpack_item_header(h, packed.data(), true), 4u);
  EXPECT_EQ(h.type, 0x80u);
  EXPECT_EQ(h.small_value, 1u);
  EXPECT_EQ(h.word_value, 0u);
  EXPECT_EQ(h.flag, 1u);
  item_header full;
  full.type = 0x30;
  full.small_value = 7;
  full.word_value = 0x1234;
  full.key = 0x1122334455667788ULL;
  full.flag = 1;
  std::vector<byte> out;
  pack_item_header(full, out, false);
  ASSERT_EQ(unpack_item_header(h, out.data(), false), 17u);
  EXPECT_EQ(h.key, full.key);
  EXPECT_EQ(h.word_value, full.word_value);
  EXPECT_EQ(unpack_item_header(h, nullptr, true), 0u);

  // Entry summaries built from a bare 42-byte FILE record header.
  std::vector<byte> header(FRH_SIZE, 0);
  store_u16(&header[FRH_SEQUENCE], 5);
  store_u16(&header[FRH_LINK_COUNT], 1);
  store_u16(&header[FRH_FLAGS], 3);
  summary_item item;
  ASSERT_TRUE(build_entry_summary_item(item, 5, header.data()));
  EXPECT_EQ(item.header.type, ENTRY_SUMMARY_TYPE);
  EXPECT_EQ(item.header.key, 5u);
  entry_summary s;
  s.load(item.body);
  EXPECT_EQ(s.flags, 0x0E);
  EXPECT_FALSE(build_entry_summary_item(item, 5, nullptr));
  const struct {
    const char* what;
    ulong64 base;
    bool packed;
    uint32 size;
  } summaries[] = {{"packed, no base reference", 0, true, 8},
                   {"packed, with a base reference", 0x1234, true, 12},
                   {"unpacked", 0x1234, false, 17}};
  for (const auto& c : summaries) {
    store_u64(&header[FRH_BASE_RECORD], c.base);
    ASSERT_TRUE(build_entry_summary_item(item, 5, header.data())) << c.what;
    s.load(item.body);
    out.clear();
    ASSERT_EQ(pack_entry_summary(s, out, c.packed), c.size) << c.what;
    entry_summary back;
    EXPECT_EQ(unpack_entry_summary(back, out.data(), c.packed), c.size) << c.what;
    EXPECT_EQ(back.base_reference, c.base) << c.what;
    EXPECT_EQ(back.sequence, 5u) << c.what;
    EXPECT_EQ(back.flags, s.flags) << c.what;
  }

  // Attribute summaries: the run list as long as its count says.
  attribute_summary a;
  a.words[2] = 0xAABBCCDD;
  a.words[8] = 0x1234;
  for (bool form : {true, false}) {
    out.clear();
    pack_attribute_summary(a, out, {data_run(0x100, 0, 4, false), data_run(0x80, 4, 2, false)}, form);
    attribute_summary back;
    std::vector<data_run> runs;
    ASSERT_EQ(unpack_attribute_summary(back, out.data(), runs, form), out.size()) << form;
    EXPECT_EQ(back.words[2], 0xAABBCCDDu) << form;
    EXPECT_EQ(back.words[8], 0x1234u) << form;
    ASSERT_EQ(runs.size(), 2u) << form;
    EXPECT_EQ(runs[0].lcn, 0x100u);
    EXPECT_EQ(runs[1].lcn, 0x80u);
    EXPECT_EQ(runs[1].vcn, 4u);
    out.clear();
    pack_attribute_summary(a, out, {}, form);
    EXPECT_EQ(unpack_attribute_summary(back, out.data(), runs, form), out.size()) << form;
    EXPECT_TRUE(runs.empty());
  }
}

bool fill_data(CNtfs& engine, const std::string& path, entry_record& rec, const std::u16string& stream = u"") {
  std::vector<byte> record;
  bool torn = false;
  const ulong64 inode = quor_test::listed_inode("default", path);
  const byte* attr = nullptr;
  std::vector<uint16> name(stream.begin(), stream.end());
  if (!engine.read_mft_record_to_vector(record, torn, inode) ||
      !find_attribute_by_name(record.data(), static_cast<uint32>(record.size()), ATTR_DATA, attr,
                              name.empty() ? nullptr : name.data(), static_cast<uint32>(name.size())))
    return false;
  return fill_entry_record_from_attribute(rec, inode, inode, attr,
                                          static_cast<uint32>(record.data() + record.size() - attr));
}

byte pattern(ulong64 o, uint32 seed) { return static_cast<byte>((o * 7 + seed) % 251); }

TEST(EntryRecord, StoredFormRoundTripsAndEveryCutIsRefused) {
  auto engine = quor_test::open_engine("default.img");
  ASSERT_TRUE(engine);
  entry_record nonres, small, alt;
  ASSERT_TRUE(fill_data(*engine, "/nonres.bin", nonres));
  ASSERT_TRUE(fill_data(*engine, "/small.txt", small));
  ASSERT_TRUE(fill_data(*engine, "/streams.txt", alt, u"alt"));
  EXPECT_EQ(nonres.item.header.flag, 1u);
  EXPECT_EQ(load_u64(nonres.item.body, 16), 204800u);
  EXPECT_EQ(small.resident.size(), 300u);
  EXPECT_EQ(alt.name, "alt");
  EXPECT_EQ(std::string(alt.resident.begin(), alt.resident.end()), "alternate stream text");
  // A window, and names longer than a length byte holds.
  ASSERT_TRUE(load_attribute_window(nonres, engine.get(), 4090, 20));
  nonres.text = std::string(300, 'x') + "\xC3\xA9";
  for (entry_record* rec : {&nonres, &small, &alt}) {
    std::vector<byte> stored;
    ASSERT_TRUE(write_stored_entry_record(*rec, stored));
    entry_record back;
    ASSERT_TRUE(read_stored_entry_record(back, stored));
    EXPECT_EQ(back.item.header.type, rec->item.header.type);
    EXPECT_EQ(back.item.header.small_value, rec->item.header.small_value);
    EXPECT_EQ(back.name, rec->name);
    EXPECT_EQ(back.text, rec->text);
    EXPECT_EQ(back.window, rec->window);
    EXPECT_EQ(back.window_offset, rec->window_offset);
    EXPECT_EQ(back.resident, rec->resident);
    ASSERT_EQ(back.runs.size(), rec->runs.size());
    for (size_t i = 0; i < back.runs.size(); ++i) {
      EXPECT_EQ(back.runs[i].lcn, rec->runs[i].lcn);
      EXPECT_EQ(back.runs[i].num_clusters, rec->runs[i].num_clusters);
    }
    for (size_t cut = 0; cut < stored.size(); ++cut) {
      std::vector<byte> part(stored.begin(), stored.begin() + static_cast<long>(cut));
      EXPECT_FALSE(read_stored_entry_record(back, part)) << cut;
    }
  }
}

// The stored form byte by byte, written by hand from the layout: u16 L, the
// packed item header (type / 16; small value in bits 0-5 of byte 1; word
// value in bits 14-29; flag in bit 30) and the packed body; the window's u16
// count, offset as two u32 and bytes; then the name and the text, each
// after a length byte. Read back, the bytes give the same record again.
TEST(EntryRecord, StoredLayoutByteByByte) {
  // Four close times, the last the largest: its index is the base, the
  // others' distances below it take two bytes each.
  const uint64 times[] = {0x01D9000000000100ULL, 0x01D9000000000200ULL, 0x01D9000000000300ULL,
                          0x01D9000000000400ULL};
  const std::vector<byte> packed_times = {0x1B, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0xD9, 0x11,
                                          0x00, 0x03, 0x00, 0x02, 0x00, 0x01};
  auto with = [](std::vector<byte> a, const std::vector<byte>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };

  entry_record si;
  si.item.header = {0x10, 0, 0x20, 77, 0};
  for (int i = 0; i < 4; ++i) store_u64(si.item.body + 8 * i, times[i]);
  store_u32(si.item.body + 32, 0x20);
  store_u32(si.item.body + 36, 0x0102);

  entry_record fn;
  fn.item.header = {0x30, 3, 0x1235, 99, 0};
  store_u64(fn.item.body, 0x000700AB12345678ULL);  // bits 40-63 are not stored
  for (int i = 0; i < 4; ++i) store_u64(fn.item.body + 8 + 8 * i, times[i]);
  store_u64(fn.item.body + 40, 0x999);  // the real size is not stored
  fn.item.body[48] = 0x0C;
  fn.item.body[49] = 0x03;
  fn.window = {'a', 'b'};
  fn.window_offset = 0x100000002ULL;
  fn.text = "x.txt";

  entry_record runs;
  runs.item.header = {0x80, 2, 0, 64, 1};
  const uint32 words[9] = {0x40, 0, 0x3000, 0, 0x2A00, 0x80000001u, 0x1111, 0x2222, 4};
  for (int i = 0; i < 9; ++i) store_u32(runs.item.body + 4 * i, words[i]);
  runs.item.body[36] = 1;
  runs.runs = {data_run(0x1234, 0, 8, false), data_run(0, 8, 16, true), data_run(0, 24, 3, false)};
  runs.name = "big";

  entry_record resident;
  resident.item.header = {0x80, 0, 0, 65, 0};
  store_u32(resident.item.body, 3);
  resident.item.body[4] = 1;
  resident.resident = {'x', 'y', 'z'};

  entry_record entry, extension;
  entry.item.header = {ENTRY_SUMMARY_TYPE, 0, 0, 5, 0};
  entry_summary e;
  e.reference_low = 5;
  e.sequence = 5;
  e.flags = 0x0E;  // a directory in use, one link
  e.store(entry.item.body);
  extension.item.header = {ENTRY_SUMMARY_TYPE, 0, 0, 0x100000042ULL, 0};
  entry_summary x;
  x.reference_low = 0x42;
  x.reference_high = 1;
  x.sequence = 0x302;
  x.flags = 0x84;  // not a directory, no links counted, a base record
  x.base_reference = 0x0001000000000040ULL;
  x.store(extension.item.body);

  const struct {
    const char* what;
    const entry_record& rec;
    std::vector<byte> stored;
  } cases[] = {
      {"$STANDARD_INFORMATION", si,
       with(with({27, 0, 0x01, 0x00, 0x08, 0x00, 0x20, 0, 0, 0, 0x02, 0x01, 0, 0}, packed_times), {0, 0, 0, 0})},
      {"$FILE_NAME with a window and its text", fn,
       with(with({27, 0, 0x03, 0x43, 0x8D, 0x04, 0x78, 0x56, 0x34, 0x12, 0xAB, 0x0C, 0x03, 0x00}, packed_times),
            {2, 0, 0x02, 0, 0, 0, 0x01, 0, 0, 0, 'a', 'b', 0, 5, 'x', '.', 't', 'x', 't'})},
      {"non-resident, with a hole and a run at LCN 0", runs,
       {34,   0,    0x08, 0x02, 0x00, 0x40, 0x00, 0x30, 0, 0, 0, 0, 0, 0, 0x00, 0x2A, 0, 0,
        0x01, 0,    0,    0x80, 0x04, 0,    0,    0x80, 3, 0, 0x12, 0x34, 0x12, 0x08, 0x90, 0x10,
        0x10, 0x03, 0,    0,    3,    'b',  'i',  'g',  0}},
      {"resident value", resident, {9, 0, 0x08, 0x00, 0x00, 0x00, 0x03, 0x80, 'x', 'y', 'z', 0, 0, 0, 0}},
      {"entry summary", entry, {12, 0, 0x11, 0, 0, 0, 0x05, 0, 0, 0, 0, 0x05, 0x58, 0x00, 0, 0, 0, 0}},
      {"entry summary of an extension record", extension,
       {16, 0, 0x11, 0, 0, 0, 0x42, 0, 0, 0, 0x01, 0x02, 0x33, 0x00, 0x40, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<byte> out;
    ASSERT_TRUE(write_stored_entry_record(c.rec, out));
    EXPECT_EQ(out, c.stored);
    entry_record back;
    ASSERT_TRUE(read_stored_entry_record(back, c.stored));
    EXPECT_EQ(back.item.header.type, c.rec.item.header.type);
    EXPECT_EQ(back.item.header.small_value, c.rec.item.header.small_value);
    EXPECT_EQ(back.item.header.word_value, c.rec.item.header.word_value);
    EXPECT_EQ(back.item.header.flag, c.rec.item.header.flag);
    EXPECT_EQ(back.window, c.rec.window);
    EXPECT_EQ(back.window_offset, c.rec.window_offset);
    EXPECT_EQ(back.name, c.rec.name);
    EXPECT_EQ(back.text, c.rec.text);
    EXPECT_EQ(back.resident, c.rec.resident);
    ASSERT_EQ(back.runs.size(), c.rec.runs.size());
    for (size_t i = 0; i < back.runs.size(); ++i) {
      EXPECT_EQ(back.runs[i].lcn, c.rec.runs[i].lcn) << i;
      EXPECT_EQ(back.runs[i].vcn, c.rec.runs[i].vcn) << i;
      EXPECT_EQ(back.runs[i].num_clusters, c.rec.runs[i].num_clusters) << i;
      EXPECT_EQ(back.runs[i].sparse, c.rec.runs[i].sparse) << i;
    }
    std::vector<byte> again;
    ASSERT_TRUE(write_stored_entry_record(back, again));
    EXPECT_EQ(again, c.stored);
  }
}

// A length byte of 255 is the escape to a two-byte length, so texts of 254,
// 255 and 256 bytes take each side of it and its first value.
TEST(EntryRecord, StoredTextsAtTheLengthEscapeRoundTrip) {
  auto engine = quor_test::open_engine("default.img");
  ASSERT_TRUE(engine);
  entry_record base;
  ASSERT_TRUE(fill_data(*engine, "/small.txt", base));
  const struct {
    size_t length;
    std::vector<byte> header;  // what precedes the text's bytes
  } cases[] = {{254, {0xFE}}, {255, {0xFF, 0xFF, 0x00}}, {256, {0xFF, 0x00, 0x01}}};
  for (const auto& c : cases) {
    for (bool in_name : {true, false}) {
      SCOPED_TRACE(std::to_string(c.length) + (in_name ? " name" : " text"));
      entry_record rec = base;
      const std::string long_text(c.length, in_name ? 'n' : 't');
      (in_name ? rec.name : rec.text) = long_text;
      (in_name ? rec.text : rec.name) = "ab";
      std::vector<byte> stored;
      ASSERT_TRUE(write_stored_entry_record(rec, stored));
      // The second text closes the record: its length byte and bytes.
      const size_t text_at = stored.size() - rec.text.size();
      ASSERT_GE(text_at, 1u);
      const size_t text_header = in_name ? 1 : c.header.size();
      ASSERT_GE(text_at, text_header);
      if (in_name) {
        EXPECT_EQ(stored[text_at - 1], 2u);
        const size_t name_at = text_at - 1 - c.length;
        ASSERT_GE(name_at, c.header.size());
        EXPECT_EQ(std::vector<byte>(stored.begin() + static_cast<long>(name_at - c.header.size()),
                                    stored.begin() + static_cast<long>(name_at)),
                  c.header);
      } else {
        EXPECT_EQ(std::vector<byte>(stored.begin() + static_cast<long>(text_at - text_header),
                                    stored.begin() + static_cast<long>(text_at)),
                  c.header);
      }
      entry_record back;
      ASSERT_TRUE(read_stored_entry_record(back, stored));
      EXPECT_EQ(back.name, rec.name);
      EXPECT_EQ(back.text, rec.text);
      EXPECT_EQ(back.resident, rec.resident);
      // Both texts together: the long one with its header, "ab" with its byte.
      const size_t texts = c.header.size() + c.length + 3;
      ASSERT_GT(stored.size(), texts);
      for (size_t cut = stored.size() - texts; cut < stored.size(); ++cut) {
        std::vector<byte> part(stored.begin(), stored.begin() + static_cast<long>(cut));
        EXPECT_FALSE(read_stored_entry_record(back, part)) << cut;
      }
    }
  }
}

bool fill_times(CNtfs& engine, uint32 type, entry_record& rec) {
  std::vector<byte> record;
  bool torn = false;
  const ulong64 inode = quor_test::listed_inode("default", "/small.txt");
  const byte* attr = nullptr;
  return engine.read_mft_record_to_vector(record, torn, inode) &&
         find_attribute(record.data(), static_cast<uint32>(record.size()), type, attr) &&
         fill_entry_record_from_attribute(rec, inode, inode, attr,
                                          static_cast<uint32>(record.data() + record.size() - attr));
}

TEST(EntryRecord, TimeBodiesRoundTripInBothForms) {
  auto engine = quor_test::open_engine("default.img");
  ASSERT_TRUE(engine);
  entry_record si, fn, far;
  ASSERT_TRUE(fill_times(*engine, ATTR_STANDARD_INFORMATION, si));
  ASSERT_TRUE(fill_times(*engine, ATTR_FILE_NAME, fn));
  EXPECT_NE(load_u64(si.item.body, 0), 0u);
  EXPECT_EQ(fn.text, "small.txt");
  // Times years apart need eight-byte differences: a 33-byte list.
  far.item.header.type = 0x10;
  const uint64 times[] = {0x01D0000000000000ULL, 0x0100000000000000ULL, 0x0FFFFFFFFFFFFFFFULL, 0};
  for (int i = 0; i < 4; ++i) store_u64(far.item.body + 8 * i, times[i]);
  store_u32(far.item.body + 36, 0xA1B2C3D4u);
  for (entry_record* rec : {&si, &fn, &far}) {
    // The compact form drops a parent's bits 40-63 and the real size.
    entry_record want = *rec;
    if (rec == &fn) {
      store_u64(want.item.body, load_u64(fn.item.body, 0) & 0xFFFFFFFFFFULL);
      store_u64(want.item.body + 40, 0);
    }
    for (bool packed : {false, true}) {
      SCOPED_TRACE(std::to_string(rec->item.header.type) + (packed ? " packed" : " unpacked"));
      std::vector<byte> out, resident;
      std::vector<data_run> runs;
      const uint16 size = pack_entry_record(*rec, out, runs, resident, packed);
      ASSERT_EQ(size, out.size());
      entry_record back;
      ASSERT_EQ(unpack_entry_record(back, out, runs, resident, packed), size);
      const entry_record& expect = packed ? want : *rec;
      EXPECT_EQ(0, std::memcmp(back.item.body, expect.item.body, ITEM_BODY_SIZE));
      // The item with its times 0: what a packed item whose times do not
      // decode keeps, its small fields included when they are whole.
      entry_record timeless = expect;
      std::memset(timeless.item.body + (rec->item.header.type == 0x10 ? 0 : 8), 0, 32);
      for (size_t cut = 0; cut < out.size(); ++cut) {
        std::vector<byte> part(out.begin(), out.begin() + static_cast<long>(cut));
        // The length word follows the cut, so the body itself runs short: an
        // unpacked item is refused, a packed one kept with its times 0.
        if (cut >= 2) store_u16(part.data(), static_cast<uint16>(cut - 2));
        const bool kept = packed && cut >= 2 + ITEM_HEADER_PACKED;
        ASSERT_EQ(unpack_entry_record(back, part, runs, resident, packed), kept ? cut : 0) << cut;
        if (!kept) continue;
        EXPECT_EQ(back.item.header.type, rec->item.header.type) << cut;
        const bool fields_whole = cut >= 2 + ITEM_HEADER_PACKED + 8;
        const std::vector<byte> none(ITEM_BODY_SIZE, 0);
        EXPECT_EQ(0, std::memcmp(back.item.body, fields_whole ? timeless.item.body : none.data(), ITEM_BODY_SIZE))
            << cut;
      }
    }
    std::vector<byte> stored;
    ASSERT_TRUE(write_stored_entry_record(*rec, stored));
    entry_record back;
    ASSERT_TRUE(read_stored_entry_record(back, stored));
    EXPECT_EQ(back.text, rec->text);
    EXPECT_EQ(0, std::memcmp(back.item.body, want.item.body, ITEM_BODY_SIZE));
  }
  // A stored record whose packed times do not decode (the base index
  // points past the list) keeps its item, small fields, name and text, with
  // the times 0.
  fn.name = "n";
  std::vector<byte> stored;
  ASSERT_TRUE(write_stored_entry_record(fn, stored));
  const size_t list_at = 2 + ITEM_HEADER_PACKED + 8;
  ASSERT_GT(stored.size(), list_at);
  stored[list_at] = static_cast<byte>((stored[list_at] & ~0x38) | (7 << 3));
  entry_record damaged;
  ASSERT_TRUE(read_stored_entry_record(damaged, stored));
  EXPECT_EQ(damaged.item.header.type, 0x30u);
  EXPECT_EQ(damaged.name, "n");
  EXPECT_EQ(damaged.text, "small.txt");
  EXPECT_EQ(load_u64(damaged.item.body, 0), load_u64(fn.item.body, 0) & 0xFFFFFFFFFFULL);
  for (uint32 at = 8; at < 40; at += 8) EXPECT_EQ(load_u64(damaged.item.body, at), 0u) << at;

  // A time the packed list cannot give back refuses the record.
  store_u64(far.item.body + 24, 1ULL << 60);
  std::vector<byte> out;
  EXPECT_FALSE(write_stored_entry_record(far, out));
}

TEST(EntryRecord, PackedTimesOtherThanFourStayZero) {
  std::vector<byte> body = {1, 2, 3, 4, 5, 6, 7, 8};
  zq::encode_packed_times({300, 200, 100}, body, false);
  entry_record rec;
  rec.item.body[0] = 0xEE;
  ASSERT_EQ(unpack_si_times(rec, body.data(), static_cast<uint32>(body.size()), true), body.size());
  EXPECT_EQ(load_u64(rec.item.body, 0), 0u);
  EXPECT_EQ(load_u32(rec.item.body, 32), 0x04030201u);
  EXPECT_EQ(load_u32(rec.item.body, 36), 0x08070605u);
  EXPECT_EQ(unpack_fn_times(rec, body.data(), 8, true), 0u);
  EXPECT_EQ(unpack_si_times(rec, nullptr, 40, false), 0u);
}

TEST(EntryRecord, WindowsOfAttributeData) {
  auto engine = quor_test::open_engine("default.img");
  ASSERT_TRUE(engine);
  entry_record packed, small;
  ASSERT_TRUE(fill_data(*engine, "/compressed/pattern.bin", packed));
  ASSERT_TRUE(load_attribute_window(packed, engine.get(), 65530, 100));
  ASSERT_EQ(packed.window.size(), 100u);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(packed.window[i], pattern(65530 + i, 6)) << i;
  EXPECT_FALSE(load_attribute_window(packed, engine.get(), 102400, 10));
  ASSERT_TRUE(fill_data(*engine, "/small.txt", small));
  ASSERT_TRUE(load_attribute_window(small, engine.get(), 290, 100));
  ASSERT_EQ(small.window.size(), 10u);
  EXPECT_EQ(small.window[9], pattern(299, 1));
  EXPECT_FALSE(load_attribute_window(small, engine.get(), 300, 1));
}

TEST(EntryRecord, DisplayNamePrefersTheLongName) {
  quor_test::record_builder b(1024);
  b.resident(ATTR_FILE_NAME, quor_test::record_builder::file_name_value(5, u"LONGNA~1.TXT", 0, 2));
  b.resident(ATTR_FILE_NAME, quor_test::record_builder::file_name_value(7, u"long name.txt", 0, 1));
  std::vector<byte> rec = b.done();
  std::string name;
  ulong64_set parents;
  const byte* attr = nullptr;
  ASSERT_TRUE(get_record_display_name(rec.data(), 1024, name, parents, attr));
  EXPECT_EQ(name, "long name.txt");
  EXPECT_EQ(parents, (ulong64_set{5, 7}));
}

TEST(SummaryItem, SmallItemsHeaderSizesAndReset) {
  EXPECT_EQ(item_header_size(true), 4u);
  EXPECT_EQ(item_header_size(false), 17u);
  // Word and quad items: the same bytes either way, appended after what is there.
  byte quad[16];
  for (int i = 0; i < 16; ++i) quad[i] = static_cast<byte>(0xA0 + i);
  std::vector<byte> out = {0xEE};
  EXPECT_EQ(pack_word_item(quad, out), 4u);
  EXPECT_EQ(pack_quad_item(quad, out), 16u);
  ASSERT_EQ(out.size(), 21u);
  EXPECT_EQ(std::vector<byte>(out.begin() + 1, out.begin() + 5), std::vector<byte>(quad, quad + 4));
  EXPECT_EQ(std::vector<byte>(out.begin() + 5, out.end()), std::vector<byte>(quad, quad + 16));
  byte back[16] = {};
  EXPECT_EQ(unpack_word_item(back, out.data() + 1, 3), 0u);
  EXPECT_EQ(unpack_word_item(back, out.data() + 1, 4), 4u);
  EXPECT_EQ(0, std::memcmp(back, quad, 4));
  EXPECT_EQ(unpack_quad_item(back, out.data() + 5, 15), 0u);
  EXPECT_EQ(unpack_quad_item(back, out.data() + 5, 16), 16u);
  EXPECT_EQ(0, std::memcmp(back, quad, 16));

  // The nine words, bit 0 of byte 36 and the has-runs byte.
  byte body[38];
  for (int i = 0; i < 38; ++i) body[i] = static_cast<byte>(i + 1);
  attribute_summary a;
  a.load(body);
  EXPECT_EQ(a.words[0], 0x04030201u);
  EXPECT_EQ(a.words[8], 0x24232221u);
  EXPECT_EQ(a.low_bit, 37);
  EXPECT_EQ(a.has_runs, 38);

  summary_item item;
  item.header.type = 0x80;
  item.header.small_value = 1;
  item.header.word_value = 2;
  item.header.key = 3;
  item.header.flag = 1;
  std::memset(item.body, 0x5A, sizeof item.body);
  clear_item_buffer(item);
  EXPECT_TRUE(item.header.type == 0 && item.header.small_value == 0 && item.header.word_value == 0 &&
              item.header.key == 0 && item.header.flag == 0);
  EXPECT_EQ(std::count(item.body, item.body + ITEM_BODY_SIZE, 0), static_cast<long>(ITEM_BODY_SIZE));

  // An item in its unpacked bytes: the 67 of header and body area, no more.
  byte raw[ITEM_SIZE + 1];
  std::memset(raw, 0x5A, sizeof raw);
  clear_item_buffer(raw);
  EXPECT_EQ(std::count(raw, raw + ITEM_SIZE, 0), static_cast<long>(ITEM_SIZE));
  EXPECT_EQ(raw[ITEM_SIZE], 0x5A);
  item_header header;
  header.type = 0x80;
  EXPECT_EQ(unpack_item_header(header, raw, ITEM_SIZE, false), ITEM_HEADER_UNPACKED);
  EXPECT_TRUE(header.type == 0 && header.small_value == 0 && header.word_value == 0 && header.key == 0 &&
              header.flag == 0);
  clear_item_buffer(static_cast<byte*>(nullptr));
}

TEST(EntryRecord, ResidentWindowAndTimeBodiesByHand) {
  entry_record rec;
  store_u32(rec.item.body, 3);
  rec.resident = {'x', 'y', 'z'};
  const struct {
    bool packed;
    std::vector<byte> form;
  } resident_forms[] = {{true, {0x03, 0x80, 'x', 'y', 'z'}}, {false, {3, 0, 0, 0, 1, 'x', 'y', 'z'}}};
  for (const auto& c : resident_forms) {
    std::vector<byte> out;
    EXPECT_EQ(pack_resident_data(rec, out, c.packed), c.form.size());
    EXPECT_EQ(out, c.form);
    entry_record back;
    const uint32 n = static_cast<uint32>(out.size());
    EXPECT_EQ(unpack_resident_data(back, out.data(), n - 1, c.packed), 0u);
    ASSERT_EQ(unpack_resident_data(back, out.data(), n, c.packed), n);
    EXPECT_EQ(back.resident, rec.resident);
    EXPECT_EQ(load_u32(back.item.body, 0), 3u);
    EXPECT_EQ(back.item.body[4], 1);
  }
  entry_record empty;
  store_u32(empty.item.body, 0x20);
  std::vector<byte> out;
  EXPECT_EQ(pack_resident_data(empty, out, true), 2u);
  EXPECT_EQ(out, (std::vector<byte>{0x20, 0x00}));

  // The window: count, offset low then high half, bytes; a count of 0 alone.
  rec.window = {'a', 'b', 'c'};
  rec.window_offset = 0x100000002ULL;
  out.clear();
  EXPECT_EQ(pack_data_block(rec, out), 13u);
  EXPECT_EQ(out, (std::vector<byte>{3, 0, 2, 0, 0, 0, 1, 0, 0, 0, 'a', 'b', 'c'}));
  entry_record back;
  EXPECT_EQ(unpack_data_block(back, out.data(), 12), 0u);
  ASSERT_EQ(unpack_data_block(back, out.data(), 13), 13u);
  EXPECT_EQ(back.window, rec.window);
  EXPECT_EQ(back.window_offset, rec.window_offset);
  out.clear();
  EXPECT_EQ(pack_data_block(empty, out), 2u);
  EXPECT_EQ(unpack_data_block(back, out.data(), 2), 2u);
  EXPECT_TRUE(back.window.empty());
  rec.window.assign(70000, 'w');
  out.clear();
  EXPECT_EQ(pack_data_block(rec, out), 65535u + 10);
  EXPECT_EQ(load_u16(out.data()), 0xFFFF);

  // Time bodies: unpacked as they stand; packed, the small fields and then
  // the four times as one list.
  entry_record si, fn;
  const uint64 times[] = {0x01D5C1194B2B74E0ULL, 0x01D5C1194B2B74E1ULL, 0x01D5C1194B2B74E2ULL, 0x01D5C1194B2B74E3ULL};
  for (int i = 0; i < 4; ++i) {
    store_u64(si.item.body + 8 * i, times[i]);
    store_u64(fn.item.body + 8 + 8 * i, times[i]);
  }
  store_u32(si.item.body + 32, 0x20);
  store_u32(si.item.body + 36, 0x102);
  store_u64(fn.item.body, 0x0005123456789ABCULL);
  store_u64(fn.item.body + 40, 0x999);
  fn.item.body[48] = 0x0c;
  fn.item.body[49] = 3;
  std::vector<byte> listed;
  ASSERT_NE(zq::encode_packed_times(std::vector<uint64>(times, times + 4), listed, false), 0);
  std::vector<byte> si_want = {0x20, 0, 0, 0, 0x02, 0x01, 0, 0}, fn_want = {0xBC, 0x9A, 0x78, 0x56, 0x34, 0x0c, 3, 0};
  si_want.insert(si_want.end(), listed.begin(), listed.end());
  fn_want.insert(fn_want.end(), listed.begin(), listed.end());
  std::vector<byte> si_out, fn_out, si_raw, fn_raw;
  EXPECT_EQ(pack_si_times(si, si_out, true), si_want.size());
  EXPECT_EQ(pack_fn_times(fn, fn_out, true), fn_want.size());
  EXPECT_EQ(si_out, si_want);
  EXPECT_EQ(fn_out, fn_want);
  EXPECT_EQ(pack_si_times(si, si_raw, false), 40u);
  EXPECT_EQ(pack_fn_times(fn, fn_raw, false), 50u);
  EXPECT_EQ(si_raw, std::vector<byte>(si.item.body, si.item.body + 40));
  EXPECT_EQ(fn_raw, std::vector<byte>(fn.item.body, fn.item.body + 50));
  store_u64(fn.item.body + 16, 1ULL << 60);
  fn_out = {0xEE};
  EXPECT_EQ(pack_fn_times(fn, fn_out, true), 0u);
  EXPECT_EQ(fn_out, std::vector<byte>{0xEE});

  // Reset: item bytes, texts, window and vectors.
  rec.name = "n";
  rec.text = "t";
  rec.runs.push_back(data_run(1, 0, 1, false));
  rec.item.header.type = 0x80;
  rec.clear();
  EXPECT_TRUE(rec.name.empty() && rec.text.empty() && rec.runs.empty() && rec.window.empty() &&
              rec.resident.empty() && rec.window_offset == 0 && rec.item.header.type == 0);
  EXPECT_EQ(std::count(rec.item.body, rec.item.body + ITEM_BODY_SIZE, 0), static_cast<long>(ITEM_BODY_SIZE));
}

// $Volume's label carried as the record's text: UTF-16LE without a
// terminator, read only inside the value; a stray odd byte is no unit, a NUL
// ends the label, and a value that claims more than its attribute holds
// gives no label.
TEST(EntryRecord, VolumeLabelIsReadInsideItsValue) {
  const auto units = [](const std::u16string& text) {
    std::vector<byte> bytes;
    for (char16_t u : text) {
      bytes.push_back(static_cast<byte>(u & 0xFF));
      bytes.push_back(static_cast<byte>(u >> 8));
    }
    return bytes;
  };
  std::vector<byte> odd = units(u"ab");
  odd.push_back('c');
  const std::string e_acute = "\xC3\xA9";
  std::string longest;
  for (int i = 0; i < 128; ++i) longest += e_acute;
  const struct {
    const char* what;
    std::vector<byte> value;
    uint32 claimed;  // the value length the header gives; 0: the value's own
    std::string label;
  } cases[] = {
      {"plain", units(u"default"), 0, "default"},
      {"odd length", odd, 0, "ab"},
      {"unlabelled", {}, 0, ""},
      {"128 units", units(std::u16string(128, u'\u00E9')), 0, longest},
      {"surrogate pair", units(u"x\U0001F600"), 0, "x\xF0\x9F\x98\x80"},
      {"NUL inside", units(std::u16string(u"a\0b", 3)), 0, "a"},
      {"value past its attribute", units(u"default"), 0x1000, ""},
  };
  for (const auto& c : cases) {
    quor_test::record_builder b;
    const uint32 at = b.resident(0x60, c.value);
    if (c.claimed) store_u32(&b.rec[at + AH_VALUE_LENGTH], c.claimed);
    entry_record rec;
    rec.text = "stale";
    ASSERT_TRUE(fill_entry_record_from_attribute(rec, 3, 3, b.rec.data() + at, load_u32(b.rec.data(), at + 4)))
        << c.what;
    EXPECT_EQ(rec.item.header.type, 0x60u) << c.what;
    EXPECT_EQ(rec.text, c.label) << c.what;
  }
}

TEST(ItemDescriptor, ReinitialisingLeavesOnlyTheNewKind) {
  item_descriptor d;
  d.init_kind3(L"n", L"t2", 1, 2, 3);
  d.text_map[L"k"] = L"v";
  d.init_kind1(L"m");
  EXPECT_EQ(d.name, L"m");
  EXPECT_EQ(d.flags[3], 1);
  EXPECT_EQ(d.flags[5], 0);
  EXPECT_TRUE(d.text_2.empty());
  EXPECT_TRUE(d.text_map.empty());
  EXPECT_EQ(d.number_a, 0xFFFFFFFFu);
  EXPECT_EQ(d.number_d, ~0ULL);
}

// Every initialiser, each on a record with every field changed first: the
// fields its row names take the arguments, all others their reset values
// (number_a and number_d all ones, the rest zero or empty).
TEST(ItemDescriptor, EveryInitialiserSetsItsFieldsOnAResetRecord) {
  struct fields {
    uint32 a, b, c, e;
    std::wstring name, t2, t3;
    int kind;  // the one flag byte set: 3, 4 or 5
  };
  const uint32 none = 0xFFFFFFFFu;
  const struct {
    const char* row;
    std::function<void(item_descriptor&)> init;
    fields want;
  } cases[] = {
      {"kind 3 full", [](item_descriptor& d) { d.init_kind3(L"n", L"two", 1, 2, 3); }, {1, 2, 3, 0, L"n", L"two", L"", 5}},
      {"kind 3 texts", [](item_descriptor& d) { d.init_kind3_texts(L"n", L"two", L"three", 2, 3); },
       {none, 2, 3, 0, L"n", L"two", L"three", 5}},
      {"kind 3 two texts", [](item_descriptor& d) { d.init_kind3(L"n", L"two"); }, {none, 0, 0, 0, L"n", L"two", L"", 5}},
      {"kind 2 value", [](item_descriptor& d) { d.init_kind2(L"n", 9); }, {none, 0, 0, 9, L"n", L"", L"", 4}},
      {"kind 2 full", [](item_descriptor& d) { d.init_kind2(L"n", 9, 1, 2, 3); }, {1, 2, 3, 9, L"n", L"", L"", 4}},
      {"kind 2 text", [](item_descriptor& d) { d.init_kind2_text(L"n", 9, L"three", 2, 3); },
       {none, 2, 3, 9, L"n", L"", L"three", 4}},
      {"kind 1 full", [](item_descriptor& d) { d.init_kind1(L"n", 1, 2, 3); }, {1, 2, 3, 0, L"n", L"", L"", 3}},
      {"kind 1 text", [](item_descriptor& d) { d.init_kind1_text(L"n", L"three", 2, 3); },
       {none, 2, 3, 0, L"n", L"", L"three", 3}},
      {"kind 1 name", [](item_descriptor& d) { d.init_kind1(L"n"); }, {none, 0, 0, 0, L"n", L"", L"", 3}},
      // A null text is an empty one.
      {"kind 1 null text", [](item_descriptor& d) { d.init_kind1_text(nullptr, nullptr, 2, 3); },
       {none, 2, 3, 0, L"", L"", L"", 3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.row);
    item_descriptor d;
    d.set(L"old", L"old2", {L"x", L"y"}, L"old5", L"old3");
    d.number_a = d.number_b = d.number_c = d.number_e = 77;
    d.number_d = 77;
    d.text_4 = L"old4";
    std::memset(d.flags, 1, sizeof d.flags);
    d.text_map[L"k"] = L"v";
    c.init(d);
    EXPECT_EQ(d.number_a, c.want.a);
    EXPECT_EQ(d.number_b, c.want.b);
    EXPECT_EQ(d.number_c, c.want.c);
    EXPECT_EQ(d.number_e, c.want.e);
    EXPECT_EQ(d.number_d, ~0ULL);
    EXPECT_EQ(d.name, c.want.name);
    EXPECT_EQ(d.text_2, c.want.t2);
    EXPECT_EQ(d.text_3, c.want.t3);
    EXPECT_TRUE(d.text_4.empty() && d.text_5.empty() && d.name_list.empty() && d.text_map.empty());
    for (int i = 0; i < 7; ++i) EXPECT_EQ(d.flags[i], i == c.want.kind ? 1 : 0) << "flag byte " << i;
  }
}

// A link's summary text is its print name, past a symbolic link's flags
// word: the kit's junction, absolute and relative links, and a link whose
// print name comes first, as Windows writes them (built by hand).
TEST(EntryRecord, LinkTextIsItsPrintName) {
  auto engine = quor_test::open_engine("links.img");
  ASSERT_TRUE(engine);
  const auto link_text = [](const byte* record, uint32 size, ulong64 inode, std::string& text) {
    const byte* attr = nullptr;
    entry_record rec;
    if (!find_attribute(record, size, ATTR_REPARSE_POINT, attr) ||
        !fill_entry_record_from_attribute(rec, inode, inode, attr, static_cast<uint32>(record + size - attr)))
      return false;
    text = rec.text;
    return true;
  };
  const struct {
    const char* path;
    const char* print;
  } links[] = {{"/junction", "C:\\real"}, {"/links/dirlink", "C:\\real\\inner"}, {"/rellink", "real\\inner"}};
  for (const auto& l : links) {
    std::vector<byte> record;
    bool torn = false;
    const ulong64 inode = quor_test::listed_inode("links", l.path);
    std::string text;
    ASSERT_TRUE(engine->read_mft_record_to_vector(record, torn, inode)) << l.path;
    ASSERT_TRUE(link_text(record.data(), static_cast<uint32>(record.size()), inode, text)) << l.path;
    EXPECT_EQ(text, l.print) << l.path;
  }
  // Print name "C:\a" at buffer offset 0, target "\??\C:\a" after it.
  const std::u16string print = u"C:\\a", target = u"\\??\\C:\\a";
  std::vector<byte> value(20 + 2 * (print.size() + target.size()), 0);
  store_u32(&value[0], 0xA000000C);
  store_u16(&value[4], static_cast<uint16>(value.size() - 8));
  store_u16(&value[8], static_cast<uint16>(2 * print.size()));
  store_u16(&value[10], static_cast<uint16>(2 * target.size()));
  store_u16(&value[14], static_cast<uint16>(2 * print.size()));
  size_t at = 20;
  for (char16_t c : print + target) {
    store_u16(&value[at], c);
    at += 2;
  }
  quor_test::record_builder b(1024);
  b.resident(ATTR_REPARSE_POINT, value);
  const std::vector<byte> record = b.done();
  std::string text;
  ASSERT_TRUE(link_text(record.data(), static_cast<uint32>(record.size()), 40, text));
  EXPECT_EQ(text, "C:\\a");
}

}  // namespace
