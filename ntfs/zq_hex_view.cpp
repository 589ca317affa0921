#include "ntfs/zq_hex_view.h"

#include <cstring>
#include <fstream>
#include <iomanip>
#include <ios>
#include <new>
#include <ostream>

#include "utils/assertion.h"
#include "utils/output_file.h"

namespace zq {

namespace {

const char k_digits[] = "0123456789abcdef";
const uint32 k_row_bytes = 16;
const uint32 k_ascii_row_bytes = 48;
// Rows are gathered into one text and handed to the stream in pieces of
// about this size, not one stream call per row.
const size_t k_flush_size = 1 << 16;

enum offset_style { no_offset, colon_offset, wide_offset };

// Saves the stream's format flags and puts them back on every way out.
struct flags_guard {
  std::ostream& os;
  std::ios_base::fmtflags flags;
  explicit flags_guard(std::ostream& s) : os(s), flags(s.flags()) {}
  ~flags_guard() { os.flags(flags); }
};

// The range [start, start + count) cut to the view's bytes.
uint32 clamped_count(const binary_data& data, uint32 start, uint32 count) {
  const uint32 n = data.get_num_data();
  if (start >= n) return 0;
  return count < n - start ? count : n - start;
}

uint32 clamped_end(const binary_data& data, uint32 end) {
  return end < data.get_num_data() ? end : data.get_num_data();
}

char shown_char(byte b) { return (b >= 0x20 && b <= 0x7E) ? static_cast<char>(b) : '.'; }

void append_hex4(std::string& out, uint32 group) {
  for (int d = 3; d >= 0; --d) out += k_digits[(group >> (4 * d)) & 0xF];
}

// The characters of one row; `count` already lies inside the view.
void append_row(std::string& row, const binary_data& data, uint32 start, uint32 count, ulong64 offset,
                offset_style style) {
  if (style != no_offset) {
    const int groups = (offset >> 48) ? 4 : (offset >> 32) ? 3 : 2;
    for (int g = groups - 1; g >= 0; --g) {
      append_hex4(row, static_cast<uint32>(offset >> (16 * g)) & 0xFFFF);
      if (style == wide_offset || g) row += ' ';
    }
    if (style == colon_offset) row += ":  ";
  }
  for (uint32 i = 0; i < count; ++i) {
    if (i && i % 8 == 0) row += ' ';
    const byte b = data(start + i);
    row += k_digits[b >> 4];
    row += k_digits[b & 0xF];
    row += ' ';
  }
  if (count < k_row_bytes) {
    const uint32 fill = 3 * (k_row_bytes - count);
    row.append(fill + (fill >= 24 ? 1 : 0), ' ');
  }
  row += ' ';
  for (uint32 i = 0; i < count; ++i) row += shown_char(data(start + i));
}

// Rows of [start, end) labelled from base, each followed by `line_end`.
template <typename Sink>
void for_each_row(const binary_data& data, uint32 start, uint32 end, ulong64 base, offset_style style,
                  binary_data::progress_callback callback, void* ctx, std::string& text, Sink flush) {
  for (ulong64 k = 0; static_cast<ulong64>(start) + k_row_bytes * k < end; ++k) {
    const uint32 row_start = static_cast<uint32>(start + k_row_bytes * k);
    const uint32 count = end - row_start < k_row_bytes ? end - row_start : k_row_bytes;
    append_row(text, data, row_start, count, base + k_row_bytes * k, style);
    flush(text);
    if (callback) callback(ctx, row_start, end);
  }
}

void write_utf16le(std::ostream& os, const std::string& text) {
  std::string wide(2 * text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) wide[2 * i] = text[i];
  os.write(wide.data(), static_cast<std::streamsize>(wide.size()));
}

}  // namespace

binary_data::binary_data() : m_num_data(0), m_mode(2), m_owns_data(true), m_ext_data(nullptr) {}

binary_data::binary_data(uint32 size) : binary_data(size, 0) {}

binary_data::binary_data(uint32 size, byte fill) : binary_data() {
  m_data.assign(size, fill);
  m_num_data = size;
  repoint();
}

binary_data::binary_data(const std::vector<byte>& data, bool copy)
    : binary_data(data.empty() ? nullptr : data.data(), static_cast<uint32>(data.size()), copy) {}

binary_data::binary_data(const byte* data, uint32 size, bool copy) : binary_data() {
  if (!data || size == 0) return;
  m_num_data = size;
  if (copy) {
    m_data.assign(data, data + size);
    repoint();
  } else {
    m_owns_data = false;
    m_ext_data = data;
  }
}

binary_data::binary_data(const binary_data& other)
    : m_num_data(other.m_num_data),
      m_data(other.m_data),
      m_mode(other.m_mode),
      m_owns_data(other.m_owns_data),
      m_ext_data(other.m_ext_data) {
  repoint();
}

binary_data::binary_data(binary_data&& other) noexcept
    : m_num_data(other.m_num_data),
      m_data(std::move(other.m_data)),
      m_mode(other.m_mode),
      m_owns_data(other.m_owns_data),
      m_ext_data(other.m_ext_data) {
  repoint();
  other.m_num_data = 0;
  other.m_data.clear();
  other.m_owns_data = true;
  other.m_ext_data = nullptr;
}

binary_data& binary_data::operator=(const binary_data& other) {
  if (this != &other) {
    m_num_data = other.m_num_data;
    m_data = other.m_data;
    m_mode = other.m_mode;
    m_owns_data = other.m_owns_data;
    m_ext_data = other.m_ext_data;
    repoint();
  }
  return *this;
}

binary_data& binary_data::operator=(binary_data&& other) noexcept {
  if (this != &other) {
    m_num_data = other.m_num_data;
    m_data = std::move(other.m_data);
    m_mode = other.m_mode;
    m_owns_data = other.m_owns_data;
    m_ext_data = other.m_ext_data;
    repoint();
    other.m_num_data = 0;
    other.m_data.clear();
    other.m_owns_data = true;
    other.m_ext_data = nullptr;
  }
  return *this;
}

void binary_data::repoint() {
  if (m_owns_data) m_ext_data = m_data.empty() ? nullptr : m_data.data();
}

byte binary_data::operator()(uint32 index) const {
  QUOR_ASSERT(index < m_num_data, "byte zq::binary_data::operator()(uint32) const");
  return bytes()[index];
}

byte& binary_data::operator()(uint32 index) {
  QUOR_ASSERT(index < m_num_data, "byte& zq::binary_data::operator()(uint32)");
  if (!m_owns_data) {
    m_data.assign(m_ext_data, m_ext_data + m_num_data);
    m_owns_data = true;
    repoint();
  }
  return m_data[index];
}

bool binary_data::erase(uint32 start, uint32 count) {
  if (!m_owns_data || start >= m_num_data) return false;
  const uint32 stop = count < m_num_data - start ? start + count : m_num_data;
  m_data.erase(m_data.begin() + start, m_data.begin() + stop);
  m_num_data = static_cast<uint32>(m_data.size());
  repoint();
  return true;
}

bool binary_data::push_back(byte value) {
  if (!m_owns_data) return false;
  m_data.push_back(value);
  m_num_data = static_cast<uint32>(m_data.size());
  repoint();
  return true;
}

bool binary_data::append(const byte* data, uint32 size) {
  if (!m_owns_data || !data) return false;
  m_data.insert(m_data.end(), data, data + size);
  m_num_data = static_cast<uint32>(m_data.size());
  repoint();
  return true;
}

bool binary_data::load(const char* path, uint32 offset, uint32 size) {
  if (!m_owns_data || !path) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  const std::streamoff file_size = in.tellg();
  if (file_size < 0 || static_cast<uint64>(file_size) <= offset) return false;
  const uint64 left = static_cast<uint64>(file_size) - offset;
  if (left < size) size = static_cast<uint32>(left);
  std::vector<byte> bytes;
  try {
    bytes.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  in.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  if (static_cast<uint64>(in.gcount()) != size) return false;
  m_data.swap(bytes);
  m_num_data = size;
  repoint();
  return true;
}

bool binary_data::save(const char* path) const {
  if (!path) return false;
  std::ofstream out;
  if (uni::open_output(out, std::string(path), uni::file_identities(), uni::output_open::rewrite) !=
      uni::output_result::opened)
    return false;
  out << *this;
  return true;
}

void binary_data::print(std::ostream& os, uint32 start, uint32 count, ulong64 base) const {
  count = clamped_count(*this, start, count);
  const bool hex = (m_mode & 0x2) != 0;
  const bool chars = (m_mode & 0x4) != 0;
  if (hex && chars) {
    print_rows(os, *this, start, start + count, base, true);
  } else if (hex && (m_mode & 0x1)) {
    print_rows(os, *this, start, start + count, base, false);
  } else if (hex) {
    print_hex(os, *this, start, count);
  } else if (chars) {
    print_ascii(os, *this, start, count);
  } else {
    print_raw(os, *this, start, count);
  }
}

void binary_data::print_row(std::ostream& os, const binary_data& data, uint32 start, uint32 count, ulong64 offset,
                            bool show_offset) {
  if (show_offset) os << std::hex << std::right << std::setfill('0');
  std::string row;
  append_row(row, data, start, clamped_count(data, start, count), offset, show_offset ? colon_offset : no_offset);
  os << row;
}

void binary_data::print_rows(std::ostream& os, const binary_data& data, uint32 start, uint32 end, ulong64 base,
                             bool show_offset, progress_callback callback, void* ctx) {
  flags_guard guard(os);
  os << std::hex << std::right << std::setfill('0');
  end = clamped_end(data, end);
  std::string text;
  for_each_row(data, start, end, base, show_offset ? colon_offset : no_offset, callback, ctx, text,
               [&os](std::string& t) {
                 t += '\n';
                 if (t.size() >= k_flush_size) {
                   os << t;
                   t.clear();
                 }
               });
  os << text;
}

void binary_data::print_hex(std::ostream& os, const binary_data& data, uint32 start, uint32 count) {
  flags_guard guard(os);
  os << std::hex << std::right << std::setfill('0');
  count = clamped_count(data, start, count);
  std::string text;
  text.reserve(3 * static_cast<size_t>(count) + count / 16 + 1);
  for (uint32 i = start; i - start < count; ++i) {
    const byte b = data(i);
    text += k_digits[b >> 4];
    text += k_digits[b & 0xF];
    text += ' ';
    if ((static_cast<uint64>(i) + 1) % k_row_bytes == 0) text += '\n';
  }
  text += '\n';
  os << text;
}

void binary_data::print_ascii_row(std::ostream& os, const binary_data& data, uint32 start, uint32 count) {
  if (count > k_ascii_row_bytes) count = k_ascii_row_bytes;
  count = clamped_count(data, start, count);
  if (count == 0) return;
  os << std::dec << std::right << std::setfill('0') << std::setw(4) << start / 65536 << ' ' << std::setw(4)
     << start % 65536 << ":  ";
  std::string row;
  for (uint32 i = 0; i < count; ++i) {
    if (i && i % 4 == 0) row += ' ';
    if (i && i % 16 == 0) row += "  ";
    row += shown_char(data(start + i));
  }
  row += '\n';
  os << row;
}

void binary_data::print_ascii(std::ostream& os, const binary_data& data, uint32 start, uint32 count) {
  flags_guard guard(os);
  count = clamped_count(data, start, count);
  for (uint32 done = 0; done < count; done += k_ascii_row_bytes) {
    const uint32 n = count - done < k_ascii_row_bytes ? count - done : k_ascii_row_bytes;
    print_ascii_row(os, data, start + done, n);
  }
}

void binary_data::print_raw(std::ostream& os, const binary_data& data, uint32 start, uint32 count) {
  flags_guard guard(os);
  os << std::dec << std::right << std::setfill('0');
  count = clamped_count(data, start, count);
  if (count) os.write(reinterpret_cast<const char*>(data.bytes() + start), static_cast<std::streamsize>(count));
}

void binary_data::format_row(char* out, const binary_data& data, uint32 start, uint32 count, ulong64 offset,
                             bool show_offset) {
  if (!out) return;
  std::string row;
  append_row(row, data, start, clamped_count(data, start, count), offset, show_offset ? colon_offset : no_offset);
  const size_t n = row.size() < 79 ? row.size() : 79;
  std::memcpy(out, row.data(), n);
  out[n] = '\0';
}

void binary_data::format_rows(std::string& out, const binary_data& data, uint32 start, uint32 end, ulong64 base,
                              bool show_offset, progress_callback callback, void* ctx) {
  out.clear();
  end = clamped_end(data, end);
  if (start >= end) return;
  out.reserve(5 * static_cast<size_t>(end - start) + 80);
  // A 64-bit offset column makes a row longer than format_row's 79
  // characters: each row is cut as format_row cuts it.
  size_t row_begin = 0;
  for_each_row(data, start, end, base, show_offset ? colon_offset : no_offset, callback, ctx, out,
               [&row_begin](std::string& t) {
                 if (t.size() - row_begin > 79) t.resize(row_begin + 79);
                 t += '\n';
                 row_begin = t.size();
               });
}

void binary_data::print_row_wide(std::ostream& os, const binary_data& data, uint32 start, uint32 count,
                                 ulong64 offset) {
  std::string row;
  append_row(row, data, start, clamped_count(data, start, count), offset, wide_offset);
  write_utf16le(os, row);
}

void binary_data::print_rows_wide(std::ostream& os, const binary_data& data, uint32 start, uint32 end,
                                  ulong64 base) {
  end = clamped_end(data, end);
  std::string text;
  for_each_row(data, start, end, base, wide_offset, nullptr, nullptr, text, [&os](std::string& t) {
    t += "\r\n";
    write_utf16le(os, t);
    t.clear();
  });
}

std::ostream& operator<<(std::ostream& os, const binary_data& data) {
  const uint32 mode = data.get_mode();
  const uint32 n = data.get_num_data();
  if ((mode & 0x6) == 0x6) {
    binary_data::print_rows(os, data, 0, n, 0, true);
  } else if (mode & 0x2) {
    binary_data::print_hex(os, data, 0, n);
  } else if (mode & 0x4) {
    binary_data::print_ascii(os, data, 0, n);
  } else {
    binary_data::print_raw(os, data, 0, n);
  }
  return os;
}

void hex_dump(const std::vector<byte>& data, std::ostream& os, uint32 start, ulong64 base) {
  if (data.empty()) return;
  hex_dump(data.data(), static_cast<uint32>(data.size()), os, start, base, true);
}

void hex_dump(const byte* data, uint32 size, std::ostream& os, uint32 start, ulong64 base, bool show_offset) {
  binary_data view(data, size, false);
  view.set_mode(show_offset ? 6 : 3);
  binary_data::print_rows(os, view, start, size, base, show_offset);
}

void hex_dump_to_string(const byte* data, uint32 size, std::string& out, uint32 start, ulong64 base) {
  hex_dump_to_string(data, size, out, start, base, nullptr, nullptr);
}

void hex_dump_to_string(const byte* data, uint32 size, std::string& out, uint32 start, ulong64 base,
                        binary_data::progress_callback callback, void* ctx) {
  binary_data view(data, size, false);
  view.set_mode(6);
  binary_data::format_rows(out, view, start, size, base, true, callback, ctx);
}

void hex_dump_limited(const byte* data, uint32 size, std::ostream& os, uint32 start, ulong64 base) {
  hex_dump_limited(data, size, os, start, base, nullptr, nullptr);
}

void hex_dump_limited(const byte* data, uint32 size, std::ostream& os, uint32 start, ulong64 base,
                      binary_data::progress_callback callback, void* ctx) {
  if (size > 0x1000000) {
    os << "size to big to output: size 0x" << std::hex << size << "\n";
    return;
  }
  std::string text;
  hex_dump_to_string(data, size, text, start, base, callback, ctx);
  os << text;
}

void hex_dump_wide(const byte* data, uint32 size, std::ostream& os, uint32 start, ulong64 base) {
  binary_data view(data, size, false);
  view.set_mode(6);
  binary_data::print_rows_wide(os, view, start, size, base);
}

}  // namespace zq
