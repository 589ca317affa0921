// MACB grouping of an entry's four times: the whole table of cases.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "time/zq_time.h"

namespace {

constexpr uint64 T0 = 132000000000000000ULL;  // a valid FILETIME in 2019

struct shown {
  std::string macb, type;
  ulong64 value;
};

std::vector<shown> events_of(const timeline_record& rec, zq::type_time kind = zq::type_filetime) {
  macb_event_map map;
  zq::make_macb_events(map, rec, kind);
  std::vector<shown> out;
  for (const auto& kv : map) {
    EXPECT_EQ(kv.first, kv.second.value);
    out.push_back({kv.second.macb, kv.second.type, kv.second.value});
  }
  return out;
}

timeline_record record(uint64 m, uint64 a, uint64 c, uint64 b, bool app_labels,
                       const std::string& base = "") {
  timeline_record rec;
  rec.m_modify_time = m;
  rec.m_access_time = a;
  rec.m_mft_change_time = c;
  rec.m_create_time = b;
  if (app_labels) {
    rec.m_modify_desc = "Last Modified";
    rec.m_access_desc = "Last Access";
    rec.m_mft_change_desc = "MFT Change";
    rec.m_create_desc = "Created";
  }
  rec.m_alt_desc = base;
  return rec;
}

}  // namespace

TEST(Macb, GroupingTable) {
  struct row {
    const char* name;
    timeline_record rec;
    std::vector<std::pair<std::string, std::string>> expect;  // macb, type, in map order
  };
  const row rows[] = {
      {"all four equal", record(T0, T0, T0, T0, true),
       {{"MACB", "Last Modified; Last Access; MFT Change; Created"}}},
      {"all different, ascending", record(T0, T0 + 10, T0 + 20, T0 + 30, true),
       {{"M...", "Last Modified"}, {".A..", "Last Access"}, {"..C.", "MFT Change"}, {"...B", "Created"}}},
      {"all different, descending", record(T0 + 30, T0 + 20, T0 + 10, T0, true),
       {{"...B", "Created"}, {"..C.", "MFT Change"}, {".A..", "Last Access"}, {"M...", "Last Modified"}}},
      {"M = C, A = B later", record(T0, T0 + 5, T0, T0 + 5, true),
       {{"M.C.", "Last Modified; MFT Change"}, {".A.B", "Last Access; Created"}}},
      {"M zero, A = C = B", record(0, T0, T0, T0, true), {{".ACB", "Last Access; MFT Change; Created"}}},
      {"B earlier than M = A = C", record(T0, T0, T0, T0 - 1, true),
       {{"...B", "Created"}, {"MAC.", "Last Modified; Last Access; MFT Change"}}},
      {"all zero", record(0, 0, 0, 0, true), {}},
      {"all invalid", record(1, 5, 116444736000000000ULL, 0x8000000000000000ULL, true), {}},
      {"M one tick before A, C and B zero", record(T0, T0 + 1, 0, 0, true),
       {{"M...", "Last Modified"}, {".A..", "Last Access"}}},
      {"invalid C between equal times", record(T0, T0, 7, T0, true),
       {{"MA.B", "Last Modified; Last Access; Created"}}},
      {"$SI: M = B, M < A < C", record(T0, T0 + 1, T0 + 2, T0, false, "$SI:"),
       {{"M..B", "$SI: [M..B]"}, {".A..", "$SI: [.A..]"}, {"..C.", "$SI: [..C.]"}}},
      {"$FN: only B valid", record(0, 0, 3, T0, false, "$FN:"), {{"...B", "$FN: [...B]"}}},
      {"$FN8.3: all equal", record(T0, T0, T0, T0, false, "$FN8.3:"), {{"MACB", "$FN8.3: [MACB]"}}},
      {"$SI: C leads, B joins", record(T0 + 9, T0 + 8, T0, T0, false, "$SI:"),
       {{"..CB", "$SI: [..CB]"}, {".A..", "$SI: [.A..]"}, {"M...", "$SI: [M...]"}}},
      {"no labels at all", record(T0, T0, T0, T0, false), {{"MACB", ""}}},
  };
  for (const row& r : rows) {
    const std::vector<shown> got = events_of(r.rec);
    ASSERT_EQ(got.size(), r.expect.size()) << r.name;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].macb, r.expect[i].first) << r.name << " #" << i;
      EXPECT_EQ(got[i].type, r.expect[i].second) << r.name << " #" << i;
    }
  }
}

TEST(Macb, EventFields) {
  timeline_record rec = record(0, T0 + 5, T0 + 5, T0 + 5, true);
  rec.m_event_option = 77;
  macb_event_map map;
  zq::make_macb_events(map, rec, zq::type_filetime);
  ASSERT_EQ(map.size(), 1u);
  const macb_event& e = map.begin()->second;
  EXPECT_EQ(e.kind, 1u);
  EXPECT_EQ(e.aux, 77u);
  EXPECT_EQ(e.value, T0 + 5);
  EXPECT_EQ(e.time.m_filetime, T0 + 5);
  EXPECT_EQ(e.time.m_valid, 1);

  // Events already in the map stay, and equal keys keep insertion order.
  zq::make_macb_events(map, record(T0 + 5, 0, 0, 0, true), zq::type_filetime);
  ASSERT_EQ(map.size(), 2u);
  auto it = map.begin();
  EXPECT_EQ(it->second.macb, ".ACB");
  EXPECT_EQ((++it)->second.macb, "M...");
}

TEST(Macb, TimeKinds) {
  // Unix seconds group the same way; a base without a conversion gives nothing.
  timeline_record rec = record(1577836800, 1577836800, 1577836801, 0, true);
  rec.m_time_kind = zq::type_unix;
  const std::vector<shown> got = events_of(rec, zq::type_unix);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].macb, "MA..");
  EXPECT_EQ(got[1].macb, "..C.");
  EXPECT_TRUE(events_of(record(T0, T0, T0, T0, true), zq::type_dos).empty());
}

TEST(TimelineRecord, Setters) {
  timeline_record rec;
  rec.set_inode(0x2a);
  EXPECT_EQ(rec.m_inode, "42");
  rec.m_hex_extended = 1;
  rec.set_inode(0x2a);
  EXPECT_EQ(rec.m_inode, "0x0000002a");
  rec.set_inode(0x123456789aULL);
  EXPECT_EQ(rec.m_inode, "0x123456789a");

  rec.m_extension = "keep";
  rec.set_extended(2, 5, 3, 4, 1000, nullptr, "1-2");
  EXPECT_EQ(rec.m_extended, 1);
  EXPECT_EQ(rec.m_parent_seqnum, 3u);
  EXPECT_EQ(rec.m_inode_seqnum, 4u);
  EXPECT_EQ(rec.m_extension, "keep");
  EXPECT_EQ(rec.m_clusters, "1-2");
}
