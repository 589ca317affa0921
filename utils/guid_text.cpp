#include "utils/guid_text.h"

#include <cctype>
#include <cstring>

#include "utils/byte_order.h"
#include "utils/number_text.h"

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One hexadecimal field as scanf's %x reads it: blanks skipped, an optional
// 0x, then every hex digit (the value keeps its low 64 bits).
bool read_hex(const std::string& text, size_t& at, uint64& value) {
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  size_t p = at;
  if (p + 2 < text.size() && text[p] == '0' && (text[p + 1] == 'x' || text[p + 1] == 'X') &&
      hex_value(text[p + 2]) >= 0)
    p += 2;
  if (p >= text.size() || hex_value(text[p]) < 0) return false;
  value = 0;
  for (; p < text.size() && hex_value(text[p]) >= 0; ++p) value = (value << 4) | static_cast<uint64>(hex_value(text[p]));
  at = p;
  return true;
}

bool read_separator(const std::string& text, size_t& at) {
  if (at >= text.size()) return false;
  ++at;
  return true;
}

}  // namespace

bool guid_text(char* buffer, uint32 size, const byte* guid) {
  if (!buffer || !guid || size < 37) return false;
  // 37 bytes hold the 36 characters and the NUL, 42 the mark as well: the
  // text always fits whole.
  std::string text;
  guid_to_string(text, guid);
  if (size >= 42) {
    text += ' ';
    for (int i = 0; i < 4; ++i) text += guid[i] >= '0' && guid[i] <= 'z' ? static_cast<char>(guid[i]) : '.';
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

bool guid_from_text(const std::string& text, std::vector<byte>& out) {
  out.clear();
  if (text.size() < 22) return false;
  out.assign(16, 0);
  size_t at = 0;
  uint64 v = 0;
  if (!read_hex(text, at, v)) return true;
  store_u32(&out[0], static_cast<uint32>(v));
  if (!read_separator(text, at) || !read_hex(text, at, v)) return true;
  store_u16(&out[4], static_cast<uint16>(v));
  if (!read_separator(text, at) || !read_hex(text, at, v)) return true;
  store_u16(&out[6], static_cast<uint16>(v));
  if (!read_separator(text, at) || !read_hex(text, at, v)) return true;
  out[8] = static_cast<byte>(v >> 8);
  out[9] = static_cast<byte>(v);
  if (!read_separator(text, at) || !read_hex(text, at, v)) return true;
  for (int i = 0; i < 6; ++i) out[10 + i] = static_cast<byte>(v >> (8 * (5 - i)));
  return true;
}
