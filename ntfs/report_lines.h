#pragma once
// The labelled line every structure report writes: "(0x", the field's
// position zero-filled to the report's width, ") ", the label, the value in
// lowercase hexadecimal zero-filled to its digits. The stream is left in
// hexadecimal with fill '0', as the reports' callers expect.
//
// The fields are read from a bounded view: a field that does not lie inside
// it is not written, and the report stops there.
#include <iosfwd>
#include <string>

#include "utils/byte_order.h"
#include "utils/types.h"

struct report_lines {
  std::ostream& os;
  byte_view view;
  uint64 base;  // the position shown for view offset 0
  int width;    // digits of the position column

  report_lines(std::ostream& out, const byte_view& v, uint64 b, int w) : os(out), view(v), base(b), width(w) {}

  // The little-endian field of `size` bytes (1, 2, 4 or 8) at `off`.
  bool value(uint64 off, uint32 size, uint64& v) const;
  // "(0x" position ") " label, for the field at view offset `off`.
  void label(uint64 off, const char* text) const;
  // Label and the field in `digits` digits, without a line end.
  bool field(uint64 off, const char* text, uint32 size, int digits) const;
  // The same with a line end.
  bool line(uint64 off, const char* text, uint32 size, int digits) const;
  // A value written as the fields are: hexadecimal, zero-filled to `digits`.
  void hex(uint64 v, int digits) const;
  // A value in decimal, the stream going back to hexadecimal after it.
  void dec(uint64 v) const;
};

// The raw FILETIME in 16 digits (its label ends in "0x"), ", ( ", the
// time, " ) ".
void write_filetime_value(std::ostream& os, uint64 filetime);

// The UTF-16LE text of `units` units at `off` of `view` in UTF-8, cut to
// the units that lie inside the view.
std::string utf16le_text_in(const byte_view& view, uint64 off, uint64 units);
