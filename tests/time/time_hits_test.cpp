// Time hits: the tests of single candidates, the report line, and the
// buffer scan, which must give exactly the hits of probing every offset in
// every base, only faster.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/time/time_fields.h"
#include "time/zq_time.h"
#include "utils/byte_order.h"

using namespace time_test;

namespace {

constexpr uint64 k1990 = 122756256000000000ULL;
constexpr uint64 k2010 = 129067776000000000ULL;
constexpr uint64 k2030 = 135379296000000000ULL;
constexpr uint64 k2020 = 132223104000000000ULL;
constexpr uint64 k2021 = 132539328000000000ULL;
constexpr uint64 kGuidEpoch = 5748192000000000ULL;

uint64 unix_ft(uint64 seconds) { return kEpoch + seconds * kSecond; }

void put_le(std::vector<byte>& buf, size_t at, uint64 v, int width) {
  for (int i = 0; i < width; ++i) buf[at + i] = static_cast<byte>(v >> (8 * i));
}
void put_be(std::vector<byte>& buf, size_t at, uint64 v, int width) {
  for (int i = 0; i < width; ++i) buf[at + i] = static_cast<byte>(v >> (8 * (width - 1 - i)));
}

uint32 dos_value(int year, int month, int day, int hour, int minute, int second) {
  const uint32 date = static_cast<uint32>(((year - 1980) << 9) | (month << 5) | day);
  const uint32 clock = static_cast<uint32>((hour << 11) | (minute << 5) | (second / 2));
  return clock << 16 | date;
}

// A version-1 GUID (Windows layout) whose time is `filetime`.
void put_guid(std::vector<byte>& buf, size_t at, uint64 filetime) {
  const uint64 stamp = filetime + kGuidEpoch;
  put_le(buf, at, stamp & 0xFFFFFFFF, 4);
  put_le(buf, at + 4, (stamp >> 32) & 0xFFFF, 2);
  put_le(buf, at + 6, ((stamp >> 48) & 0x0FFF) | 0x1000, 2);
  const byte tail[8] = {0x80, 0xB4, 0x00, 0xC0, 0x4F, 0xD4, 0x30, 0xC8};
  for (int i = 0; i < 8; ++i) buf[at + 8 + i] = tail[i];
}

std::string hex_bytes(const std::vector<byte>& buf, size_t at, int size) {
  std::string out;
  char b[4];
  for (int i = 0; i < size; ++i) {
    std::snprintf(b, sizeof b, "%02x ", buf[at + i]);
    out += b;
  }
  return out;
}

// Every offset in every base, pass by pass, through the single-candidate
// tests: the scan's definition, slow and plain.
std::string reference_scan(const std::vector<byte>& buf, uint64 upper, uint64 lower, uint64 base,
                           uint8 kinds, int& count) {
  time_hit_map hits;
  count = 0;
  const size_t n = buf.size();
  const uint8 k4 = kinds & 0x28, k8 = kinds & 0x47;
  for (int be = 0; be < 2 && k4; ++be)
    for (size_t i = 0; i + 4 <= n; ++i) {
      uint32 v = load_u32(buf.data() + i);
      if (be) v = __builtin_bswap32(v);
      count += zq::match_time_kinds(hits, v, upper, lower, base + i, !be, false, k4);
    }
  for (int be = 0; be < 2 && k8; ++be)
    for (size_t i = 0; i + 8 <= n; ++i) {
      uint64 v = load_u64(buf.data() + i);
      if (be) v = __builtin_bswap64(v);
      count += zq::match_time_kinds(hits, v, upper, lower, base + i, !be, false, k8);
    }
  if (kinds & 0x80)
    for (size_t i = 0; i + 16 <= n; ++i)
      count += zq::match_guid_time(hits, buf.data() + i, upper, lower, base + i, false);
  std::ostringstream os;
  for (const auto& h : hits) zq::write_time_hit(h.second, os);
  return os.str();
}

std::string scanned(const std::vector<byte>& buf, uint64 upper, uint64 lower, uint64 base,
                    uint8 kinds, int& count) {
  std::ostringstream os;
  count = zq::scan_time_hits(os, buf, upper, lower, base, kinds);
  return os.str();
}

}  // namespace

TEST(TimeHits, ReportLine) {
  byte le[8];
  store_u64(le, kJune);
  std::ostringstream os;
  zq::write_time_hit(time_hit_record(le, kJune, 0x1005, zq::type_filetime, true, 8), os);
  zq::write_time_hit(time_hit_record(le, kJune, 0xABCDEF12, zq::type_chrome, false, 8), os);
  const byte dos[4] = {0x05, 0x00, 0x00, 0x00};
  zq::write_time_hit(time_hit_record(dos, unix_ft(1321009870), 7, zq::type_dos, true, 4), os);
  zq::write_time_hit(time_hit_record(dos, 0, 8, 16, true, 4), os);
  os << 255;
  EXPECT_EQ(os.str(),
            "001005, LE, filetime  , 06/15/20 13:45:30.250 UTC, a0 de eb 3b 1b 43 d6 01 \n"
            "abcdef12, BE, chrome    , 06/15/20 13:45:30.250 UTC, 01 d6 43 1b 3b eb de a0 \n"
            "000007, LE, dos time  , 11/11/11 11:11:10.000 LOC, 05 00 00 00 \n"
            "000008, LE,           , 00/00/00 00:00:00 UTC, 05 00 00 00 \n"
            "ff");

  // A record claiming more bytes than it holds stops at the first missing
  // one, with what came before it written.
  time_hit_record short_rec(le, kJune, 1, zq::type_filetime, true, 8);
  short_rec.bytes.resize(2);
  std::ostringstream cut;
  EXPECT_THROW(zq::write_time_hit(short_rec, cut), std::out_of_range);
  EXPECT_EQ(cut.str(), "000001, LE, filetime  , 06/15/20 13:45:30.250 UTC, a0 de ");
}

TEST(TimeHits, SingleCandidates) {
  time_hit_map hits;
  hits.emplace(1, time_hit_record());
  EXPECT_FALSE(zq::match_time_kinds(hits, 1000000000, k2030, k1990, 0, true, true, 0));
  EXPECT_TRUE(hits.empty());

  // Without clear the map keeps what it held.
  ASSERT_TRUE(zq::match_time_kinds(hits, 1000000000, k2030, k1990, 42, true, false, 0xFF));
  ASSERT_TRUE(zq::match_time_kinds(hits, 1000000000, k2030, k1990, 43, true, false, 0xFF));
  EXPECT_EQ(hits.size(), 2u);

  // A value below 2^32 is a four-byte candidate: none of the 8-byte bases.
  EXPECT_FALSE(zq::match_time_kinds(hits, 1000000000, k2030, k1990, 0, true, true, 71));
  // The NTP time of 2000-01-01 stored big-endian, read little-endian: its
  // high half is zero.
  EXPECT_FALSE(zq::match_time_kinds(hits, 0x00C217BCULL, k2030, k1990, 0, true, true, 0xFF));

  // 2^32 as Firefox and Unix, two hits in test order at one offset.
  const uint64 k2200 = unix_ft(7258118400ULL);
  ASSERT_TRUE(zq::match_time_kinds(hits, 1ULL << 32, k2200, kEpoch, 9, true, true, 12));
  ASSERT_EQ(hits.size(), 2u);
  auto it = hits.begin();
  EXPECT_TRUE(it->second.kind == zq::type_firefox && it->second.size == 8);
  EXPECT_EQ(it->second.filetime, kEpoch + 42949672960ULL);
  ++it;
  EXPECT_EQ(it->second.kind, zq::type_unix);
  EXPECT_EQ(fields_of(zq::time(it->second.filetime, zq::type_filetime)), "2106-02-07 06:28:16");

  // A window upside down holds nothing; a window of one instant holds it.
  EXPECT_FALSE(zq::match_time_kinds(hits, kJune, k2010, k2030, 0, true, true, 0xFF));
  EXPECT_TRUE(zq::match_time_kinds(hits, kJune, kJune, kJune, 0, true, true, zq::type_filetime));

  std::vector<byte> guid(16);
  put_guid(guid, 0, kJune);
  ASSERT_TRUE(zq::match_guid_time(hits, guid.data(), k2030, k2010, 3, true));
  EXPECT_EQ(hits.begin()->second.bytes, guid);
  EXPECT_TRUE(hits.begin()->second.kind == zq::type_guid && hits.begin()->second.filetime == kJune);
  guid[7] = 0x41;  // version 4
  EXPECT_FALSE(zq::match_guid_time(hits, guid.data(), k2030, k2010, 3, true));
  EXPECT_TRUE(hits.empty());
}

TEST(TimeHits, GuessFiletime) {
  const uint64 june2005 = 127620576000000000ULL;
  uint64 ft = 1, swapped = 1;
  EXPECT_TRUE(zq::guess_filetime(ft, june2005, 2030, 1990));
  EXPECT_TRUE(zq::guess_filetime(swapped, __builtin_bswap64(june2005), 2030, 1990));
  EXPECT_TRUE(ft == june2005 && swapped == june2005);
  EXPECT_FALSE(zq::guess_filetime(ft, 1000000000, 2030, 1990));
  EXPECT_EQ(ft, 0u);
  EXPECT_FALSE(zq::guess_filetime(ft, june2005, 2000, 1990));
}

TEST(TimeHits, EachBaseAtOddOffsets) {
  // One year's window and a filler of 0xFF bytes keep the values' bytes,
  // read at the wrong offsets, from reading as times inside it too.
  std::vector<byte> buf(320, 0xFF);
  struct Plant {
    size_t at;
    const char* order;
    const char* kind;
    int size;
    const char* time;
  } plants[] = {
      {5, "LE", "filetime  ", 8, "06/15/20 13:45:30.250 UTC"},
      {37, "BE", "filetime  ", 8, "03/01/20 02:03:04.001 UTC"},
      {71, "LE", "chrome    ", 8, "02/29/20 12:00:00.123 UTC"},
      {103, "BE", "firefox3  ", 8, "07/04/20 08:15:00.500 UTC"},
      {141, "LE", "ntp       ", 8, "09/10/20 11:12:13.750 UTC"},
      {181, "LE", "unix time ", 4, "11/11/20 11:11:11.000 UTC"},
      {203, "BE", "unix time ", 4, "03/29/20 14:08:13.000 UTC"},
      {229, "LE", "dos time  ", 4, "08/09/20 10:11:12.000 LOC"},
      {257, "BE", "dos time  ", 4, "12/31/20 23:59:58.000 LOC"},
      {283, "LE", "guid      ", 16, "05/05/20 05:05:05.000 UTC"},
  };
  put_le(buf, 5, kJune, 8);
  put_be(buf, 37, 132275017840010000ULL, 8);
  put_le(buf, 71, 13227451200123456ULL, 8);
  put_be(buf, 103, 1593850500500000ULL, 8);
  put_be(buf, 141, 3808725133ULL, 4);  // NTP on the wire: seconds, then fraction
  put_be(buf, 145, 0xC0000000ULL, 4);
  put_le(buf, 181, 1605093071, 4);
  put_be(buf, 200, 0x5E80ABCD, 7);  // three zero bytes before it
  put_le(buf, 229, dos_value(2020, 8, 9, 10, 11, 12), 4);
  put_be(buf, 257, dos_value(2020, 12, 31, 23, 59, 58), 4);
  put_guid(buf, 283, unix_ft(1588655105));

  std::string want;
  for (const Plant& p : plants) {
    char head[32];
    std::snprintf(head, sizeof head, "%06zx, %s, ", p.at + 0x10000, p.order);
    want += std::string(head) + p.kind + ", " + p.time + ", " + hex_bytes(buf, p.at, p.size) + "\n";
  }
  int count = 0;
  EXPECT_EQ(scanned(buf, k2021, k2020, 0x10000, 0xFF, count), want);
  EXPECT_EQ(count, 10);

  // Each base alone finds only its own.
  const struct {
    uint8 kinds;
    int hits;
  } alone[] = {{1, 2}, {2, 1}, {4, 1}, {8, 2}, {32, 2}, {64, 1}, {128, 1}, {0, 0}, {16, 0}};
  for (const auto& a : alone) {
    std::ostringstream sink;
    EXPECT_EQ(zq::scan_time_hits(sink, buf, k2021, k2020, 0, a.kinds), a.hits) << int(a.kinds);
  }
}

TEST(TimeHits, ShortBuffersAndBlocks) {
  std::vector<byte> buf(32, 0xFF);
  put_le(buf, 0, 1605093071, 4);
  put_le(buf, 8, kJune, 8);
  put_guid(buf, 16, kJune);
  std::ostringstream sink;
  const struct {
    size_t len;
    int hits;
  } lens[] = {{3, 0}, {4, 1}, {15, 1}, {16, 2}, {31, 2}, {32, 3}};
  for (const auto& l : lens) {
    std::vector<byte> cut(buf.begin(), buf.begin() + static_cast<long>(l.len));
    EXPECT_EQ(zq::scan_time_hits(sink, cut, k2021, k2020, 0, 0xFF), l.hits) << l.len;
  }
  EXPECT_EQ(zq::scan_time_hits(sink, nullptr, 8, k2021, k2020, 0, 0xFF), 0);
  EXPECT_EQ(zq::scan_time_hits(sink, buf.data(), -5, k2021, k2020, 0, 0xFF), 0);
  EXPECT_EQ(zq::scan_time_hits(sink, std::vector<byte>(), k2021, k2020, 0, 0xFF), 0);

  std::ostringstream os;
  time_scan_context ctx;
  ctx.out = &os;
  ctx.upper = k2021;
  ctx.lower = k2020;
  ctx.kinds = 0x1FF;  // only the low byte counts
  EXPECT_EQ(zq::scan_time_hits_block(0, nullptr, buf.data(), 32, 0, 0), -1);
  EXPECT_EQ(zq::scan_time_hits_block(0, &ctx, nullptr, 32, 0, 0), -1);
  EXPECT_EQ(zq::scan_time_hits_block(0, &ctx, buf.data(), 0, 0, 0), -1);
  EXPECT_EQ(ctx.hits, 0);
  // Two blocks cut through the FILETIME at 8: it is seen by neither.
  EXPECT_EQ(zq::scan_time_hits_block(0, &ctx, buf.data(), 12, 0, 0), 0);
  EXPECT_EQ(zq::scan_time_hits_block(0, &ctx, buf.data() + 12, 20, 0, 12), 0);
  EXPECT_EQ(ctx.hits, 2);
  EXPECT_EQ(os.str().substr(0, 8), "000000, ");
  EXPECT_NE(os.str().find("\n000010, LE, guid"), std::string::npos);
}

TEST(TimeHits, ScanEqualsProbingEveryOffset) {
  // A window with edges inside days and months, and a buffer thick with
  // values near those edges in every base, among random bytes.
  const uint64 lower = 130696416000000000ULL;  // 2015-03-01 00:00:00
  const uint64 upper = 132223104000000000ULL - 1;  // 2019-12-31 23:59:59.9999999
  std::mt19937_64 rng(124);
  std::vector<byte> buf(1 << 16);
  for (byte& b : buf) b = static_cast<byte>(rng());
  const uint64 unix_lo = (lower - kEpoch) / kSecond, unix_hi = (upper - kEpoch) / kSecond;
  const uint64 ntp_lo = unix_lo + 2208988800ULL, ntp_hi = unix_hi + 2208988800ULL;
  const int64_t deltas[] = {-20000000, -10000001, -1, 0, 1, 9999999, 10000000, 864000000000LL};
  for (int i = 0; i < 3000; ++i) {
    const size_t at = rng() % (buf.size() - 16);
    const bool be = rng() & 1;
    const int64_t d = deltas[rng() % 8];
    const uint64 edge = (rng() & 1) ? lower : upper;
    uint64 v = 0;
    int width = 8;
    switch (rng() % 7) {
      case 0: v = edge + d; break;
      case 1: v = (edge + d) / 10; break;
      case 2: v = (edge - kEpoch + d) / 10; break;
      case 3: v = ((rng() & 1 ? ntp_lo : ntp_hi) + d % 3) | (rng() << 32); v = __builtin_bswap64(v); break;
      case 4: v = (rng() & 1 ? unix_lo : unix_hi) + d % 3; width = 4; break;
      case 5: {
        // Days past the month's end roll into the next month.
        const int day = 28 + static_cast<int>(rng() % 4);
        v = rng() & 1 ? dos_value(2015, 2, day, 23, 59, 58) : dos_value(2019, 12, day, 23, 59, 58);
        width = 4;
        break;
      }
      default:
        put_guid(buf, at, edge + d);
        continue;
    }
    be ? put_be(buf, at, v, width) : put_le(buf, at, v, width);
  }
  for (uint8 kinds : {0xFF, 0x28, 0x47, 0x81, 0x40}) {
    int want_count = 0, count = 0;
    const std::string want = reference_scan(buf, upper, lower, 0x7000, kinds, want_count);
    ASSERT_EQ(scanned(buf, upper, lower, 0x7000, kinds, count), want) << int(kinds);
    EXPECT_EQ(count, want_count);
    EXPECT_GT(count, 200) << int(kinds);
  }
}
