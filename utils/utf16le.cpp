#include "utils/utf16le.h"

#include <cstring>

namespace {

const uint32 kMaxUnitsUnbounded = 500;
const wchar_t kReplacement = static_cast<wchar_t>(0xFFFD);

bool is_high(uint16 u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low(uint16 u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Units are read with memcpy: callers hand us pointers into evidence
// buffers that need not be 2-byte aligned.
uint16 unit_at(const uint16* units, uint32 i) {
  uint16 u;
  std::memcpy(&u, reinterpret_cast<const byte*>(units) + 2 * static_cast<uint64>(i), 2);
  return u;
}

}  // namespace

void append_utf16_units(std::wstring& out, const uint16* units, uint32 count, bool stop_at_nul) {
  if (!units) return;
  for (uint32 i = 0; i < count; ++i) {
    uint16 u = unit_at(units, i);
    if (u == 0 && stop_at_nul) break;
    if (is_high(u)) {
      // A pair is joined only when its low half lies inside the same limit.
      uint16 v = (i + 1 < count) ? unit_at(units, i + 1) : 0;
      if (is_low(v)) {
        uint32 cp = 0x10000 + ((static_cast<uint32>(u) - 0xD800) << 10) + (v - 0xDC00);
        out.push_back(static_cast<wchar_t>(cp));
        ++i;
      } else {
        out.push_back(kReplacement);
      }
    } else if (is_low(u)) {
      out.push_back(kReplacement);
    } else {
      out.push_back(static_cast<wchar_t>(u));
    }
  }
}

void unicode16_to_wstring(const uint16* units, std::wstring& out, int byte_length) {
  out.clear();
  if (!units || byte_length == 0) return;
  uint32 limit = 0;
  if (byte_length == -1) {
    limit = kMaxUnitsUnbounded;
  } else if (byte_length > 0) {
    limit = static_cast<uint32>(byte_length) / 2;
  }
  if (limit < 1) return;
  append_utf16_units(out, units, limit, true);
}

void widen_string(const std::string& in, std::wstring& out) {
  out.clear();
  out.reserve(in.size());
  for (char c : in) out.push_back(static_cast<wchar_t>(static_cast<signed char>(c)));
}

void widen_cstring(const char* text, std::wstring& out) {
  out.clear();
  if (!text) return;
  for (; *text; ++text) out.push_back(static_cast<wchar_t>(static_cast<signed char>(*text)));
}

void narrow_wstring(const std::wstring& in, std::string& out) {
  out.clear();
  out.reserve(in.size());
  for (wchar_t c : in) out.push_back(static_cast<char>(static_cast<uint32>(c) & 0xFF));
}
