// Index-node parsing and slack carving on hand-built nodes. Every expected
// offset below is worked out from the layout the builder writes.
#include "ntfs/index_node.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "utils/byte_order.h"

namespace {

// 1 January 1986 and 1 January 2100 as FILETIME: the carving window bounds.
const uint64 k_low = 121493952000000000ULL;
const uint64 k_high = 157469184000000000ULL;
const uint64 k_t2015 = 130645440000000000ULL;  // 2015-01-01

struct entry_spec {
  uint64 ref = 0x0001000000000040ULL;  // entry 64, sequence 1
  uint64 parent = 5;
  uint64 created = k_t2015, modified = k_t2015, changed = k_t2015, accessed = k_t2015;
  std::u16string name = u"a";
  uint32 attributes = 0x20;
  uint16 flags = 0;
  uint16 length = 0;  // 0: 82 + 2n rounded up to 8
};

uint16 natural_length(const entry_spec& e) { return static_cast<uint16>((82 + 2 * e.name.size() + 7) & ~7u); }

// An index node: 16-byte header, entries from offset 16.
struct node_image {
  std::vector<byte> bytes;
  explicit node_image(size_t length) : bytes(length, 0) { store_u32(&bytes[0], 16); }
  void index_length(uint32 v) { store_u32(&bytes[4], v); }
  uint16 put(uint32 off, const entry_spec& e) {
    byte* p = &bytes.at(off);
    const uint16 len = e.length ? e.length : natural_length(e);
    store_u64(p, e.ref);
    store_u16(p + 8, len);
    store_u16(p + 10, static_cast<uint16>(66 + 2 * e.name.size()));
    store_u16(p + 12, e.flags);
    store_u64(p + 16, e.parent);
    store_u64(p + 24, e.created);
    store_u64(p + 32, e.modified);
    store_u64(p + 40, e.changed);
    store_u64(p + 48, e.accessed);
    store_u32(p + 72, e.attributes);
    p[80] = static_cast<byte>(e.name.size());
    p[81] = 1;
    for (size_t i = 0; i < e.name.size(); ++i) store_u16(&bytes.at(off + 82 + 2 * i), e.name[i]);
    return len;
  }
  void put_end(uint32 off) {
    store_u16(&bytes.at(off + 8), 16);
    store_u16(&bytes.at(off + 12), 2);
  }
};

struct parse_result {
  string_indx_map valid;
  inode_indx_mmap carved;
  std::set<std::string> valid_names() const {
    std::set<std::string> out;
    for (const auto& v : valid) out.insert(v.second.name);
    return out;
  }
  std::vector<uint64> carved_offsets() const {
    std::vector<uint64> out;
    for (const auto& c : carved) out.push_back(c.second.file_offset);
    return out;
  }
};

parse_result parse(const node_image& n, ulong64 dir, ulong64 file_offset = 1000) {
  parse_result r;
  EXPECT_TRUE(parse_index_node_w_carve(r.valid, r.carved, dir, n.bytes.data(), static_cast<int>(n.bytes.size()),
                                       file_offset));
  return r;
}

entry_spec named(const std::u16string& name, uint64 ref = 0x0001000000000040ULL) {
  entry_spec e;
  e.name = name;
  e.ref = ref;
  return e;
}

// A node with two live entries, the end record at 200 and slack after it.
node_image live_node() {
  node_image n(1024);
  n.put(16, named(u"a.txt", 0x0001000000000041ULL));  // 96 bytes
  n.put(112, named(u"bb", 0x0001000000000042ULL));    // 88 bytes
  n.put_end(200);
  n.index_length(216);
  return n;
}

}  // namespace

TEST(IndexNode, ValidWalkKeysOffsetsAndNames) {
  node_image n = live_node();
  parse_result r = parse(n, 5);
  ASSERT_EQ(r.valid.size(), 2u);
  const INDX_ENTRY_INFO& a = r.valid.at("0000000005_a.txt");
  EXPECT_EQ(a.valid, 1);
  EXPECT_EQ(a.file_offset, 1016u);
  EXPECT_EQ(a.entry_length, 92u);
  EXPECT_EQ(a.attribute_type, 0xA0u);
  EXPECT_EQ(load_u64(a.entry, 0), 0x0001000000000041ULL);
  EXPECT_EQ(load_u64(a.entry, 32), k_t2015);
  EXPECT_EQ(r.valid.at("0000000005_bb").file_offset, 1112u);
  EXPECT_TRUE(r.carved.empty());
}

TEST(IndexNode, NameConversionAndKeys) {
  node_image n(1024);
  entry_spec e = named(u"Docs\U0001F600");  // an emoji: one surrogate pair
  e.parent = 0x0002000012345678ULL;           // sequence bits stay out of the key
  e.attributes = 0x10000000;
  const uint16 len = n.put(16, e);
  n.put_end(16 + len);
  n.index_length(16 + len + 16);
  parse_result r = parse(n, 0);
  ASSERT_EQ(r.valid.size(), 1u);
  const auto& kv = *r.valid.begin();
  EXPECT_EQ(kv.first, "0305419896_docs\xF0\x9F\x98\x80");
  EXPECT_EQ(kv.second.name, "Docs\xF0\x9F\x98\x80");
  EXPECT_EQ(kv.second.is_dir, 1);
}

// Long names are live: 255 units need a 592-byte entry and a 576-byte key.
TEST(IndexNode, EntryLengthLimitsOfTheValidWalk) {
  struct row {
    uint16 entry_length;
    size_t name_units;
    size_t live;
  } rows[] = {{592, 255, 2}, {600, 255, 2}, {601, 255, 0}, {1000, 10, 0}};
  for (const row& t : rows) {
    node_image n(4072);
    entry_spec e = named(std::u16string(t.name_units, u'x'));
    e.length = t.entry_length;
    n.put(16, e);
    n.put(16 + t.entry_length, named(u"next", 0x0001000000000050ULL));
    n.put_end(16 + t.entry_length + 96);
    n.index_length(16 + t.entry_length + 96 + 16);
    parse_result r = parse(n, 5);
    EXPECT_EQ(r.valid.size(), t.live) << t.entry_length;
    // A live long name must not come back as slack.
    if (t.live) {
      for (const auto& c : r.carved) EXPECT_NE(c.second.file_offset, 1016u) << t.entry_length;
    }
  }
}

// Names that differ only in letter case are two live files; the same name
// filed again (the same entry in another node) keeps the first.
TEST(IndexNode, CaseVariantsAreBothLiveAndRepeatsKeepTheFirst) {
  struct row {
    std::vector<std::pair<std::u16string, ulong64>> filed;
    std::map<std::string, ulong64> want;  // name -> reference kept
    std::string plain_key_name;
  };
  const row rows[] = {
      {{{u"README", 0x0001000000000060ULL}, {u"Readme", 0x0001000000000061ULL}},
       {{"README", 0x0001000000000060ULL}, {"Readme", 0x0001000000000061ULL}}, "README"},
      {{{u"Readme", 0x0001000000000061ULL}, {u"Readme", 0x0001000000000062ULL}},
       {{"Readme", 0x0001000000000061ULL}}, "Readme"},
  };
  for (const row& t : rows) {
    node_image n(1024);
    uint32 off = 16;
    for (const auto& f : t.filed) off += n.put(off, named(f.first, f.second));
    n.put_end(off);
    n.index_length(off + 16);
    parse_result r = parse(n, 5);
    std::map<std::string, ulong64> got;
    for (const auto& v : r.valid) got[v.second.name] = load_u64(v.second.entry, 0);
    EXPECT_EQ(got, t.want) << t.filed.size() << " names filed";
    // The merge looks live entries up by the plain key: it holds the first.
    EXPECT_EQ(r.valid.at("0000000005_readme").name, t.plain_key_name);
  }
}

// The carving rules, one row per rule. Slack of `live_node` starts at 200;
// the parse adds file offset 1000.
TEST(IndexNode, CarvingRules) {
  struct row {
    const char* what;
    ulong64 dir;
    bool live;  // start from live_node(), else from a node whose first entry is the end record
    void (*build)(node_image&);
    std::vector<uint64> offsets;  // carved file offsets
  };
  const row rows[] = {
      {"stale entry after the end record", 5, true,
       [](node_image& n) { n.put(216, named(u"old1")); }, {1216}},
      {"first entry is the last-entry record: slack starts at it", 5, false,
       [](node_image& n) {
         n.put(32, named(u"gone"));
       },
       {1032}},
      {"dir_entry 0 and no live entry: a parent hit alone carves nothing", 0, false,
       [](node_image& n) {
         entry_spec e = named(u"gone");
         e.created = k_low - 1;  // outside the window, valid as a time
         n.put(32, e);
       },
       {}},
      {"dir_entry 0 with live entries: their parent drives scan 1", 0, true,
       [](node_image& n) {
         entry_spec e = named(u"gone");
         e.created = k_low - 1;
         n.put(216, e);
       },
       {1216}},
      {"scan-1 hit at slack offset 16: candidate at 0", 5, true,
       [](node_image& n) {
         // The end record's slot holds an old entry whose parent is at 216.
         entry_spec e = named(u"x");
         n.put(200, e);
         n.put_end(200);
         store_u64(&n.bytes[216], 5);
       },
       {1200}},
      {"hit within 40 bytes of the node end is skipped", 5, true,
       [](node_image& n) { store_u32(&n.bytes[1024 - 32], 5); }, {}},
      {"candidates 88 bytes apart are both kept", 5, true,
       [](node_image& n) {
         n.put(216, named(u"abc"));  // 88 bytes
         n.put(304, named(u"def"));
       },
       {1216, 1304}},
      {"a candidate 80 bytes after a kept one is dropped", 5, true,
       [](node_image& n) {
         n.put(216, named(u"abc"));
         store_u64(&n.bytes[216 + 80 + 16], 5);
         store_u64(&n.bytes[216 + 80 + 24], k_t2015);
         store_u64(&n.bytes[216 + 80 + 48], k_t2015);
       },
       {1216}},
      {"a chance parent hit that is no entry does not hide the entry after it", 5, true,
       [](node_image& n) {
         store_u64(&n.bytes[232], 5);  // a sub-node VCN equal to the directory, say
         n.put(240, named(u"real"));   // 24 bytes after the false start
       },
       {1240}},
      {"creation time at the low bound, found by the time scan", 0, false,
       [](node_image& n) {
         entry_spec e = named(u"lo");
         e.created = e.modified = e.changed = k_low;
         e.parent = 7;
         n.put(32, e);
       },
       {1032}},
      {"creation time at the high bound", 0, false,
       [](node_image& n) {
         entry_spec e = named(u"hi");
         e.created = e.modified = e.changed = k_high;
         e.parent = 7;
         n.put(32, e);
       },
       {1032}},
      {"creation time just past the high bound", 0, false,
       [](node_image& n) {
         entry_spec e = named(u"hi");
         e.created = e.modified = e.changed = e.accessed = k_high + 1;
         e.parent = 7;
         n.put(32, e);
       },
       {}},
      {"access time 0 rejects a time-scan hit", 0, false,
       [](node_image& n) {
         entry_spec e = named(u"noatime");
         e.accessed = 0;
         e.parent = 7;
         n.put(32, e);
       },
       {}},
      {"creation time 0 is never carved, whatever found it", 5, true,
       [](node_image& n) {
         entry_spec e = named(u"zero");
         e.created = 0;
         n.put(216, e);
       },
       {}},
      {"a name running past the node end is not carved", 5, true,
       [](node_image& n) {
         entry_spec e = named(u"abcdefg");  // 96 bytes, up to the end
         n.put(1024 - 96, e);
         n.bytes[1024 - 96 + 80] = 20;  // needs 122 bytes, 96 remain
       },
       {}},
      {"the index length running out on an entry: live and carved again", 5, true,
       [](node_image& n) { n.index_length(60); },  // 60 - 96 < 0 at the first entry
       {1016, 1112}},
      {"the index length ending exactly where a live entry ends: slack starts after it", 5, true,
       [](node_image& n) { n.index_length(96); },
       {1112}},
  };
  for (const row& t : rows) {
    node_image n = t.live ? live_node() : node_image(1024);
    if (!t.live) {
      n.put_end(16);
      n.index_length(32);
    }
    t.build(n);
    parse_result r = parse(n, t.dir);
    EXPECT_EQ(r.carved_offsets(), t.offsets) << t.what;
    for (const auto& c : r.carved) {
      EXPECT_EQ(c.second.valid, 0) << t.what;
      EXPECT_EQ(c.first, load_u64(c.second.entry, 16) & 0xFFFFFFFFFFFFULL) << t.what;
    }
  }
}

TEST(IndexNode, CarvedEntryFields) {
  node_image n = live_node();
  entry_spec e = named(u"");
  e.parent = 0x0003000000000005ULL;
  n.put(216, e);
  parse_result r = parse(n, 5);
  ASSERT_EQ(r.carved.size(), 1u);
  const auto& c = *r.carved.begin();
  EXPECT_EQ(c.first, 5u);  // the parent's sequence stays out of the key
  EXPECT_TRUE(c.second.name.empty());
  EXPECT_EQ(c.second.entry_length, 82u);
}

TEST(IndexNode, WrappersAndUnusedRecords) {
  string_indx_map valid;
  inode_indx_mmap carved;
  EXPECT_FALSE(parse_index_node_w_carve(valid, carved, 5, nullptr, 100, 0));
  EXPECT_FALSE(parse_indx_buffer_w_carve(valid, carved, 5, nullptr, 4096, 0));

  // An INDX record: node at 24, offsets counted from the record.
  node_image n = live_node();
  n.put(216, named(u"old1"));
  std::vector<byte> record(24 + n.bytes.size(), 0);
  std::copy(n.bytes.begin(), n.bytes.end(), record.begin() + 24);
  std::copy_n("INDX", 4, record.begin());
  EXPECT_TRUE(parse_indx_buffer_w_carve(valid, carved, 5, record.data(), static_cast<int>(record.size()), 4096));
  EXPECT_EQ(valid.at("0000000005_a.txt").file_offset, 4096u + 24 + 16);
  ASSERT_EQ(carved.size(), 1u);
  EXPECT_EQ(carved.begin()->second.file_offset, 4096u + 24 + 216);

  // The $INDEX_ROOT value wants indexed type 0x30 and a record size; the
  // length is the node's, from the value's 16th byte.
  std::vector<byte> root(16 + n.bytes.size(), 0);
  std::copy(n.bytes.begin(), n.bytes.end(), root.begin() + 16);
  string_indx_map v2;
  inode_indx_mmap c2;
  EXPECT_FALSE(parse_index_root_w_carve(v2, c2, 5, root.data(), static_cast<int>(n.bytes.size()), 0));
  store_u32(&root[0], 0x30);
  store_u32(&root[8], 4096);
  EXPECT_TRUE(parse_index_root_w_carve(v2, c2, 5, root.data(), static_cast<int>(n.bytes.size()), 0));
  EXPECT_EQ(v2.size(), 2u);

  // Two records, the second marked unused by the bitmap: its live-looking
  // entries are carved, none is live.
  std::vector<byte> alloc(8192, 0);
  for (int i = 0; i < 2; ++i) std::copy(record.begin(), record.end(), alloc.begin() + 4096 * i);
  const byte bitmap[1] = {0x01};
  string_indx_map v3;
  inode_indx_mmap c3;
  EXPECT_TRUE(parse_index_allocation_w_carve(v3, c3, 5, alloc.data(), alloc.size(), 4096, bitmap, 1, 0));
  EXPECT_EQ(v3.size(), 2u);
  for (const auto& v : v3) EXPECT_LT(v.second.file_offset, 4096u);
  std::set<uint64> second;
  for (const auto& c : c3)
    if (c.second.file_offset >= 4096) second.insert(c.second.file_offset);
  EXPECT_EQ(second, (std::set<uint64>{4096 + 24 + 16, 4096 + 24 + 112, 4096 + 24 + 216}));
}

// The root wrapper hands the node parser the length it was given: the node
// runs from the value's 16th byte to the attribute's end, and an entry that
// ends the node, live or carved, is read whole. The value is exactly as long
// as its header and node, so nothing past it is touched.
TEST(IndexNode, RootNodeIsParsedToTheEndOfItsLength) {
  node_image last_live(200);
  last_live.put(16, named(u"a.txt", 0x0001000000000041ULL));  // 96 bytes
  last_live.put(112, named(u"bb", 0x0001000000000042ULL));    // 88 bytes, to the end
  last_live.index_length(200);
  node_image last_carved(224);
  last_carved.put(16, named(u"a.txt", 0x0001000000000041ULL));
  last_carved.put_end(112);
  last_carved.index_length(128);
  last_carved.put(128, named(u"old1"));  // 96 bytes, to the end
  const struct {
    const char* what;
    const node_image& node;
    std::set<std::string> live;
    std::vector<uint64> carved;
  } rows[] = {{"last live entry at the end", last_live, {"a.txt", "bb"}, {}},
              {"last carved entry at the end", last_carved, {"a.txt"}, {500 + 128}}};
  for (const auto& r : rows) {
    std::vector<byte> root(16, 0);
    store_u32(&root[0], 0x30);
    store_u32(&root[8], 4096);
    root.insert(root.end(), r.node.bytes.begin(), r.node.bytes.end());
    parse_result got;
    EXPECT_TRUE(parse_index_root_w_carve(got.valid, got.carved, 5, root.data(), static_cast<int>(r.node.bytes.size()),
                                         500))
        << r.what;
    EXPECT_EQ(got.valid_names(), r.live) << r.what;
    EXPECT_EQ(got.carved_offsets(), r.carved) << r.what;
  }
}
