// NTP timestamps: conversions, exact arithmetic checked against 128-bit
// integers on random values, field edits, the clock and the reports.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <cstring>
#include <ctime>
#include <random>
#include <set>
#include <sstream>

#include "tests/time/time_fields.h"
#include "time/zq_time.h"

using namespace time_test;

namespace {

// The 128-bit oracle exists only where the compiler has 128-bit integers
// (not on 32-bit x86); the tests that need it are left out there.
constexpr uint64 kNtpEpoch = 94354848000000000ULL;
constexpr uint32 kUnixInNtp = 2208988800u;

#ifdef __SIZEOF_INT128__
typedef unsigned __int128 u128;
typedef __int128 i128;

zq::ntp_signed signed_of(uint64 magnitude, bool negative) {
  zq::ntp_signed v(zq::make_ntp(static_cast<uint32>(magnitude >> 32), static_cast<uint32>(magnitude)));
  v.negative = negative ? 1 : 0;
  return v;
}

i128 value_of(const zq::ntp_signed& v) {
  const i128 m = (static_cast<i128>(zq::ntp_seconds(v.value)) << 32) | zq::ntp_fraction(v.value);
  return v.negative ? -m : m;
}
#endif

}  // namespace

TEST(Ntp, KnownConversions) {
  // The record holds the wire's bytes.
  const zq::ntp_timestamp wire = zq::make_ntp(0x01020304u, 0xA0B0C0D0u);
  EXPECT_EQ(std::memcmp(&wire, "\x01\x02\x03\x04\xA0\xB0\xC0\xD0", 8), 0);
  struct Case {
    uint64 filetime;
    bool ok;
    uint32 seconds, fraction;
  } cases[] = {
      {kNtpEpoch, true, 0, 0},
      {116444736005000000ULL, true, kUnixInNtp, 0x80000000u},
      {kEpoch + kSecond + 2500000, true, kUnixInNtp + 1, 0x40000000u},
      {0x8000000000000000ULL, false, 0, 0},
      {kNtpEpoch - 1, false, 0, 0},
  };
  for (const Case& c : cases) {
    zq::ntp_timestamp ts = zq::make_ntp(9, 9);
    EXPECT_EQ(zq::filetime_to_ntp(c.filetime, ts), c.ok) << c.filetime;
    EXPECT_EQ(zq::ntp_seconds(ts), c.seconds) << c.filetime;
    EXPECT_EQ(zq::ntp_fraction(ts), c.fraction) << c.filetime;
    if (!c.ok) continue;
    uint64 back = 0;
    EXPECT_TRUE(zq::ntp_to_filetime(ts, back));
    EXPECT_EQ(back, c.filetime);
  }
  // A literal 0 is the FILETIME 0, before the NTP epoch; by pointer as by value.
  zq::ntp_timestamp early = zq::make_ntp(9, 9);
  EXPECT_FALSE(zq::filetime_to_ntp(0, early));
  EXPECT_EQ(zq::ntp_seconds(early) | zq::ntp_fraction(early), 0u);
  const uint64 half = 116444736005000000ULL;
  EXPECT_TRUE(zq::filetime_to_ntp(&half, early));
  EXPECT_EQ(zq::ntp_seconds(early), kUnixInNtp);
  EXPECT_FALSE(zq::filetime_to_ntp(static_cast<const uint64*>(nullptr), early));
  EXPECT_EQ(zq::ntp_seconds(early), 0u);
  systemtime_ex st;
  EXPECT_TRUE(zq::ntp_to_systemtime(zq::make_ntp(kUnixInNtp + 86400, 0x80000000u), st));
  EXPECT_EQ(fields_of(st), "1970-01-02 00:00:00");
  EXPECT_EQ(st.wMilliseconds, 500);

  EXPECT_DOUBLE_EQ(zq::ntp_difference_seconds(zq::make_ntp(10, 0x80000000u), zq::make_ntp(12, 0)), 1.5);
  EXPECT_DOUBLE_EQ(zq::ntp_difference_seconds(zq::make_ntp(12, 0), zq::make_ntp(10, 0x80000000u)), 1.5);
}

#ifdef __SIZEOF_INT128__
TEST(Ntp, ConversionsAgreeWith128BitArithmetic) {
  std::mt19937_64 rng(108);
  const uint64 era_end = kNtpEpoch + (1ULL << 32) * kSecond;
  for (int i = 0; i < 5000; ++i) {
    const uint64 ft = kNtpEpoch + rng() % (0x7FFFFFFFFFFFFFFFULL - kNtpEpoch);
    zq::ntp_timestamp ts;
    ASSERT_TRUE(zq::filetime_to_ntp(ft, ts));
    const uint64 d = ft - kNtpEpoch;
    EXPECT_EQ(zq::ntp_seconds(ts), static_cast<uint32>(d / kSecond));
    // The exact fraction, of which the conversion keeps all but the low
    // four bits.
    const uint64 exact = static_cast<uint64>((static_cast<u128>(d % kSecond) << 32) / kSecond);
    ASSERT_LE(zq::ntp_fraction(ts), exact);
    EXPECT_LT(exact - zq::ntp_fraction(ts), 16u);
    uint64 back = 0;
    zq::ntp_to_filetime(ts, back);
    if (ft < era_end) {
      // Within the era the FILETIME comes back, at most one tick early.
      EXPECT_LE(back, ft);
      EXPECT_LE(ft - back, 1u) << ft;
    }
    const uint32 s = static_cast<uint32>(rng()), f = static_cast<uint32>(rng());
    zq::ntp_to_filetime(zq::make_ntp(s, f), back);
    const u128 want = static_cast<u128>(s) * kSecond + kNtpEpoch + (static_cast<u128>(f) * kSecond >> 32);
    EXPECT_LE(static_cast<uint64>(want) - back + 1, 2u) << s << "." << f;
  }
}

TEST(Ntp, SignedArithmeticAgreesWith128BitArithmetic) {
  std::mt19937_64 rng(2108);
  for (int i = 0; i < 20000; ++i) {
    // Magnitudes below 2^62 so that no sum leaves the 32-bit seconds; small
    // ones and equal ones often, so borrows and zero results are common.
    const int bits = 1 + static_cast<int>(rng() % 62);
    const uint64 ma = rng() >> (64 - bits);
    const uint64 mb = (rng() % 4 == 0) ? ma : rng() >> (64 - bits);
    const zq::ntp_signed a = signed_of(ma, rng() & 1);
    const zq::ntp_signed b = signed_of(mb, rng() & 1);
    const i128 va = value_of(a), vb = value_of(b);

    const zq::ntp_signed sum = zq::ntp_add(a, b);
    const zq::ntp_signed diff = zq::ntp_subtract(a, b);
    ASSERT_EQ(value_of(sum), va + vb) << ma << " " << mb;
    ASSERT_EQ(value_of(diff), va - vb) << ma << " " << mb;
    // Zero is never negative.
    EXPECT_FALSE(va - vb == 0 && diff.negative) << ma;
    EXPECT_FALSE(va + vb == 0 && sum.negative) << ma;
    EXPECT_EQ(zq::ntp_less(a, b), va < vb);

    const uint32 n = static_cast<uint32>(rng() >> (rng() % 64)) | 1u;
    zq::ntp_timestamp q = a.value;
    ASSERT_TRUE(zq::ntp_divide(q, n));
    const uint64 s = zq::ntp_seconds(a.value), f = zq::ntp_fraction(a.value);
    EXPECT_EQ(zq::ntp_seconds(q), s / n);
    EXPECT_EQ(zq::ntp_fraction(q), static_cast<uint32>((static_cast<u128>(s % n) << 32 | f) / n));
  }
  // One second over two is half a second.
  zq::ntp_signed half = signed_of(1ULL << 32, true);
  ASSERT_TRUE(zq::ntp_divide(half, 2));
  EXPECT_EQ(value_of(half), -static_cast<i128>(0x80000000u));
  EXPECT_FALSE(zq::ntp_divide(half, 0));
  EXPECT_EQ(value_of(half), -static_cast<i128>(0x80000000u));
}
#endif

TEST(Ntp, CalendarTimesAndTheClock) {
  zq::ntp_timestamp ts;
  zq::systemtime_to_ntp(make_st(1970, 1, 1, 0, 0, 1, 500), ts);
  EXPECT_EQ(zq::ntp_seconds(ts), 2208988801u);
  EXPECT_EQ(zq::ntp_fraction(ts), 0x80000000u);
  ts = zq::systemtime_to_ntp(make_st(1970, 1, 1, 0, 0, 1, 1));
  EXPECT_EQ(zq::ntp_fraction(ts), 4294960u);
  // Fields that give no positive time give no timestamp.
  EXPECT_FALSE(zq::systemtime_to_ntp(make_st(1970, 1, 1), ts));
  EXPECT_EQ(zq::ntp_seconds(ts), 0u);

  // The same clock as the timestamp's: time() reads a coarser one that can
  // still show the last second when gettimeofday already shows the next.
  timeval tv{};
  gettimeofday(&tv, nullptr);
  const long64 before = tv.tv_sec;
  const zq::ntp_timestamp now = zq::ntp_now();
  gettimeofday(&tv, nullptr);
  const long64 after = tv.tv_sec;
  EXPECT_EQ(zq::ntp_fraction(now), 0u);
  EXPECT_GE(static_cast<long64>(zq::ntp_seconds(now)) - kUnixInNtp, before);
  EXPECT_LE(static_cast<long64>(zq::ntp_seconds(now)) - kUnixInNtp, after);
}

TEST(Ntp, Reports) {
  std::ostringstream os;
  zq::write_ntp_time(os, zq::make_ntp(2208988800u, 0));
  os << "|" << zq::make_ntp(2208988801u, 0x80000000u);
  os << "|" << 255;
  EXPECT_EQ(os.str(), "83aa7e80.00000000|83aa7e81.80000000 : [01/01/1970 00:00:01.500000000 UTC]|ff");

  // The age of a timestamp 100 s away is the same on either side of now.
  for (int tries = 0; tries < 3; ++tries) {
    const zq::ntp_timestamp now = zq::ntp_now();
    std::ostringstream at, ahead, behind;
    zq::write_ntp_age(now, at);
    zq::write_ntp_age(zq::make_ntp(zq::ntp_seconds(now) + 100, 0), ahead);
    zq::write_ntp_age(zq::make_ntp(zq::ntp_seconds(now) - 100, 0), behind);
    if (zq::ntp_seconds(zq::ntp_now()) != zq::ntp_seconds(now)) continue;  // the clock ticked
    EXPECT_EQ(at.str(), "0 secs ");
    EXPECT_EQ(ahead.str(), "100 secs ");
    EXPECT_EQ(behind.str(), "100 secs ");
    break;
  }

  zq::ntp_short s;
  s.seconds = 1;
  s.fraction = 32768;
  std::ostringstream shorts;
  shorts << s;
  EXPECT_EQ(shorts.str(), "1.5 secs");
}

TEST(Ntp, FractionFillsAndBoundedCopies) {
  struct Fill {
    void (*set)(zq::ntp_timestamp&, uint32, uint32);
    uint32 count, fill, fraction;
  } fills[] = {
      {zq::ntp_set_fraction_ms, 500, 0xAABBCC, 0x80AABBCCu},
      {zq::ntp_set_fraction_ms, 1, 0xFFFFFFFF, 0x00FFFFFFu},
      {zq::ntp_set_fraction_us, 500000, 0x1234, 0x80001234u},
      {zq::ntp_set_fraction_ns, 250000000, 0xEF, 0x400000EFu},
  };
  for (const Fill& f : fills) {
    zq::ntp_timestamp t = zq::make_ntp(7, 0);
    f.set(t, f.count, f.fill);
    EXPECT_EQ(zq::ntp_fraction(t), f.fraction) << f.count;
    EXPECT_EQ(zq::ntp_seconds(t), 7u);
  }
  // A copy from a vector stops at its end.
  zq::ntp_timestamp ts = zq::make_ntp(0, 0x11223344u);
  EXPECT_EQ(zq::ntp_copy_field_tail(ts, zq::ntp_field_fraction, 2, {9, 8}, 1), 1);
  EXPECT_EQ(zq::ntp_fraction(ts), 0x11220844u);
  EXPECT_EQ(zq::ntp_copy_field_tail(ts, zq::ntp_field_fraction, 2, {9, 8}, 2), 0);
  EXPECT_EQ(zq::ntp_field_tail(ts, zq::ntp_field_fraction, 2, false), 0x08440000u);
}

TEST(Ntp, FieldEdits) {
  // Seconds less a count stop at 0 and leave the fraction alone.
  const struct {
    uint32 seconds, count, want;
  } subtractions[] = {{1000, 1, 999}, {5, 5, 0}, {5, 6, 0}, {0, 0xFFFFFFFFu, 0},
                      {0xFFFFFFFFu, 0xFFFFFFFEu, 1}, {7, 0, 7}};
  for (const auto& c : subtractions) {
    zq::ntp_timestamp t = zq::make_ntp(c.seconds, 0x12345678u);
    zq::ntp_subtract_seconds(t, c.count);
    EXPECT_EQ(zq::ntp_seconds(t), c.want) << c.seconds << " - " << c.count;
    EXPECT_EQ(zq::ntp_fraction(t), 0x12345678u);
  }

  // The last `count` bytes of one field, from the high bytes of the value;
  // a count outside 1-4 means all four. Appending copies the same bytes in
  // record (wire) order after what the vector holds.
  const struct {
    zq::ntp_field field;
    int count;
    uint32 seconds, fraction;
    std::vector<byte> appended;
  } tails[] = {
      {zq::ntp_field_seconds, 1, 0x112233ABu, 0x55667788u, {0xEE, 0x44}},
      {zq::ntp_field_seconds, 2, 0x1122ABCDu, 0x55667788u, {0xEE, 0x33, 0x44}},
      {zq::ntp_field_seconds, 3, 0x11ABCDEFu, 0x55667788u, {0xEE, 0x22, 0x33, 0x44}},
      {zq::ntp_field_fraction, 3, 0x11223344u, 0x55ABCDEFu, {0xEE, 0x66, 0x77, 0x88}},
      {zq::ntp_field_fraction, 4, 0x11223344u, 0xABCDEF01u, {0xEE, 0x55, 0x66, 0x77, 0x88}},
      {zq::ntp_field_fraction, 0, 0x11223344u, 0xABCDEF01u, {0xEE, 0x55, 0x66, 0x77, 0x88}},
      {zq::ntp_field_seconds, 5, 0xABCDEF01u, 0x55667788u, {0xEE, 0x11, 0x22, 0x33, 0x44}},
      {zq::ntp_field_seconds, -1, 0xABCDEF01u, 0x55667788u, {0xEE, 0x11, 0x22, 0x33, 0x44}},
  };
  for (const auto& c : tails) {
    zq::ntp_timestamp t = zq::make_ntp(0x11223344u, 0x55667788u);
    std::vector<byte> out = {0xEE};
    zq::ntp_append_field_tail(out, t, c.field, c.count);
    EXPECT_EQ(out, c.appended) << c.field << " " << c.count;
    zq::ntp_set_field_tail(t, c.field, c.count, 0xABCDEF01u);
    EXPECT_EQ(zq::ntp_seconds(t), c.seconds) << c.field << " " << c.count;
    EXPECT_EQ(zq::ntp_fraction(t), c.fraction) << c.field << " " << c.count;
  }
}

TEST(Ntp, JitterWrapsAsTheFieldsDo) {
  zq::ntp_timestamp t = zq::make_ntp(9, 0xFFFFFF00u);
  zq::ntp_jitter_fraction(t, 15, 255);
  EXPECT_EQ(zq::ntp_fraction(t), 0xEFFu);
  EXPECT_EQ(zq::ntp_seconds(t), 9u);
  const struct {
    uint32 seconds;
    byte shift;
    uint32 want;
  } moves[] = {{1000, 2, 1002}, {1000, 127, 1127}, {1000, 128, 872}, {5, 200, 0xFFFFFF3Du}, {0xFFFFFFFFu, 3, 2}};
  for (const auto& m : moves) {
    zq::ntp_timestamp r = zq::make_ntp(m.seconds, 1);
    zq::ntp_jitter_replace(r, 0xCAFEF00Du, m.shift);
    EXPECT_EQ(zq::ntp_seconds(r), m.want) << int(m.shift);
    EXPECT_EQ(zq::ntp_fraction(r), 0xCAFEF00Du);
  }
}

TEST(Ntp, JitterDrawsStayInTheirRanges) {
  std::set<uint32> coarse, fractions;
  bool back = false, on = false;
  for (int i = 0; i < 2000; ++i) {
    zq::ntp_timestamp t = zq::make_ntp(1000, 0x10000000u);
    zq::ntp_jitter_fraction(t);
    const uint32 added = zq::ntp_fraction(t) - 0x10000000u;
    ASSERT_EQ(zq::ntp_seconds(t), 1000u);
    ASSERT_GE(added >> 8, 1u);
    ASSERT_LE(added >> 8, 15u);
    ASSERT_GE(added & 0xFF, 1u);
    coarse.insert(added >> 8);

    zq::ntp_timestamp r = zq::make_ntp(1000, 0);
    zq::ntp_jitter_replace(r);
    const int moved = static_cast<int>(zq::ntp_seconds(r)) - 1000;
    ASSERT_TRUE((moved >= 2 && moved <= 127) || (moved >= -255 && moved <= -128)) << moved;
    (moved > 0 ? on : back) = true;
    fractions.insert(zq::ntp_fraction(r));
  }
  // Every coarse step is drawn, both directions occur, fractions vary.
  EXPECT_EQ(coarse.size(), 15u);
  EXPECT_TRUE(on && back);
  EXPECT_GT(fractions.size(), 1900u);
}

TEST(Ntp, WordAndRecordFormsAndOrdering) {
  const uint64 ft = kEpoch + kSecond + 2500000;  // 1970-01-01 00:00:01.25
  zq::ntp_timestamp words = zq::make_ntp(9, 9);
  ASSERT_TRUE(zq::filetime_to_ntp(static_cast<uint32>(ft), static_cast<uint32>(ft >> 32), words));
  const zq::ntp_timestamp returned = zq::filetime_to_ntp(ft);
  for (const zq::ntp_timestamp& ts : {words, returned}) {
    EXPECT_EQ(zq::ntp_seconds(ts), kUnixInNtp + 1);
    EXPECT_EQ(zq::ntp_fraction(ts), 0x40000000u);
  }
  EXPECT_FALSE(zq::filetime_to_ntp(0, 0x80000000u, words));
  EXPECT_EQ(zq::ntp_seconds(words) | zq::ntp_fraction(words), 0u);
  const zq::ntp_timestamp refused = zq::filetime_to_ntp(kNtpEpoch - 1);
  EXPECT_EQ(zq::ntp_seconds(refused) | zq::ntp_fraction(refused), 0u);

  uint64 filetime = 0, whole = 0;
  double ticks = -1;
  ASSERT_TRUE(zq::ntp_to_filetime(returned, filetime, whole, ticks));
  EXPECT_TRUE(filetime == ft && whole == kEpoch + kSecond);
  EXPECT_DOUBLE_EQ(ticks, 2500000.0);
  // 0xFFFFFFFF / 2^32 s is 9999999.997... ticks: the FILETIME keeps the whole ticks.
  ASSERT_TRUE(zq::ntp_to_filetime(zq::make_ntp(0, 0xFFFFFFFFu), filetime, whole, ticks));
  EXPECT_TRUE(whole == kNtpEpoch && filetime == kNtpEpoch + 9999999);
  EXPECT_NEAR(ticks, 9999999.99767, 1e-4);

  // Host-order comparison: the seconds first, the fraction only on a tie;
  // values whose wire bytes order differently show a byte-wise comparison.
  const struct {
    uint32 as, af, bs, bf;
    bool less;
  } rows[] = {
      {1, 0xFFFFFFFFu, 2, 0, true}, {2, 0, 1, 0xFFFFFFFFu, false}, {5, 1, 5, 2, true},
      {5, 2, 5, 1, false},          {5, 2, 5, 2, false},           {0x000000FFu, 0, 0x00000100u, 0, true},
      {3, 0x000000FFu, 3, 0x00000100u, true},
  };
  for (const auto& r : rows)
    EXPECT_EQ(zq::ntp_less(zq::make_ntp(r.as, r.af), zq::make_ntp(r.bs, r.bf)), r.less) << r.as << "." << r.af;
}
