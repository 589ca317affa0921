#include "ntfs/report_lines.h"

#include <iomanip>
#include <ostream>

#include "ntfs/index_node.h"
#include "time/zq_time.h"
#include "time/time_format.h"

bool report_lines::value(uint64 off, uint32 size, uint64& v) const {
  v = 0;
  if (!view.has(off, size)) return false;
  for (uint32 i = size; i > 0; --i) v = (v << 8) | view.data[off + i - 1];
  return true;
}

void report_lines::label(uint64 off, const char* text) const {
  os << std::hex << std::setfill('0') << "(0x" << std::setw(width) << base + off << ") " << text;
}

bool report_lines::field(uint64 off, const char* text, uint32 size, int digits) const {
  uint64 v = 0;
  if (!value(off, size, v)) return false;
  label(off, text);
  hex(v, digits);
  return true;
}

bool report_lines::line(uint64 off, const char* text, uint32 size, int digits) const {
  if (!field(off, text, size, digits)) return false;
  os << "\n";
  return true;
}

void report_lines::hex(uint64 v, int digits) const { os << std::hex << std::setfill('0') << std::setw(digits) << v; }

void report_lines::dec(uint64 v) const { os << std::dec << v << std::hex; }

void write_filetime_value(std::ostream& os, uint64 filetime) {
  os << std::hex << std::setfill('0') << std::setw(16) << filetime << ", ( "
     << zq::time(filetime, zq::type_filetime) << " ) ";
}

std::string utf16le_text_in(const byte_view& view, uint64 off, uint64 units) {
  std::string text;
  if (!view.data || off >= view.size) return text;
  const uint64 room = (view.size - off) / 2;
  if (units > room) units = room;
  utf16le_name_to_utf8(text, view.data + off, static_cast<uint32>(units));
  return text;
}
