// MACB grouping of an entry's four times: the whole table of cases.
#include <gtest/gtest.h>

#include <string>

#include "time/zq_time.h"

namespace {

constexpr uint64 T0 = 132000000000000000ULL;  // a valid FILETIME in 2019

// The events in map order, "letters=type" joined by " | ".
std::string grouped(const timeline_record& rec, zq::type_time kind = zq::type_filetime) {
  macb_event_map map;
  zq::make_macb_events(map, rec, kind);
  std::string out;
  for (const auto& kv : map) {
    EXPECT_EQ(kv.first, kv.second.value);
    out += (out.empty() ? "" : " | ") + kv.second.macb + "=" + kv.second.type;
  }
  return out;
}

// Without `base` the entry's own labels are set; with it only the alternate
// description (the $SI:/$FN: form).
timeline_record record(uint64 m, uint64 a, uint64 c, uint64 b, const char* base = nullptr) {
  timeline_record rec;
  rec.m_modify_time = m, rec.m_access_time = a, rec.m_mft_change_time = c, rec.m_create_time = b;
  if (base == nullptr) {
    rec.m_modify_desc = "Last Modified", rec.m_access_desc = "Last Access";
    rec.m_mft_change_desc = "MFT Change", rec.m_create_desc = "Created";
  }
  rec.m_alt_desc = base ? base : "";
  return rec;
}

}  // namespace

TEST(Macb, GroupingTable) {
  const std::string all4 = "Last Modified; Last Access; MFT Change; Created";
  struct row {
    const char* name;
    timeline_record rec;
    std::string expect;
  } rows[] = {
      {"all four equal", record(T0, T0, T0, T0), "MACB=" + all4},
      {"all different, ascending", record(T0, T0 + 10, T0 + 20, T0 + 30),
       "M...=Last Modified | .A..=Last Access | ..C.=MFT Change | ...B=Created"},
      {"all different, descending", record(T0 + 30, T0 + 20, T0 + 10, T0),
       "...B=Created | ..C.=MFT Change | .A..=Last Access | M...=Last Modified"},
      {"M = C, A = B later", record(T0, T0 + 5, T0, T0 + 5),
       "M.C.=Last Modified; MFT Change | .A.B=Last Access; Created"},
      {"M zero, A = C = B", record(0, T0, T0, T0), ".ACB=Last Access; MFT Change; Created"},
      {"B earlier than M = A = C", record(T0, T0, T0, T0 - 1),
       "...B=Created | MAC.=Last Modified; Last Access; MFT Change"},
      {"all zero", record(0, 0, 0, 0), ""},
      {"all invalid", record(1, 5, 116444736000000000ULL, 0x8000000000000000ULL), ""},
      {"M one tick before A, C and B zero", record(T0, T0 + 1, 0, 0), "M...=Last Modified | .A..=Last Access"},
      {"invalid C between equal times", record(T0, T0, 7, T0), "MA.B=Last Modified; Last Access; Created"},
      {"$SI: M = B, M < A < C", record(T0, T0 + 1, T0 + 2, T0, "$SI:"),
       "M..B=$SI: [M..B] | .A..=$SI: [.A..] | ..C.=$SI: [..C.]"},
      {"$FN: only B valid", record(0, 0, 3, T0, "$FN:"), "...B=$FN: [...B]"},
      {"$SI: C leads, B joins", record(T0 + 9, T0 + 8, T0, T0, "$SI:"),
       "..CB=$SI: [..CB] | .A..=$SI: [.A..] | M...=$SI: [M...]"},
      {"no labels at all", record(T0, T0, T0, T0, ""), "MACB="},
  };
  for (const row& r : rows) EXPECT_EQ(grouped(r.rec), r.expect) << r.name;
}

TEST(Macb, EventFieldsAndTimeKinds) {
  timeline_record rec = record(0, T0 + 5, T0 + 5, T0 + 5);
  rec.m_event_option = 77;
  macb_event_map map;
  zq::make_macb_events(map, rec, zq::type_filetime);
  ASSERT_EQ(map.size(), 1u);
  const macb_event& e = map.begin()->second;
  EXPECT_TRUE(e.kind == 1u && e.aux == 77u && e.time.m_filetime == T0 + 5 && e.time.m_valid == 1);
  // Events already in the map stay, and equal keys keep insertion order.
  zq::make_macb_events(map, record(T0 + 5, 0, 0, 0), zq::type_filetime);
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map.begin()->second.macb + std::next(map.begin())->second.macb, ".ACBM...");

  // Unix seconds group the same way; a base without a conversion gives nothing.
  rec = record(1577836800, 1577836800, 1577836801, 0);
  rec.m_time_kind = zq::type_unix;
  EXPECT_EQ(grouped(rec, zq::type_unix), "MA..=Last Modified; Last Access | ..C.=MFT Change");
  EXPECT_EQ(grouped(record(T0, T0, T0, T0), zq::type_dos), "");
}

TEST(TimelineRecord, Setters) {
  timeline_record rec;
  rec.set_inode(0x2a);
  std::string texts = rec.m_inode;
  rec.m_hex_extended = 1;
  rec.set_inode(0x2a);
  texts += "|" + rec.m_inode;
  rec.set_inode(0x123456789aULL);
  EXPECT_EQ(texts + "|" + rec.m_inode, "42|0x0000002a|0x123456789a");
  // No extension given keeps the one set before.
  rec.m_extension = "keep";
  rec.set_extended(2, 5, 3, 4, 1000, nullptr, "1-2");
  EXPECT_EQ(rec.m_extension, "keep");
}

TEST(TimelineRecord, ClearRestoresTheDefaults) {
  timeline_record rec;
  rec.m_modify_time = rec.m_create_time = rec.m_window_end = 7;
  rec.m_modify_desc = rec.m_alt_desc = rec.m_host = rec.m_spare_text = "x";
  rec.m_time_kind = zq::type_unix;
  rec.m_event_option = rec.m_version = rec.m_ref_count = 9;
  rec.m_timezone = rec.m_format = rec.m_separator = "y";
  rec.m_replaced_char = rec.m_replacement_char = 'z';
  rec.m_milliseconds = 0;
  rec.m_lower_case_letters = rec.m_copy_files = rec.m_extended = 1;
  rec.m_header_bytes.assign(3, 1);
  rec.clear();
  EXPECT_TRUE(rec.m_modify_time == 0 && rec.m_create_time == 0 && rec.m_window_end == 0);
  EXPECT_EQ(rec.m_modify_desc + rec.m_alt_desc + rec.m_host + rec.m_spare_text, "");
  EXPECT_EQ(rec.m_time_kind, zq::type_filetime);
  EXPECT_TRUE(rec.m_event_option == 0 && rec.m_ref_count == 0 && rec.m_version == 2);
  EXPECT_EQ(rec.m_timezone + "|" + rec.m_format + "|" + rec.m_separator, "UTC|-csvl2t|,");
  EXPECT_TRUE(rec.m_replaced_char == ',' && rec.m_replacement_char == ' ');
  EXPECT_TRUE(rec.m_milliseconds == 1 && rec.m_lower_case_letters == 0 && rec.m_copy_files == 0 &&
              rec.m_extended == 0);
  EXPECT_TRUE(rec.m_header_bytes.empty());
}
