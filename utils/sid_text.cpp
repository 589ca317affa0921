#include "utils/sid_text.h"

#include <cstdio>

#include "utils/byte_order.h"

bool sid_to_string_into(std::string& out, const byte* sid) {
  out.clear();
  if (!sid) return true;
  char part[16];
  std::snprintf(part, sizeof part, "S-%u-%u", static_cast<unsigned>(sid[0]), static_cast<unsigned>(sid[7]));
  out = part;
  const uint32 n = sid[1];
  for (uint32 i = 0; i < n; ++i) {
    std::snprintf(part, sizeof part, "-%u", static_cast<unsigned>(load_u32(sid + 8 + 4 * i)));
    out += part;
  }
  return true;
}

std::string sid_to_string(const byte* sid, uint32 length) {
  std::string out;
  if (!sid || length < 12) return out;
  // A damaged count must not lead the reader past the buffer.
  if (!fits(length, 8, 4 * static_cast<uint64>(sid[1]))) return out;
  sid_to_string_into(out, sid);
  return out;
}
