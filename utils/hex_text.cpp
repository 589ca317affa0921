#include "utils/hex_text.h"

namespace {

const char hex_digits[] = "0123456789abcdef";

inline void put_hex(char* p, byte b) {
  p[0] = hex_digits[b >> 4];
  p[1] = hex_digits[b & 15];
}

inline char shown(byte b) { return b >= 32 && b <= 126 ? static_cast<char>(b) : '.'; }

}  // namespace

void bytes_to_hex(std::string& out, const byte* data, int length) {
  out.clear();
  if (!data || length <= 0) return;
  out.resize(2 * static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) put_hex(&out[2 * static_cast<size_t>(i)], data[i]);
}

bool bytes_to_hex_sep(std::string& out, const byte* data, int length, const std::string& separator) {
  if (!data || length <= 0) return false;
  std::string text;
  text.reserve(static_cast<size_t>(length) * (2 + separator.size()));
  char pair[2];
  for (int i = 0; i < length; ++i) {
    put_hex(pair, data[i]);
    text.append(pair, 2);
    text += separator;
  }
  out.swap(text);
  return true;
}

bool bytes_to_hex_sep(std::string& out, const std::vector<byte>& data, std::string separator) {
  out.clear();
  if (data.empty()) return false;
  return bytes_to_hex_sep(out, data.data(), static_cast<int>(data.size()), separator);
}

void hex_dump(std::string& out, const byte* data, int length) {
  if (!data || length <= 0) {
    out += '\n';
    return;
  }
  const size_t lines = (static_cast<size_t>(length) + 15) / 16;
  out.reserve(out.size() + lines * 67 + 1);
  char line[67];
  for (int at = 0; at < length; at += 16) {
    const int n = length - at < 16 ? length - at : 16;
    char* p = line;
    for (int i = 0; i < 16; ++i, p += 3) {
      if (i < n) {
        put_hex(p, data[at + i]);
        p[2] = ' ';
      } else {
        p[0] = p[1] = p[2] = ' ';
      }
    }
    *p++ = ' ';
    *p++ = ' ';
    for (int i = 0; i < n; ++i) *p++ = shown(data[at + i]);
    *p++ = '\n';
    out.append(line, static_cast<size_t>(p - line));
  }
  out += '\n';
}
