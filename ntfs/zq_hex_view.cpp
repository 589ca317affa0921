#include "ntfs/zq_hex_view.h"

#include <cassert>
#include <ios>
#include <ostream>
#include <sstream>

namespace zq {

binary_data::binary_data() : m_num_data(0), m_mode(2), m_owns_data(true), m_ext_data(nullptr) {}

binary_data::binary_data(uint32 size) : binary_data(size, 0) {}

binary_data::binary_data(uint32 size, byte fill) : binary_data() {
  m_data.assign(size, fill);
  m_num_data = size;
  m_ext_data = m_data.empty() ? nullptr : m_data.data();
}

binary_data::binary_data(const std::vector<byte>& data, bool copy)
    : binary_data(data.empty() ? nullptr : data.data(), static_cast<uint32>(data.size()), copy) {}

binary_data::binary_data(const byte* data, uint32 size, bool copy) : binary_data() {
  if (!data || size == 0) return;
  m_num_data = size;
  if (copy) {
    m_data.assign(data, data + size);
    m_ext_data = m_data.data();
  } else {
    m_owns_data = false;
    m_ext_data = data;
  }
}

byte binary_data::operator()(uint32 index) const {
  assert(index < m_num_data && "index < m_num_data");
  return m_owns_data ? m_data[index] : m_ext_data[index];
}

byte& binary_data::operator()(uint32 index) {
  assert(index < m_num_data && "index < m_num_data");
  assert(m_owns_data);
  return m_data[index];
}

void binary_data::print_row(std::ostream& os, const binary_data& data, uint32 start, uint32 count, ulong64 offset,
                            bool show_offset) {
  static const char digits[] = "0123456789abcdef";
  std::string row;
  if (show_offset) {
    const int top = (offset >> 48) ? 4 : (offset >> 32) ? 3 : 2;
    for (int g = top - 1; g >= 0; --g) {
      const uint32 group = static_cast<uint32>(offset >> (16 * g)) & 0xFFFF;
      for (int d = 3; d >= 0; --d) row += digits[(group >> (4 * d)) & 0xF];
      if (g) row += ' ';
    }
    row += ":  ";
  }
  for (uint32 i = 0; i < count; ++i) {
    if (i && i % 8 == 0) row += ' ';
    const byte b = data(start + i);
    row += digits[b >> 4];
    row += digits[b & 0xF];
    row += ' ';
  }
  if (count < 16) {
    const uint32 fill = 3 * (16 - count);
    row.append(fill + (fill >= 24 ? 1 : 0), ' ');
  }
  row += ' ';
  for (uint32 i = 0; i < count; ++i) {
    const byte b = data(start + i);
    row += (b >= 0x20 && b <= 0x7E) ? static_cast<char>(b) : '.';
  }
  os << row;
}

void binary_data::format_rows(std::string& out, const binary_data& data, uint32 start, uint32 end, ulong64 base,
                              bool show_offset) {
  out.clear();
  if (end > data.get_num_data()) end = data.get_num_data();
  if (start >= end) return;
  std::ostringstream os;
  for (ulong64 k = 0; start + 16 * k < end; ++k) {
    const uint32 row_start = static_cast<uint32>(start + 16 * k);
    const uint32 count = end - row_start < 16 ? end - row_start : 16;
    print_row(os, data, row_start, count, base + 16 * k, show_offset);
    os << "\n";
  }
  out = os.str();
}

void hex_dump_limited(const byte* data, uint32 size, std::ostream& os, uint32 start, ulong64 base) {
  if (size > 0x1000000) {
    os << "size to big to output: size 0x" << std::hex << size << "\n";
    return;
  }
  binary_data view(data, size, false);
  std::string text;
  binary_data::format_rows(text, view, start, size, base, true);
  os << text;
}

}  // namespace zq
