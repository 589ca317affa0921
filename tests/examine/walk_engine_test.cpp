// The directory walker over the fixture volumes: its times and MACB letters
// against istat, its bodyfile through mactime, its four forms, filters and
// ranges against the kit's listings, and hand-built records.
#include "examine/walk_engine.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "examine/walk_bodyfile_l2t.h"
#include "examine/walk_streams.h"
#include "ntfs/ntfs.h"
#include "ntfs/tree_node.h"
#include "tests/app/mft_runs_rewrite.h"
#include "tests/app/planted_names.h"
#include "tests/app/record_builder.h"
#include "tests/examine/walk_run.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"
#include "utils/byte_order.h"
#include "utils/utf_convert.h"

namespace {

using quor_test::fixture;
using quor_test::split_fields;
using quor_test::split_lines;
using quor_test::walk_text;

const char* const kVolumes[] = {"default", "sample", "c512", "c64k", "s4096", "bigdir", "c128k", "streams"};

// istat's "2026-12-06 22:28:18.758029000 (UTC)" as the walker writes the
// instant, "12/06/2026 22:28:18.758 "; "" for istat's zero time.
std::string walker_time(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  long ns = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d.%ld", &y, &mo, &d, &h, &mi, &s, &ns) < 6 || y == 0) return "";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d.%03ld ", mo, d, y, h, mi, s, ns / 1000000);
  return buf;
}

struct istat_name {
  std::string name;
  ulong64 parent = 0;
  std::string times[4];  // created, modified, MFT modified, accessed, as istat writes them
};

struct istat_entry {
  bool has_si = false;
  std::string si[4];
  std::vector<istat_name> names;
};

// Sections of `istat -z UTC` output, one entry.
istat_entry parse_istat(const std::string& text) {
  istat_entry e;
  std::string* times = nullptr;
  static const char* const labels[] = {"Created:\t", "File Modified:\t", "MFT Modified:\t", "Accessed:\t"};
  for (const std::string& line : split_lines(text)) {
    if (line == "$STANDARD_INFORMATION Attribute Values:") {
      e.has_si = true;
      times = e.si;
    } else if (line == "$FILE_NAME Attribute Values:") {
      e.names.emplace_back();
      times = e.names.back().times;
    } else if (line.empty() || line.compare(0, 11, "Attributes:") == 0) {
      times = nullptr;
    } else if (times != nullptr && line.compare(0, 6, "Name: ") == 0 && !e.names.empty()) {
      e.names.back().name = line.substr(6);
    } else if (times != nullptr && line.compare(0, 18, "Parent MFT Entry: ") == 0 && !e.names.empty()) {
      e.names.back().parent = std::stoull(line.substr(18));
    } else if (times != nullptr) {
      for (int i = 0; i < 4; ++i)
        if (line.compare(0, std::strlen(labels[i]), labels[i]) == 0) times[i] = line.substr(std::strlen(labels[i]));
    }
  }
  return e;
}

// The rows the walker's whole-record report of the entry under `parent`
// must show: the $STANDARD_INFORMATION letters (given once a name of that
// parent exists) and each name's own letters, grouped by instant.
std::multiset<std::string> expected_rows(const istat_entry& e, ulong64 parent,
                                         const std::set<std::string>& long_names) {
  std::map<std::string, std::string[3]> letters;  // by istat's full-precision text
  auto add = [&](int slot, const std::string t[4]) {
    const std::string macb[4] = {t[1], t[3], t[2], t[0]};
    for (int i = 0; i < 4; ++i) {
      if (walker_time(macb[i]).empty()) continue;
      std::string* l = letters[macb[i]];
      if (l[slot].empty()) l[slot] = "....";
      l[slot][i] = "macb"[i];
    }
  };
  for (const istat_name& n : e.names) {
    if (n.parent != parent) continue;
    if (e.has_si) add(0, e.si);
    add(long_names.count(n.name) ? 1 : 2, n.times);
  }
  std::multiset<std::string> rows;
  for (const auto& kv : letters) {
    std::string text;
    const char* const label[] = {"si:[", "fn:[", "fn8.3["};
    for (int s = 0; s < 3; ++s) {
      if (kv.second[s].empty()) continue;
      if (!text.empty()) text += "; ";
      text += label[s] + kv.second[s] + "]";
    }
    rows.insert(walker_time(kv.first) + text);
  }
  return rows;
}

std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// For every volume The Sleuth Kit reads, a sample of its entries (all of
// sample.img): each report's instants and MACB letters equal what istat shows.
TEST(WalkEngine, TimesAndLettersEqualIstat) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  size_t checked = 0;
  for (const char* volume : kVolumes) {
    if (std::string(volume) == "c128k") continue;  // The Sleuth Kit cannot read 128 KiB clusters
    const std::string image = fixture(std::string(volume) + ".img");
    if (image.empty()) GTEST_SKIP() << "fixture " << volume << " missing";
    user_ctx ctx;
    bool walked = false;
    const std::string out = walk_text(ctx, {"-image", image, "-csv"}, &walked);
    EXPECT_TRUE(walked);
    // (entry, parent) -> rows of date, time and letters.
    std::map<std::pair<ulong64, ulong64>, std::multiset<std::string>> rows;
    for (const std::string& line : split_lines(out)) {
      const std::vector<std::string> f = split_fields(line, ',');
      if (f.size() < 12 || f[0].compare(0, 2, "0x") != 0) continue;
      rows[{std::stoull(f[0], nullptr, 16), std::stoull(f[2], nullptr, 16)}].insert(f[6] + f[7] + " " + f[8]);
    }
    const std::vector<quor_test::listing_entry> listing = quor_test::read_listing(volume);
    ASSERT_FALSE(listing.empty());
    std::map<ulong64, std::set<std::string>> long_names;
    for (const auto& e : listing) long_names[e.inode].insert(base_name(e.path));
    const size_t stride = long_names.size() > 120 ? long_names.size() / 60 : 1;
    size_t i = 0;
    for (const auto& kv : long_names) {
      if (i++ % stride != 0) continue;
      std::string text;
      ASSERT_EQ(quor_test::run_command("istat -z UTC " + image + " " + std::to_string(kv.first), text), 0);
      const istat_entry e = parse_istat(text);
      ASSERT_FALSE(e.names.empty()) << volume << " " << kv.first;
      std::set<ulong64> parents;
      for (const istat_name& n : e.names) parents.insert(n.parent);
      for (ulong64 parent : parents) {
        EXPECT_EQ((rows[{kv.first, parent}]), expected_rows(e, parent, kv.second))
            << volume << " entry " << kv.first << " parent " << parent;
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 400u);
}

// istat's "2023-05-02 16:10:00.000000000 (UTC)" in unix seconds (the
// fraction dropped); 0 for istat's zero time.
ulong64 unix_seconds(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) < 6 || y == 0) return 0;
  // Days from 1970-01-01 to the civil date.
  const int yy = mo <= 2 ? y - 1 : y;
  const int era = yy / 400, yoe = yy - era * 400;
  const int doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long days = era * 146097L + yoe * 365L + yoe / 4 - yoe / 100 + doy - 719468L;
  return static_cast<ulong64>(days * 86400L + h * 3600L + mi * 60L + s);
}

// The bodyfile's four columns (access, modify, MFT change, create) from
// istat's four times (created, modified, MFT modified, accessed).
std::string body_times(const std::string t[4]) {
  return std::to_string(unix_seconds(t[3])) + "|" + std::to_string(unix_seconds(t[1])) + "|" +
         std::to_string(unix_seconds(t[2])) + "|" + std::to_string(unix_seconds(t[0]));
}

// Each letter of a source's rows with the instant it stands on: "SI M
// 05/02/2023 16:10:00.000" from istat's times, as the log2timeline rows must
// show them.
void add_letters(std::set<std::string>& out, const std::string& source, const std::string t[4]) {
  const std::string by_letter[4] = {t[1], t[3], t[2], t[0]};  // M, A, C, B
  for (int i = 0; i < 4; ++i) {
    const std::string w = walker_time(by_letter[i]);
    if (!w.empty()) out.insert(source + " " + "MACB"[i] + " " + w.substr(0, w.size() - 1));
  }
}

// sample.img's files carry four different $STANDARD_INFORMATION times, and a
// renamed file's $FILE_NAME keeps the change time of its rename: every time
// of the bodyfile and log2timeline forms equals istat's, by source and letter.
TEST(WalkEngine, BodyfileAndLog2timelineTimesEqualIstat) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  const std::string image = fixture("sample.img");
  if (image.empty()) GTEST_SKIP() << "fixture sample.img missing";
  user_ctx body_ctx, l2t_ctx;
  bool walked = false;
  const std::vector<std::string> body = split_lines(walk_text(body_ctx, {"-image", image, "-bodyfile"}, &walked));
  EXPECT_TRUE(walked);
  const std::vector<std::string> l2t = split_lines(walk_text(l2t_ctx, {"-image", image, "-csvl2t"}, &walked));
  EXPECT_TRUE(walked);
  std::map<ulong64, std::set<std::string>> body_rows, l2t_rows;
  for (const std::string& line : body) {
    const std::vector<std::string> f = split_fields(line, '|');
    if (f.size() == 11 && f[2] != "inode")
      body_rows[std::stoull(f[2])].insert(f[7] + "|" + f[8] + "|" + f[9] + "|" + f[10]);
  }
  for (const std::string& line : l2t) {
    const std::vector<std::string> f = split_fields(line, ',');
    if (f.size() < 17 || f[0] == "date") continue;
    const std::string source = f[6].substr(0, f[6].find(':'));
    for (int i = 0; i < 4; ++i)
      if (f[3].size() == 4 && f[3][i] != '.')
        l2t_rows[std::stoull(f[13], nullptr, 0)].insert(source + " " + "MACB"[i] + " " + f[0] + " " + f[1]);
  }
  size_t checked = 0, source_differs = 0;
  for (const auto& e : quor_test::read_listing("sample")) {
    std::string text;
    ASSERT_EQ(quor_test::run_command("istat -z UTC " + image + " " + std::to_string(e.inode), text), 0);
    const istat_entry st = parse_istat(text);
    ASSERT_TRUE(st.has_si) << e.path;
    ASSERT_FALSE(st.names.empty()) << e.path;
    std::set<std::string> want_body{body_times(st.si)}, want_l2t;
    add_letters(want_l2t, "$SI", st.si);
    for (const istat_name& n : st.names) {
      want_body.insert(body_times(n.times));
      add_letters(want_l2t, "$FN", n.times);  // the volume has no 8.3 names
      if (body_times(n.times) != body_times(st.si)) ++source_differs;
    }
    EXPECT_EQ(body_rows[e.inode], want_body) << e.path;
    EXPECT_EQ(l2t_rows[e.inode], want_l2t) << e.path;
    ++checked;
  }
  EXPECT_GT(checked, 80u);
  EXPECT_GT(source_differs, 0u) << "no entry whose $FILE_NAME times differ from its $STANDARD_INFORMATION";
}

// The entry writers and their line writers called on entries read on their
// own, as the walker hands them over, on every volume The Sleuth Kit reads:
// every time equals istat's, by source and letter, sizes and names are the
// listing's, and the CSV report's rows are istat's instants and letters.
TEST(WalkEngine, EntryWritersCalledDirectlyEqualIstat) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  size_t checked = 0, lines = 0;
  for (const char* volume : kVolumes) {
    if (std::string(volume) == "c128k") continue;  // The Sleuth Kit cannot read 128 KiB clusters
    const std::string image = fixture(std::string(volume) + ".img");
    if (image.empty()) GTEST_SKIP() << "fixture " << volume << " missing";
    CNtfs* engine = nullptr;
    ASSERT_TRUE(open_ntfs_image(image.c_str(), 0, engine, false, false));
    user_ctx ctx(engine, true);
    std::map<ulong64, std::set<std::string>> long_names;
    std::map<ulong64, quor_test::listing_entry> listed;
    for (const auto& e : quor_test::read_listing(volume)) {
      long_names[e.inode].insert(base_name(e.path));
      listed[e.inode] = e;
    }
    const size_t stride = long_names.size() > 60 ? long_names.size() / 30 : 1;
    size_t n = 0;
    for (const auto& kv : long_names) {
      if (n++ % stride != 0) continue;
      SCOPED_TRACE(std::string(volume) + " entry " + std::to_string(kv.first));
      const ulong64 inode = kv.first;
      std::string text;
      ASSERT_EQ(quor_test::run_command("istat -z UTC " + image + " " + std::to_string(inode), text), 0);
      const istat_entry st = parse_istat(text);
      ASSERT_TRUE(st.has_si && !st.names.empty()) << inode;
      inode_attributes rec;
      ASSERT_TRUE(read_inode(rec, ctx, inode)) << inode;
      EXPECT_TRUE(describe_time_sources(rec)) << inode << " " << rec.time_note;
      EXPECT_FALSE(rec.time_note_set);

      std::set<std::string> want_body{body_times(st.si)}, want_l2t;
      add_letters(want_l2t, "$SI", st.si);
      for (const istat_name& n : st.names) {
        want_body.insert(body_times(n.times));
        add_letters(want_l2t, "$FN", n.times);
      }
      std::ostringstream body, l2t, csv;
      ctx.header_pending = true;
      write_entry_bodyfile(rec, body, ctx);
      EXPECT_EQ(ctx.csv_separator, L"|");
      std::set<std::string> body_rows, l2t_rows;
      for (const std::string& line : split_lines(body.str())) {
        const std::vector<std::string> f = split_fields(line, '|');
        ASSERT_EQ(f.size(), 11u) << line;
        if (f[2] == "inode") continue;
        EXPECT_EQ(f[2], std::to_string(inode));
        body_rows.insert(f[7] + "|" + f[8] + "|" + f[9] + "|" + f[10]);
      }
      EXPECT_EQ(body_rows, want_body) << inode;
      ctx.header_pending = false;
      write_entry_l2t(rec, l2t, ctx);
      for (const std::string& line : split_lines(l2t.str())) {
        const std::vector<std::string> f = split_fields(line, ',');
        ASSERT_GE(f.size(), 17u) << line;
        EXPECT_EQ(std::stoull(f[13], nullptr, 0), inode);
        for (int i = 0; i < 4; ++i)
          if (f[3].size() == 4 && f[3][i] != '.')
            l2t_rows.insert(f[6].substr(0, f[6].find(':')) + " " + "MACB"[i] + " " + f[0] + " " + f[1]);
      }
      EXPECT_EQ(l2t_rows, want_l2t) << inode;

      ctx.csv = true;
      ctx.csv_separator = L",";
      report_entry_streams(rec, csv, ctx);
      std::map<ulong64, std::multiset<std::string>> rows;
      for (const std::string& line : split_lines(csv.str())) {
        const std::vector<std::string> f = split_fields(line, ',');
        if (f.size() < 12 || f[0].compare(0, 2, "0x") != 0) continue;
        EXPECT_EQ(std::stoull(f[0], nullptr, 16), inode);
        rows[std::stoull(f[2], nullptr, 16)].insert(f[6] + f[7] + " " + f[8]);
      }
      std::set<ulong64> parents;
      for (const istat_name& n : st.names) parents.insert(n.parent);
      for (ulong64 parent : parents) EXPECT_EQ(rows[parent], expected_rows(st, parent, kv.second)) << inode;
      ctx.csv = false;

      // One line each: the $STANDARD_INFORMATION's times, then each name's.
      const parent_record& parent = rec.parents.begin()->second;
      const attribute_record* attr = nullptr;  // the unnamed data, whose size the listing gives
      for (const auto& akv : rec.attributes)
        if (akv.second.label == "unnamed data") attr = &akv.second;
      const bool is_dir = listed[inode].kind == 'd';
      ASSERT_EQ(attr == nullptr, is_dir) << inode;
      const si_record& si = rec.si_records.begin()->second;
      for (const auto& fkv : rec.filename_records) {
        const filename_record& fn = fkv.second;
        if (mft_reference_entry(load_u64(fn.data)) != mft_reference_entry(parent.reference)) continue;
        const istat_name* match = nullptr;
        for (const istat_name& n : st.names)
          if (n.parent == mft_reference_entry(parent.reference) && n.name == wstring_to_utf8(fn.name)) match = &n;
        ASSERT_NE(match, nullptr) << inode;
        for (bool use_si : {true, false}) {
          std::ostringstream one, rows_of_one;
          write_bodyfile_line(rec, one, ctx, &parent, attr, &si, &fn, use_si);
          const std::vector<std::string> f = split_fields(one.str().substr(0, one.str().size() - 1), '|');
          ASSERT_EQ(f.size(), 11u) << one.str();
          EXPECT_EQ(f[7] + "|" + f[8] + "|" + f[9] + "|" + f[10], body_times(use_si ? st.si : match->times));
          EXPECT_EQ(f[1], wstring_to_utf8(fn.name) + (is_dir ? " (dir)" : " (file)"));
          EXPECT_EQ(f[6], std::to_string(listed[inode].size));
          write_l2t_line(rec, rows_of_one, ctx, &parent, &si, &fn, use_si);
          std::set<std::string> got, want;
          add_letters(want, use_si ? "$SI" : "$FN", use_si ? st.si : match->times);
          for (const std::string& line : split_lines(rows_of_one.str())) {
            const std::vector<std::string> g = split_fields(line, ',');
            ASSERT_GE(g.size(), 17u) << line;
            EXPECT_EQ(g[12], wstring_to_utf8(fn.name));
            for (int i = 0; i < 4; ++i)
              if (g[3][i] != '.')
                got.insert(g[6].substr(0, g[6].find(':')) + " " + "MACB"[i] + " " + g[0] + " " + g[1]);
          }
          EXPECT_EQ(got, want) << inode << " use_si " << use_si;
          ++lines;
        }
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 150u);
  EXPECT_GT(lines, 300u);
}

// Names, states and notes of the two line writers on a hand-made entry, and
// the time window of the bodyfile line.
TEST(WalkEngine, LineWritersNamesNotesAndWindow) {
  const ulong64 t0 = 132224078456780000ull, second = 10000000ull;  // 2020-01-02 03:04:05.678 UTC
  inode_attributes rec;
  rec.entry = 40;
  si_record si;
  for (int i = 0; i < 4; ++i) store_u64(si.data + 8 * i, t0 + 60 * i * second);
  filename_record fn;
  fn.name = L"a.txt";
  for (int i = 0; i < 4; ++i) store_u64(fn.data + 8 + 8 * i, t0);
  parent_record parent;
  parent.reference = 60;
  parent.path = L"[root]\\docs\\";
  attribute_record zone, unnamed;
  zone.name = L"zone";
  struct {
    uint16 flags;
    const attribute_record* attr;
    const char* body_name;
  } names[] = {{0x0000, &zone, "[root]\\docs\\a.txt:zone (deleted)"},
               {0x0001, &unnamed, "[root]\\docs\\a.txt (file)"},
               {0x0003, nullptr, "[root]\\docs\\a.txt (dir)"},
               {0x0002, &zone, "[root]\\docs\\a.txt:zone (deleted - dir)"}};
  user_ctx ctx;
  ctx.header_pending = false;
  for (const auto& n : names) {
    store_u16(rec.header + 22, n.flags);
    std::ostringstream out;
    write_bodyfile_line(rec, out, ctx, &parent, n.attr, &si, &fn, true);
    EXPECT_EQ(out.str(), std::string("0|") + n.body_name + "|40||0|0|0|1577934425|1577934305|1577934365|1577934245\n");
  }
  std::ostringstream no_parent;
  write_bodyfile_line(rec, no_parent, ctx, nullptr, &zone, nullptr, &fn, false);
  EXPECT_EQ(no_parent.str(), "0|zone (deleted - dir)|40||0|0|0|1577934245|1577934245|1577934245|1577934245\n");

  // A deleted directory that is an extension record of entry 7.
  store_u16(rec.header + 22, 0x0002);
  rec.has_base_record = true;
  rec.base_record = 7 | (2ull << 48);
  std::ostringstream l2t;
  write_l2t_line(rec, l2t, ctx, &parent, &si, &fn, false);
  const std::vector<std::string> rows = split_lines(l2t.str());
  ASSERT_EQ(rows.size(), 1u);
  const std::vector<std::string> f = split_fields(rows[0], ',');
  ASSERT_GE(f.size(), 17u);
  EXPECT_EQ(f[0], "01/02/2020");
  EXPECT_EQ(f[3], "MACB");
  EXPECT_EQ(f[4], "FILE");
  EXPECT_EQ(f[12], "[root]\\docs\\a.txt");
  EXPECT_EQ(f[14], "deleted (dir); REF inode [7]");
  EXPECT_EQ(f[15], "dirsweep [-csvl2t]");
  rec.time_note_set = true;
  rec.time_note = "fn:time null";
  std::ostringstream noted;
  write_l2t_line(rec, noted, ctx, &parent, &si, &fn, true);
  ASSERT_FALSE(split_lines(noted.str()).empty());
  EXPECT_EQ(split_fields(split_lines(noted.str())[0], ',')[14], "deleted (dir); fn:time null; REF inode [7]");

  // The window keeps a line only when all four times lie inside it.
  struct {
    ulong64 start, stop;
    bool written;
  } windows[] = {{t0, t0 + 180 * second, true}, {t0 + second, t0 + 180 * second, false},
                 {t0, t0 + 179 * second, false}, {1, ~0ull, true}};
  for (const auto& w : windows) {
    ctx.filter_start_time = w.start;
    ctx.filter_stop_time = w.stop;
    std::ostringstream out;
    write_bodyfile_line(rec, out, ctx, &parent, &zone, &si, &fn, true);
    EXPECT_EQ(!out.str().empty(), w.written) << w.start << " " << w.stop;
  }
  store_u64(si.data + 24, 0);  // one zero time: never inside a window
  std::ostringstream zero;
  write_bodyfile_line(rec, zero, ctx, &parent, &zone, &si, &fn, true);
  EXPECT_TRUE(zero.str().empty());
}

// Which time sources an entry lacks or doubts, in the order they are judged.
TEST(WalkEngine, DescribeTimeSources) {
  si_record good_si, null_si;
  null_si.time_suspect = true;
  null_si.note = "null";
  filename_record good_fn, future_fn;
  future_fn.time_suspect = true;
  future_fn.note = "future";
  struct {
    const si_record* si;
    const filename_record* fn;
    bool base;
    bool result;
    const char* note;
  } cases[] = {{nullptr, &good_fn, false, false, "si:time absent"},
               {nullptr, nullptr, true, false, "fn:time absent"},
               {&good_si, nullptr, false, false, "fn:time absent"},
               {&null_si, &future_fn, false, false, "si:time null"},
               {&good_si, &future_fn, false, false, "fn:time future"},
               {nullptr, &good_fn, true, true, ""},
               {&good_si, &good_fn, false, true, ""}};
  for (const auto& c : cases) {
    inode_attributes rec;
    rec.time_note = "earlier";
    rec.time_note_set = true;
    if (c.si) rec.si_records.emplace(0, *c.si);
    if (c.fn) rec.filename_records.emplace(5, *c.fn);
    rec.has_base_record = c.base;
    EXPECT_EQ(describe_time_sources(rec), c.result) << c.note;
    EXPECT_EQ(rec.time_note, c.note);
    EXPECT_EQ(rec.time_note_set, !c.result) << c.note;
  }
}

// The bodyfile of every volume is read by mactime without a complaint, and
// every live name appears in it with its full path, in all four forms.
TEST(WalkEngine, FourFormsOnEveryVolume) {
  const bool have_mactime = quor_test::have_program("mactime");
  for (const char* volume : kVolumes) {
    const std::string image = fixture(std::string(volume) + ".img");
    if (image.empty()) GTEST_SKIP() << "fixture " << volume << " missing";
    const std::vector<quor_test::listing_entry> listing = quor_test::read_listing(volume);
    ASSERT_FALSE(listing.empty());
    for (const std::string form : {"-bodyfile", "-csv", "-csvl2t", ""}) {
      const bool csv = form == "-csv" || form == "-csvl2t";
      user_ctx ctx;
      std::vector<std::string> args = {"-image", image};
      if (!form.empty()) args.push_back(form);
      bool walked = false;
      const std::string out = walk_text(ctx, args, &walked);
      EXPECT_TRUE(walked) << volume << " " << form;
      EXPECT_FALSE(ctx.is_open);  // a completed walk closes its source
      EXPECT_EQ(out.compare(0, 9, "cmdline: ") == 0, form == "-csv" || form.empty()) << form;
      std::set<std::string> missing;
      for (size_t i = 0; i < listing.size(); i += listing.size() / 300 + 1) {
        std::string path = "[root]" + listing[i].path;
        for (char& c : path) {
          if (c == '/') c = '\\';
          if (c == ',' && csv) c = ' ';
        }
        // Hard links in one folder share a report: the other names are aliases.
        if (out.find(path) == std::string::npos &&
            (form == "-bodyfile" || form == "-csvl2t" ||
             out.find("[alias: " + base_name(listing[i].path) + "]") == std::string::npos))
          missing.insert(path);
      }
      EXPECT_TRUE(missing.empty()) << volume << " " << form << " misses " << missing.size() << " names, such as "
                                   << (missing.empty() ? "" : *missing.begin());
      if (form == "-bodyfile" && have_mactime) {
        const std::string body = quor_test::scratch_dir() + "/walk-" + volume + ".body";
        std::ofstream(body) << out;
        std::string err;
        EXPECT_EQ(quor_test::run_command("mactime -b " + body + " -d -z UTC 2>&1 >/dev/null", err), 0);
        EXPECT_EQ(err, "") << volume;
      }
    }
  }
}

// Names planted to split a row (LF, CR), to open a quoted cell (an
// extension that begins with '"') or to add a body field ('|'), and a typed
// host name whose comma leaves the echo's quote where a cell begins: in CSV
// python's csv reads every line as one row, of the header's columns past the
// echo; each table row is one line of the header's columns; each body line
// has eleven fields. Every planted name is there.
TEST(WalkEngine, PlantedNamesKeepEveryRowOnItsLine) {
  if (!quor_test::have_program("python3")) GTEST_SKIP() << "python3 absent";
  const quor_test::planted_volume v = quor_test::plant_names();
  ASSERT_FALSE(v.image.empty()) << "default.img or its \\longnames names absent";
  // After "[root]\longnames\" in the name text, and in the body file.
  const char* const names[][2] = {
      {"\"0002_", "\"0002_"}, {"L 003_", "L 003_"}, {"L 004_", "L 004_"}, {"L|006_", "L 006_"}};
  const std::string dir = "[root]\\longnames\\";

  user_ctx csv_ctx;
  const std::string csv = walk_text(csv_ctx, {"-image", v.image, "-csv", "-hostname", "ws,"});
  const std::vector<size_t> columns = quor_test::python_csv_columns(csv);
  ASSERT_EQ(columns.size(), static_cast<size_t>(std::count(csv.begin(), csv.end(), '\n')));
  ASSERT_GT(columns.size(), 100u);
  EXPECT_EQ(columns[0], 2u);  // the echo, cut once at the typed comma
  EXPECT_EQ(columns[1], 0u);
  // Twelve columns, each followed by a comma.
  for (size_t i = 2; i < columns.size(); ++i) ASSERT_EQ(columns[i], 13u) << "row " << i;
  EXPECT_NE(csv.find(",file, ld,  1,"), std::string::npos);

  user_ctx table_ctx;
  const std::vector<std::string> table = split_lines(walk_text(table_ctx, {"-image", v.image}));
  ASSERT_GT(table.size(), 100u);
  auto cells = [](const std::string& line) {
    size_t n = 1;
    for (size_t at = line.find(" | "); at != std::string::npos; at = line.find(" | ", at + 3)) ++n;
    return n;
  };
  for (size_t i = 3; i < table.size(); ++i) ASSERT_EQ(cells(table[i]), cells(table[2])) << table[i];

  user_ctx body_ctx;
  const std::string body = walk_text(body_ctx, {"-image", v.image, "-bodyfile"});
  for (const std::string& line : split_lines(body)) ASSERT_EQ(split_fields(line, '|').size(), 11u) << line;

  for (size_t i = 0; i < std::size(names); ++i) {
    SCOPED_TRACE(names[i][0]);
    EXPECT_NE(csv.find("," + dir + names[i][0] + v.tails[i] + ","), std::string::npos);
    EXPECT_NE(body.find("|" + dir + names[i][1] + v.tails[i] + " (file)|"), std::string::npos);
    size_t rows = 0;
    for (const std::string& line : table)
      rows += line.find(" | " + dir + names[i][0] + v.tails[i]) != std::string::npos;
    EXPECT_GE(rows, 2u);
  }
}

std::set<ulong64> entries_written(const std::string& out, bool csv) {
  std::set<ulong64> entries;
  for (const std::string& line : split_lines(out)) {
    const std::vector<std::string> f = split_fields(line, csv ? ',' : '|');
    if (csv && f.size() > 2 && f[0].compare(0, 2, "0x") == 0) entries.insert(std::stoull(f[0], nullptr, 16));
    if (!csv && f.size() == 11 && f[2] != "inode") entries.insert(std::stoull(f[2]));
  }
  return entries;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Name, extension, time window and deleted state select exactly the
// entries the listings give: every live match, and otherwise only names
// that left their folder (their records keep them while free).
TEST(WalkEngine, FiltersSelectTheListedEntries) {
  const std::string image = fixture("sample.img");
  if (image.empty()) GTEST_SKIP() << "fixture sample.img missing";
  const std::vector<quor_test::listing_entry> listing = quor_test::read_listing("sample");
  const std::vector<quor_test::deleted_entry> deleted = quor_test::read_deleted("sample");
  ASSERT_FALSE(listing.empty());
  // Seeds 40 to 46: created 16:00 to 22:00 on 2 May 2023, modified and
  // accessed 10 and 20 minutes later; seed 47 (東京タワー.jpg) is created at
  // 23:00, past the window. /secret-plan.txt left its folder.
  const std::set<std::string> window_paths = {"/readme.txt",
                                              "/Documents/report-2023.docx",
                                              "/Documents/notes.txt",
                                              "/Documents/budget.xlsx",
                                              "/Documents/plan-final.txt",
                                              "/Photos/Café de Flore.jpg",
                                              "/secret-plan.txt"};
  const struct {
    std::vector<std::string> args;
    std::function<bool(const std::string&)> takes;  // by path
  } cases[] = {
      {{"-filter_name", "DRAFT", "-bodyfile"},
       [](const std::string& p) { return lower(base_name(p)).find("draft") != std::string::npos; }},
      {{"-filter_ext", ".JPG", "-bodyfile"},
       [](const std::string& p) { return lower(p).size() > 4 && lower(p).substr(p.size() - 4) == ".jpg"; }},
      {{"-filter_start_time", "05/02/2023 16:00:00", "-filter_stop_time", "05/02/2023 22:59:59", "-csv"},
       [&](const std::string& p) { return window_paths.count(p) != 0; }},
  };
  for (const auto& c : cases) {
    user_ctx ctx;
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), {"-image", image});
    const std::set<ulong64> got = entries_written(walk_text(ctx, args), args.back() == "-csv");
    ASSERT_TRUE(ctx.filters_active);
    std::set<ulong64> live_matches, maybe;
    for (const auto& e : listing)
      if (c.takes(e.path)) live_matches.insert(e.inode);
    for (const auto& d : deleted)
      if (c.takes(d.path)) maybe.insert(d.inode);
    EXPECT_FALSE(live_matches.empty()) << c.args[0];
    for (ulong64 n : live_matches) EXPECT_EQ(got.count(n), 1u) << c.args[0] << " misses " << n;
    for (ulong64 n : got) EXPECT_TRUE(live_matches.count(n) || maybe.count(n)) << c.args[0] << " takes " << n;
  }

  // Deleted records only: no live entry, and every removed name whose record
  // no live entry took over.
  std::set<ulong64> live;
  for (const auto& e : listing) live.insert(e.inode);
  user_ctx ctx;
  const std::string out = walk_text(ctx, {"-image", image, "-bodyfile", "-filter_deleted_files"});
  const std::set<ulong64> got = entries_written(out, false);
  for (ulong64 n : got) EXPECT_EQ(live.count(n), 0u) << n;
  size_t free_records = 0;
  for (const auto& d : deleted) {
    if (live.count(d.inode)) continue;
    ++free_records;
    EXPECT_EQ(got.count(d.inode), 1u) << d.path;
  }
  EXPECT_GT(free_records, 0u);
  for (const std::string& line : split_lines(out))
    if (line.compare(0, 4, "md5|") != 0) {
      EXPECT_NE(line.find(" (deleted"), std::string::npos) << line;
    }
}

// Ranges of entries; without one the whole volume, its count from $MFT's
// allocated size over 1 KiB records (its data size is 3,211,264).
TEST(WalkEngine, Ranges) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  const struct {
    std::vector<std::string> range;
    std::set<ulong64> entries;
  } cases[] = {
      {{"-mftstart", "5"}, {5}},
      {{"-mftstart", "5", "-mftrange", "3"}, {5, 6, 7}},
      {{"-mftstart", "0x40", "-mftrange", "2"}, {64, 65}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    user_ctx ctx;
    std::vector<std::string> args = {"-image", image, "-csv"};
    args.insert(args.end(), c.range.begin(), c.range.end());
    const std::set<ulong64> got = entries_written(walk_text(ctx, args), true);
    if (!c.entries.empty()) {
      EXPECT_EQ(got, c.entries);
      EXPECT_EQ(ctx.mft_count, c.entries.size());
    } else {
      EXPECT_GE(ctx.mft_count, 3136u);
      EXPECT_GT(got.size(), 3000u);
      EXPECT_LT(*got.rbegin(), ctx.mft_count);
    }
  }
}

// The number of entries the walker sets out to visit, read from its first
// progress line ("analyzing entry 0 of N") while it walks in a child
// process, which is then stopped: an unbounded count shows at once, not as
// a walk that never ends. 0 when no such line came within a minute.
ulong64 walk_count_announced(const std::vector<std::string>& args) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return 0;
  std::fflush(stderr);
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child == 0) {
    // Should this test process die before it stops the walk, the walk must
    // not go on without it, holding the runner's output open.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(1);
    dup2(pipe_fds[1], 2);
    close(pipe_fds[0]);
    user_ctx ctx;
    if (quor_test::parse_walk_options(ctx, args)) {
      ctx.verbose = true;
      std::ostringstream text;
      walk_engine_run(text, ctx);
    }
    _exit(0);
  }
  close(pipe_fds[1]);
  if (child < 0) {
    close(pipe_fds[0]);
    return 0;
  }
  std::string seen;
  ulong64 count = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (count == 0 && std::chrono::steady_clock::now() < deadline) {
    pollfd p{pipe_fds[0], POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) continue;
    char buf[512];
    const ssize_t got = read(pipe_fds[0], buf, sizeof buf);
    if (got <= 0) break;
    seen.append(buf, static_cast<size_t>(got));
    const size_t at = seen.find("analyzing entry 0 of ");
    unsigned long long n = 0;
    // The number is complete once the line's padding follows it.
    if (at != std::string::npos && seen.find(' ', at + 21) != std::string::npos &&
        std::sscanf(seen.c_str() + at, "analyzing entry 0 of %llu", &n) == 1)
      count = n;
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(pipe_fds[0]);
  return count;
}

// One byte of record 0's $DATA allocated size changed (0x313000 becomes
// 0x1000000313000): the walk still visits only the entries the $MFT's runs
// map inside the volume, and writes what the undamaged walk writes. The
// claimed count is 2^38 entries: the count the walker announces is checked
// before any whole walk is made, so a lost bound fails here, at once.
TEST(WalkEngine, ClaimedMftSizeIsBoundedByItsRuns) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  const std::string damaged = quor_test::copy_fixture("default.img", "mft-size.img");
  ASSERT_FALSE(damaged.empty());
  std::string volume = quor_test::read_file_text(damaged);
  ASSERT_GT(volume.size(), 0x10000u);
  const byte* boot = reinterpret_cast<const byte*>(volume.data());
  const uint64 record0 = load_u64(boot, 0x30) * load_u16(boot, 11) * boot[13];
  ASSERT_LT(record0 + 1024, volume.size());
  const byte* record = reinterpret_cast<const byte*>(&volume[static_cast<size_t>(record0)]);
  uint32 at = load_u16(record, 0x14);
  while (at < 900 && load_u32(record, at) != 0x80) at += load_u32(record, at + 4);
  ASSERT_EQ(load_u32(record, at), 0x80u);
  ASSERT_EQ(load_u64(record, at + 0x28), 0x313000u);
  {
    std::ofstream out(damaged, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(record0 + at + 0x28 + 6));
    out.put(1);
    ASSERT_TRUE(out.good());
  }

  // fsstat's "Range: 0 - 3136": the entries the $MFT's data holds.
  ASSERT_EQ(walk_count_announced({"-image", damaged, "-csv"}), 3136u)
      << "the walk of a $MFT claiming 2^38 entries is not bounded by its runs";

  // The line that echoes the command line names the image; the rest must agree.
  auto rows = [](const std::string& text) { return text.substr(text.find('\n')); };
  user_ctx whole, patched;
  const std::string expected = walk_text(whole, {"-image", image, "-csv"});
  bool walked = false;
  const std::string got = walk_text(patched, {"-image", damaged, "-csv"}, &walked);
  EXPECT_TRUE(walked);
  EXPECT_EQ(whole.mft_count, 3136u);
  EXPECT_EQ(patched.mft_count, 3136u);
  ASSERT_GT(expected.size(), 100000u);
  EXPECT_EQ(got.size() - damaged.size(), expected.size() - image.size());
  EXPECT_TRUE(rows(got) == rows(expected));
}

// default.img whose boot sector claims 2^40 sectors and whose $MFT's own
// runs lie elsewhere or claim four billion clusters more (the claims of
// mft_claims_past_default_img). The walk goes through every run of the
// $MFT, up to the last cluster of it that the image holds and never past
// the entries the image has room for (the count it announces is checked
// first, so a lost bound fails at once), passes over the entries whose
// clusters the image does not hold, and writes what the undamaged walk
// writes for every other entry.
TEST(WalkEngine, MftRunsAndBootSectorClaimingMoreThanTheImageAreBoundedByIt) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  std::vector<std::pair<ulong64, ulong64>> real;
  ulong64 mft_pos = 0;
  {
    CNtfs* engine = nullptr;
    ASSERT_TRUE(open_ntfs_image(image.c_str(), 0, engine, false, false));
    for (const run_record& r : engine->m_mft_stats.data_runs) real.emplace_back(r.num_clusters, r.lcn);
    mft_pos = engine->m_mft_file_pos;
    delete engine;
  }
  ASSERT_EQ(real.size(), 2u);
  auto rows = [](const std::string& text) { return text.substr(text.find('\n')); };
  user_ctx whole;
  const std::string expected = walk_text(whole, {"-image", image, "-csv"});
  ASSERT_GT(expected.size(), 100000u);
  int n = 0;
  for (const quor_test::mft_claim& c : quor_test::mft_claims_past_default_img(real)) {
    SCOPED_TRACE(c.what);
    ulong64 clusters = 0;
    const std::string damaged =
        quor_test::copy_with_mft_claim("mft-claims-" + std::to_string(n++) + ".img", mft_pos, c, clusters);
    ASSERT_FALSE(damaged.empty());

    ASSERT_EQ(walk_count_announced({"-image", damaged, "-csv"}), c.entries);
    user_ctx patched;
    bool walked = false;
    const std::string got = walk_text(patched, {"-image", damaged, "-csv"}, &walked);
    EXPECT_TRUE(walked);
    EXPECT_EQ(patched.mft_count, c.entries);
    // The $MFT's own row states the size its record now claims; the rows
    // of the entries the image does not hold are not there.
    std::string want;
    for (const std::string& line : split_lines(rows(expected))) {
      const std::vector<std::string> f = split_fields(line, ',');
      const ulong64 entry = !f.empty() && f[0].compare(0, 2, "0x") == 0 ? std::stoull(f[0], nullptr, 16) : ~0ull;
      if (entry < c.missing.first || entry >= c.missing.second) want += line + "\n";
    }
    const std::string sound_size = "[root]\\$MFT,[unnamed data : sz: 0x310000]";
    const size_t at = want.find(sound_size);
    ASSERT_NE(at, std::string::npos);
    std::ostringstream claimed;
    claimed << "[root]\\$MFT,[unnamed data : sz: 0x" << std::hex << clusters * 4096 << "]";
    want.replace(at, sound_size.size(), claimed.str());
    EXPECT_TRUE(rows(got) == want);
  }
}

// Hand-built records in an extracted $MFT file: the attribute walk ends at
// the bytes in use (an attribute left behind them is not the entry's), and
// the entry count follows the record size (4 records of 1 or 4 KiB).
TEST(WalkEngine, HandBuiltRecords) {
  using quor_test::record_builder;
  const ulong64 t = 130000000000000000ull;
  for (uint32 size : {1024u, 4096u}) {
    record_builder r0(size);
    r0.non_resident(0x80, {0x11, 4, 0x10, 0}, 4ull * size);
    r0.add_file_name(1, 5 | (5ull << 48), u"$MFT", 3, t);
    record_builder r1(size);
    r1.add(0x10, 0, u"", std::vector<byte>(72, 1));
    r1.add_file_name(1, 5 | (5ull << 48), u"kept.txt", 1, t);
    r1.add(0x80, 2, u"", {'d', 'a', 't', 'a'});
    const uint32 in_use = r1.next + 8;
    r1.add_file_name(3, 5 | (5ull << 48), u"stale.txt", 1, t + 1);
    std::vector<byte> one = r1.done();
    store_u32(&one[FRH_BYTES_IN_USE], in_use);
    user_ctx ctx;
    ASSERT_TRUE(quor_test::parse_walk_options(ctx, {"-mftfile", "hand-built", "-bodyfile"}));
    quor_test::open_as_mft_file(ctx,
                                {r0.finish(), record_builder::protect(one, 0x0707), record_builder(size).finish(),
                                 record_builder(size).finish()},
                                "walk-" + std::to_string(size) + ".mft");
    std::ostringstream text;
    walk_engine_run(text, ctx);
    EXPECT_NE(text.str().find("[root]\\kept.txt (file)|1||0|0|4|"), std::string::npos) << text.str();
    EXPECT_EQ(text.str().find("stale.txt"), std::string::npos) << size;
    EXPECT_EQ(ctx.mft_count, 4u) << size;
  }
}

}  // namespace
