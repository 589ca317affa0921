#include "utils/address_text.h"

#include <cstdio>
#include <cstring>

#include "utils/utf_convert.h"

bool ipv4_text_w(uint32 address, std::wstring& out) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (address >> 24) & 0xFFu, (address >> 16) & 0xFFu,
                (address >> 8) & 0xFFu, address & 0xFFu);
  decode_utf8(out, text);
  return true;
}

bool ipv6_text(const uint16* groups, int byte_length, std::string& out) {
  out.clear();
  if (!groups || byte_length <= 0) return false;
  const int n = byte_length / 2;
  const byte* bytes = reinterpret_cast<const byte*>(groups);
  enum { before_run, in_run, after_run } state = before_run;
  char text[8];
  for (int i = 0; i < n; ++i) {
    const unsigned v = (static_cast<unsigned>(bytes[2 * i]) << 8) | bytes[2 * i + 1];
    bool written = true;
    if (v == 0 && state == before_run) {
      state = in_run;
      if (i == 0) out += ':';
    } else if (v == 0 && state == in_run) {
      written = false;
    } else {
      if (state == in_run) state = after_run;
      std::snprintf(text, sizeof text, "%x", v);
      out += text;
    }
    if (written && i != n - 1) out += ':';
  }
  // A run that reaches the last group still needs its closing colon
  // ("1:2:3:4:5:6:7::", "::"), else the text is no address.
  if (state == in_run && (out.size() < 2 || out.compare(out.size() - 2, 2, "::") != 0)) out += ':';
  return true;
}

bool netbios_encode_name(const byte* name, int length, byte suffix, char* out) {
  if (!out || length > 15 || length < 0 || (!name && length > 0)) return false;
  for (int i = 0; i < 15; ++i) {
    const byte b = i < length ? name[i] : ' ';
    out[2 * i] = static_cast<char>('A' + (b >> 4));
    out[2 * i + 1] = static_cast<char>('A' + (b & 15));
  }
  out[30] = static_cast<char>('A' + (suffix >> 4));
  out[31] = static_cast<char>('A' + (suffix & 15));
  return true;
}
