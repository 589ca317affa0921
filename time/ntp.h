#pragma once
// NTP timestamps: 32-bit seconds since 1900-01-01 00:00:00 UTC and a 32-bit
// fraction in units of 2^-32 s, each held in wire (big-endian) order, as
// they travel. Conversions to and from FILETIMEs, signed arithmetic on them,
// edits of single fields and bytes, the clock's NTP time, and their reports.
#include <ostream>
#include <type_traits>
#include <vector>

#include "time/systemtime.h"

namespace zq {

// FILETIME ticks from 1601-01-01 to the NTP epoch 1900-01-01.
constexpr uint64 ntp_epoch_ticks = 94354848000000000ULL;

struct ntp_timestamp {
  uint32 seconds = 0;  // wire order
  uint32 fraction = 0;  // wire order
};

// A magnitude and a sign; zero is never negative.
struct ntp_signed {
  ntp_timestamp value;
  uint8 negative = 0;

  ntp_signed() = default;
  explicit ntp_signed(const ntp_timestamp& v) : value(v) {}
};

// NTP short format, host order.
struct ntp_short {
  uint16 seconds = 0;
  uint16 fraction = 0;
};

// The four bytes of a word reversed.
uint32 ntp_word_swap(uint32 word);
// The fields in host order, and a record from host-order fields.
uint32 ntp_seconds(const ntp_timestamp& ts);
uint32 ntp_fraction(const ntp_timestamp& ts);
ntp_timestamp make_ntp(uint32 seconds, uint32 fraction);

// False, with an all-zero record, for a FILETIME before 1900 or negative as a
// signed number. Seconds wrap modulo 2^32 (the NTP era of 2036).
bool filetime_to_ntp(uint64 filetime, ntp_timestamp& out);
// Through a pointer: a null one gives false and an all-zero record. A
// template that takes only pointers to a FILETIME, so that a literal 0 is the
// FILETIME 0 rather than an ambiguous null pointer.
template <class T, std::enable_if_t<std::is_same<std::remove_cv_t<T>, uint64>::value, int> = 0>
bool filetime_to_ntp(T* filetime, ntp_timestamp& out) {
  if (filetime == nullptr) {
    out = ntp_timestamp();
    return false;
  }
  return filetime_to_ntp(*filetime, out);
}
bool filetime_to_ntp(uint32 low, uint32 high, ntp_timestamp& out);
ntp_timestamp filetime_to_ntp(uint64 filetime);
// The fraction's ticks are truncated, so a FILETIME comes back at most one
// tick early.
bool ntp_to_filetime(ntp_timestamp ts, uint64& filetime);
bool ntp_to_filetime(ntp_timestamp ts, uint64& filetime, uint64& whole_seconds,
                     double& fraction_ticks);
bool ntp_to_systemtime(const ntp_timestamp& ts, systemtime_ex& out);
// The fields read as UTC, milliseconds included; all zero when they give no
// positive Unix time.
bool systemtime_to_ntp(const _windows_systemtime& st, ntp_timestamp& out);
ntp_timestamp systemtime_to_ntp(const _windows_systemtime& st);
// The clock's whole second; the fraction is 0.
ntp_timestamp ntp_now();

// |a - b| in seconds.
double ntp_difference_seconds(const ntp_timestamp& a, const ntp_timestamp& b);
bool ntp_less(const ntp_timestamp& a, const ntp_timestamp& b);

// Exact signed arithmetic on the 64-bit magnitudes (seconds.fraction); a
// magnitude past 2^32 seconds wraps as the seconds field does.
ntp_signed ntp_add(const ntp_signed& a, const ntp_signed& b);
ntp_signed ntp_subtract(const ntp_signed& a, const ntp_signed& b);
bool ntp_less(const ntp_signed& a, const ntp_signed& b);
// The whole value divided by n: fraction' = ((seconds mod n) x 2^32 +
// fraction) / n. False, value unchanged, for n 0.
bool ntp_divide(ntp_timestamp& ts, uint32 n);
bool ntp_divide(ntp_signed& v, uint32 n);
// v +/- the NTP time of a FILETIME or of calendar fields read as UTC.
ntp_signed ntp_add_filetime(const ntp_signed& v, uint64 filetime);
ntp_signed ntp_subtract_filetime(const ntp_signed& v, uint64 filetime);
ntp_signed ntp_add_systemtime(const ntp_signed& v, const _windows_systemtime& st);
ntp_signed ntp_subtract_systemtime(const ntp_signed& v, const _windows_systemtime& st);

// Field edits. The addend is in host order unless `wire_order` says it was
// taken from a record; the fraction wraps without carrying into the seconds.
void ntp_add_fraction(ntp_timestamp& ts, uint32 addend, bool wire_order);
// Seconds less `count`, stopping at 0.
void ntp_subtract_seconds(ntp_timestamp& ts, uint32 count);
// Both words byte-swapped (on a little-endian host, wire order to host
// order and back).
ntp_timestamp ntp_swapped(const ntp_timestamp& ts);
ntp_signed ntp_swapped(const ntp_signed& v);

// The fraction of a sub-second count, with its free low-order bytes (3 for
// milliseconds, 2 for microseconds, 1 for nanoseconds) taken from the low
// bytes of `fill`.
void ntp_set_fraction_ms(ntp_timestamp& ts, uint32 milliseconds, uint32 fill);
void ntp_set_fraction_us(ntp_timestamp& ts, uint32 microseconds, uint32 fill);
void ntp_set_fraction_ns(ntp_timestamp& ts, uint32 nanoseconds, uint32 fill);

// The last `count` bytes (1-4; anything else means all four) of one field.
enum ntp_field { ntp_field_seconds, ntp_field_fraction };
// Read as a big-endian number left-aligned in 32 bits, or byte-swapped.
uint32 ntp_field_tail(const ntp_timestamp& ts, ntp_field field, int count, bool swapped);
// Set from the high `count` bytes of `value` (the left-aligned form above).
void ntp_set_field_tail(ntp_timestamp& ts, ntp_field field, int count, uint32 value);
void ntp_append_field_tail(std::vector<byte>& out, const ntp_timestamp& ts, ntp_field field,
                           int count);
// Copies from src[start...], stopping at the vector's end; returns the bytes
// copied (0 when start lies beyond the end).
int ntp_copy_field_tail(ntp_timestamp& ts, ntp_field field, int count,
                        const std::vector<byte>& src, size_t start);

// Jitter from the process's random generator: the first adds (1-15) x 256
// + (1-255) to the fraction; the second replaces the fraction by a random
// 32-bit value and moves the seconds by a random byte 2-255, back by it when
// it is 128 or more, else on. Both wrap as the fields do.
void ntp_jitter_fraction(ntp_timestamp& ts);
void ntp_jitter_replace(ntp_timestamp& ts);
// The same with the draws given (coarse 1-15, fine 1-255; shift 2-255).
void ntp_jitter_fraction(ntp_timestamp& ts, byte coarse, byte fine);
void ntp_jitter_replace(ntp_timestamp& ts, uint32 fraction, byte shift);

// "<seconds + fraction / 65536> secs"
std::ostream& operator<<(std::ostream& os, const ntp_short& v);

// |ts - now| in seconds in the stream's floating-point format, then " secs ".
std::ostream& write_ntp_age(ntp_timestamp ts, std::ostream& os);
// "ssssssss.ffffffff" in hexadecimal and, for a valid time,
// " : [MM/DD/YYYY hh:mm:ss.nnnnnnnnn UTC]". The stream is left in
// hexadecimal with fill '0'.
void write_ntp_time(std::ostream& os, const ntp_timestamp& ts);
std::ostream& operator<<(std::ostream& os, const ntp_timestamp& ts);

}  // namespace zq
