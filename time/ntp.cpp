#include "time/ntp.h"

#include <cstring>

#include "time/zq_time.h"
#include "utils/random_text.h"

namespace {

uint32 to_wire(uint32 host) {
  const byte b[4] = {static_cast<byte>(host >> 24), static_cast<byte>(host >> 16),
                     static_cast<byte>(host >> 8), static_cast<byte>(host)};
  uint32 wire;
  std::memcpy(&wire, b, 4);
  return wire;
}

uint32 from_wire(uint32 wire) {
  byte b[4];
  std::memcpy(b, &wire, 4);
  return (static_cast<uint32>(b[0]) << 24) | (static_cast<uint32>(b[1]) << 16) |
         (static_cast<uint32>(b[2]) << 8) | b[3];
}

// seconds.fraction as one 64-bit number of 2^-32 s units.
uint64 magnitude(const zq::ntp_timestamp& ts) {
  return (static_cast<uint64>(zq::ntp_seconds(ts)) << 32) | zq::ntp_fraction(ts);
}

zq::ntp_timestamp from_magnitude(uint64 m) {
  return zq::make_ntp(static_cast<uint32>(m >> 32), static_cast<uint32>(m));
}

zq::ntp_signed make_signed(uint64 m, bool negative) {
  zq::ntp_signed r;
  r.value = from_magnitude(m);
  r.negative = (negative && m != 0) ? 1 : 0;
  return r;
}

bool is_negative(const zq::ntp_signed& v) { return v.negative && magnitude(v.value) != 0; }

uint32& field_of(zq::ntp_timestamp& ts, zq::ntp_field field) {
  return field == zq::ntp_field_seconds ? ts.seconds : ts.fraction;
}

int tail_count(int count) { return (count >= 1 && count <= 4) ? count : 4; }

// A field's four bytes as the record holds them: wire order, so the last
// `count` of them are the field's low-order bytes.
void field_bytes(const zq::ntp_timestamp& ts, zq::ntp_field field, byte out[4]) {
  std::memcpy(out, field == zq::ntp_field_seconds ? &ts.seconds : &ts.fraction, 4);
}

void set_field_bytes(zq::ntp_timestamp& ts, zq::ntp_field field, const byte in[4]) {
  std::memcpy(&field_of(ts, field), in, 4);
}

// A sub-second count (of 1/per_second s) in units of 2^-32 s, keeping the
// low 32 bits. Integer arithmetic: a binary floating-point factor such as
// 4294.967296 is inexact, and on x87 (32-bit x86) 500000 us came out one
// unit short of half a second.
uint32 scaled_fraction(uint32 count, uint32 per_second) {
  return static_cast<uint32>((static_cast<uint64>(count) << 32) / per_second);
}

void set_fraction_filled(zq::ntp_timestamp& ts, uint32 fraction, uint32 fill, int free_bytes) {
  const uint32 mask = (1u << (8 * free_bytes)) - 1;
  ts.fraction = to_wire((fraction & ~mask) | (fill & mask));
}

}  // namespace

namespace zq {

uint32 ntp_word_swap(uint32 word) {
  return (word >> 24) | ((word >> 8) & 0xFF00u) | ((word << 8) & 0xFF0000u) | (word << 24);
}

uint32 ntp_seconds(const ntp_timestamp& ts) { return from_wire(ts.seconds); }
uint32 ntp_fraction(const ntp_timestamp& ts) { return from_wire(ts.fraction); }

ntp_timestamp make_ntp(uint32 seconds, uint32 fraction) {
  ntp_timestamp ts;
  ts.seconds = to_wire(seconds);
  ts.fraction = to_wire(fraction);
  return ts;
}

bool filetime_to_ntp(uint64 filetime, ntp_timestamp& out) {
  out = ntp_timestamp();
  // Before 1900 the unsigned distance would wrap to a meaningless count.
  if (static_cast<long64>(filetime) < 0 || filetime < ntp_epoch_ticks) return false;
  const uint64 d = filetime - ntp_epoch_ticks;
  const uint64 rest = d % ticks_per_second;
  // rest x 2^32 would pass 64 bits only for huge rests; 2^28 keeps it inside
  // and costs the fraction its low four bits.
  const uint64 fraction = ((rest << 28) / ticks_per_second) << 4;
  out = make_ntp(static_cast<uint32>(d / ticks_per_second), static_cast<uint32>(fraction));
  return true;
}

bool filetime_to_ntp(uint32 low, uint32 high, ntp_timestamp& out) {
  return filetime_to_ntp(u64_from_words(low, high), out);
}

ntp_timestamp filetime_to_ntp(uint64 filetime) {
  ntp_timestamp ts;
  filetime_to_ntp(filetime, ts);
  return ts;
}

bool ntp_to_filetime(ntp_timestamp ts, uint64& filetime) {
  uint64 whole = 0;
  double ticks = 0;
  return ntp_to_filetime(ts, filetime, whole, ticks);
}

bool ntp_to_filetime(ntp_timestamp ts, uint64& filetime, uint64& whole_seconds,
                     double& fraction_ticks) {
  whole_seconds = static_cast<uint64>(ntp_seconds(ts)) * ticks_per_second + ntp_epoch_ticks;
  fraction_ticks = static_cast<double>(ntp_fraction(ts)) * 10000000.0 / 4294967296.0;
  filetime = whole_seconds + static_cast<uint64>(fraction_ticks);
  return true;
}

bool ntp_to_systemtime(const ntp_timestamp& ts, systemtime_ex& out) {
  uint64 filetime = 0;
  ntp_to_filetime(ts, filetime);
  return filetime_to_tm(filetime, out);
}

bool systemtime_to_ntp(const _windows_systemtime& st, ntp_timestamp& out) {
  uint64 filetime = 0;
  systemtime_to_filetime(filetime, st);
  return filetime_to_ntp(filetime, out);
}

ntp_timestamp systemtime_to_ntp(const _windows_systemtime& st) {
  ntp_timestamp ts;
  systemtime_to_ntp(st, ts);
  return ts;
}

double ntp_difference_seconds(const ntp_timestamp& a, const ntp_timestamp& b) {
  const long double unit = 1.0L / 4294967296.0L;
  const long double x = ntp_seconds(a) + ntp_fraction(a) * unit;
  const long double y = ntp_seconds(b) + ntp_fraction(b) * unit;
  return static_cast<double>(x > y ? x - y : y - x);
}

bool ntp_less(const ntp_timestamp& a, const ntp_timestamp& b) { return magnitude(a) < magnitude(b); }

ntp_signed ntp_add(const ntp_signed& a, const ntp_signed& b) {
  const uint64 ma = magnitude(a.value);
  const uint64 mb = magnitude(b.value);
  const bool na = is_negative(a);
  const bool nb = is_negative(b);
  if (na == nb) return make_signed(ma + mb, na);
  return ma >= mb ? make_signed(ma - mb, na) : make_signed(mb - ma, nb);
}

ntp_signed ntp_subtract(const ntp_signed& a, const ntp_signed& b) {
  ntp_signed negated = b;
  negated.negative = is_negative(b) ? 0 : 1;
  return ntp_add(a, negated);
}

bool ntp_less(const ntp_signed& a, const ntp_signed& b) {
  const bool na = is_negative(a);
  const bool nb = is_negative(b);
  if (na != nb) return na;
  const uint64 ma = magnitude(a.value);
  const uint64 mb = magnitude(b.value);
  return na ? ma > mb : ma < mb;
}

bool ntp_divide(ntp_timestamp& ts, uint32 n) {
  if (n == 0) return false;
  ts = from_magnitude(magnitude(ts) / n);
  return true;
}

bool ntp_divide(ntp_signed& v, uint32 n) {
  if (!ntp_divide(v.value, n)) return false;
  if (magnitude(v.value) == 0) v.negative = 0;
  return true;
}

ntp_signed ntp_add_filetime(const ntp_signed& v, uint64 filetime) {
  return ntp_add(v, ntp_signed(filetime_to_ntp(filetime)));
}

ntp_signed ntp_subtract_filetime(const ntp_signed& v, uint64 filetime) {
  return ntp_subtract(v, ntp_signed(filetime_to_ntp(filetime)));
}

ntp_signed ntp_add_systemtime(const ntp_signed& v, const _windows_systemtime& st) {
  return ntp_add(v, ntp_signed(systemtime_to_ntp(st)));
}

ntp_signed ntp_subtract_systemtime(const ntp_signed& v, const _windows_systemtime& st) {
  return ntp_subtract(v, ntp_signed(systemtime_to_ntp(st)));
}

void ntp_add_fraction(ntp_timestamp& ts, uint32 addend, bool wire_order) {
  ts.fraction = to_wire(ntp_fraction(ts) + (wire_order ? from_wire(addend) : addend));
}

void ntp_subtract_seconds(ntp_timestamp& ts, uint32 count) {
  const uint32 s = ntp_seconds(ts);
  ts.seconds = to_wire(s > count ? s - count : 0);
}

ntp_timestamp ntp_swapped(const ntp_timestamp& ts) {
  ntp_timestamp r;
  r.seconds = ntp_word_swap(ts.seconds);
  r.fraction = ntp_word_swap(ts.fraction);
  return r;
}

ntp_signed ntp_swapped(const ntp_signed& v) {
  ntp_signed r = v;
  r.value = ntp_swapped(v.value);
  return r;
}

void ntp_set_fraction_ms(ntp_timestamp& ts, uint32 milliseconds, uint32 fill) {
  set_fraction_filled(ts, scaled_fraction(milliseconds, 1000), fill, 3);
}

void ntp_set_fraction_us(ntp_timestamp& ts, uint32 microseconds, uint32 fill) {
  set_fraction_filled(ts, scaled_fraction(microseconds, 1000000), fill, 2);
}

void ntp_set_fraction_ns(ntp_timestamp& ts, uint32 nanoseconds, uint32 fill) {
  set_fraction_filled(ts, scaled_fraction(nanoseconds, 1000000000), fill, 1);
}

uint32 ntp_field_tail(const ntp_timestamp& ts, ntp_field field, int count, bool swapped) {
  const int c = tail_count(count);
  byte b[4];
  field_bytes(ts, field, b);
  uint32 v = 0;
  for (int i = 0; i < c; ++i) v |= static_cast<uint32>(b[4 - c + i]) << (24 - 8 * i);
  return swapped ? ntp_word_swap(v) : v;
}

void ntp_set_field_tail(ntp_timestamp& ts, ntp_field field, int count, uint32 value) {
  const int c = tail_count(count);
  byte b[4];
  field_bytes(ts, field, b);
  for (int i = 0; i < c; ++i) b[4 - c + i] = static_cast<byte>(value >> (24 - 8 * i));
  set_field_bytes(ts, field, b);
}

void ntp_append_field_tail(std::vector<byte>& out, const ntp_timestamp& ts, ntp_field field,
                           int count) {
  const int c = tail_count(count);
  byte b[4];
  field_bytes(ts, field, b);
  out.insert(out.end(), b + 4 - c, b + 4);
}

int ntp_copy_field_tail(ntp_timestamp& ts, ntp_field field, int count,
                        const std::vector<byte>& src, size_t start) {
  const int c = tail_count(count);
  if (start >= src.size()) return 0;
  byte b[4];
  field_bytes(ts, field, b);
  int copied = 0;
  for (; copied < c && start + static_cast<size_t>(copied) < src.size(); ++copied)
    b[4 - c + copied] = src[start + static_cast<size_t>(copied)];
  set_field_bytes(ts, field, b);
  return copied;
}

void ntp_jitter_fraction(ntp_timestamp& ts, byte coarse, byte fine) {
  ts.fraction = to_wire(ntp_fraction(ts) + static_cast<uint32>(coarse) * 256u + fine);
}

void ntp_jitter_replace(ntp_timestamp& ts, uint32 fraction, byte shift) {
  const uint32 seconds = ntp_seconds(ts);
  ts.seconds = to_wire(shift >= 128 ? seconds - shift : seconds + shift);
  ts.fraction = to_wire(fraction);
}

void ntp_jitter_fraction(ntp_timestamp& ts) {
  const byte coarse = random_byte(1, 15);
  ntp_jitter_fraction(ts, coarse, random_byte(1, 255));
}

void ntp_jitter_replace(ntp_timestamp& ts) {
  const uint32 fraction = random_u32();
  ntp_jitter_replace(ts, fraction, random_byte(2, 255));
}

std::ostream& operator<<(std::ostream& os, const ntp_short& v) {
  return os << (v.seconds + v.fraction / 65536.0) << " secs";
}

}  // namespace zq
