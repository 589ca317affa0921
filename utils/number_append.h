#pragma once
// Numbers appended to a text being built, without a temporary string: the
// output writers call these once per field of every entry.
#include <string>

#include "utils/types.h"

// Decimal, padded on the left with '0' to at least `width` digits.
inline void append_decimal_padded(std::string& out, ulong64 value, unsigned width) {
  char buf[24];
  unsigned n = 0;
  do {
    buf[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (unsigned i = n; i < width; ++i) out.push_back('0');
  while (n > 0) out.push_back(buf[--n]);
}

inline void append_decimal(std::string& out, ulong64 value) { append_decimal_padded(out, value, 0); }

// Lower-case hexadecimal, padded with `fill` to at least `width` digits; a
// wider value is written whole.
inline void append_hex_digits(std::string& out, ulong64 value, unsigned width, char fill) {
  static const char digits[] = "0123456789abcdef";
  char buf[16];
  unsigned n = 0;
  do {
    buf[n++] = digits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  for (unsigned i = n; i < width; ++i) out.push_back(fill);
  while (n > 0) out.push_back(buf[--n]);
}

// "0x" and at least `width` zero-filled lower-case hex digits.
inline void append_hex(std::string& out, ulong64 value, unsigned width) {
  out += "0x";
  append_hex_digits(out, value, width, '0');
}
