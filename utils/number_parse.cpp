#include "utils/number_parse.h"

#include <cstdlib>
#include <cstring>

#include "utils/case_text.h"
#include "utils/utf16le.h"
#include "utils/utf_convert.h"

namespace {

// The digits of a strtoul/strtol-style conversion: white space, one sign,
// "0x" in base 16, then digits of the base up to the first other character.
// magnitude saturates at UINT64_MAX (overflow set).
struct digits_read {
  bool negative = false;
  bool overflow = false;
  uint64 magnitude = 0;
};

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

digits_read read_digits(const char* s, int base) {
  digits_read r;
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
  if (*s == '+' || *s == '-') {
    r.negative = *s == '-';
    ++s;
  }
  if (base == 16 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && digit_value(s[2]) < 16) s += 2;
  for (; digit_value(*s) < base; ++s) {
    const uint64 d = static_cast<uint64>(digit_value(*s));
    if (r.magnitude > (UINT64_MAX - d) / static_cast<uint64>(base)) {
      r.overflow = true;
      r.magnitude = UINT64_MAX;
    } else if (!r.overflow) {
      r.magnitude = r.magnitude * static_cast<uint64>(base) + d;
    }
  }
  return r;
}

// As strtoll.
int64 to_i64(const char* s, int base) {
  const digits_read r = read_digits(s, base);
  if (r.negative) {
    if (r.overflow || r.magnitude > 0x8000000000000000ull) return INT64_MIN;
    return r.magnitude == 0x8000000000000000ull ? INT64_MIN : -static_cast<int64>(r.magnitude);
  }
  if (r.overflow || r.magnitude > 0x7FFFFFFFFFFFFFFFull) return INT64_MAX;
  return static_cast<int64>(r.magnitude);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Digits of the base from the start of s up to the first other character,
// modulo 2^64.
uint64 accumulate(const char* s, uint32 base) {
  uint64 v = 0;
  for (; *s && static_cast<uint32>(digit_value(*s)) < base; ++s) {
    v = v * base + static_cast<uint64>(digit_value(*s));
  }
  return v;
}

}  // namespace

// As strtoul with a 32-bit unsigned long.
uint32 to_u32(const char* s, int base) {
  const digits_read r = read_digits(s, base);
  if (r.overflow || r.magnitude > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  const uint32 v = static_cast<uint32>(r.magnitude);
  return r.negative ? static_cast<uint32>(0u - v) : v;
}

// As strtol with a 32-bit long.
int32 to_i32(const char* s, int base) {
  const digits_read r = read_digits(s, base);
  if (r.negative) {
    if (r.overflow || r.magnitude > 0x80000000ull) return INT32_MIN;
    return static_cast<int32>(-static_cast<int64>(r.magnitude));
  }
  if (r.overflow || r.magnitude > 0x7FFFFFFFull) return INT32_MAX;
  return static_cast<int32>(r.magnitude);
}

bool parse_int(const char* text, uint32& out) {
  if (!text) return false;
  std::string t(text);
  to_lower(t);
  const size_t x = t.find('x');
  if (x != std::string::npos) {
    out = to_u32(t.c_str() + x + 1, 16);
    return true;
  }
  const size_t o = t.find('o');
  if (o != std::string::npos) {
    out = to_u32(t.c_str() + o + 1, 8);
    return true;
  }
  if (t.empty() || !(t[0] == '-' || t[0] == '+' || is_digit(t[0]))) return false;
  out = static_cast<uint32>(to_i32(t.c_str(), 10));
  return true;
}

bool parse_int(const std::string& text, uint32& out) { return parse_int(text.c_str(), out); }

bool parse_int(const std::string& text, int* out) {
  uint32 v = 0;
  if (!out || !parse_int(text.c_str(), v)) return false;
  *out = static_cast<int>(v);
  return true;
}

bool parse_int_w(const wchar_t* text, uint32& out) {
  if (!text) return false;
  return parse_int(wstring_to_utf8(text), out);
}

bool parse_int_w(const std::wstring& text, uint32& out) { return parse_int_w(text.c_str(), out); }

bool parse_int64(std::string& text, long64& out) {
  if (text.empty()) return false;
  to_lower(text);
  int base = 10;
  const size_t x = text.find('x');
  if (x != std::string::npos) {
    text.erase(0, x + 1);
    base = 16;
  } else {
    const size_t o = text.find('o');
    if (o != std::string::npos) {
      text.erase(0, o + 1);
      base = 8;
    } else if (!is_digit(text[0])) {
      return false;
    }
  }
  out = to_i64(text.c_str(), base);
  return true;
}

bool parse_int64(const char* text, long64& out) {
  if (!text) return false;
  std::string copy(text);
  return parse_int64(copy, out);
}

bool parse_int64_w(const std::wstring& text, long64& out) {
  // Each character keeps its low 8 bits, and the base letter is looked for
  // in the whole narrowed text, past any NUL the narrowing made.
  std::string narrow;
  narrow_wstring(text, narrow);
  return parse_int64(narrow, out);
}

bool parse_int64_w(const std::wstring& text, long64* out) { return out && parse_int64_w(text, *out); }

bool parse_uint32(const char* text, uint32& out) {
  if (!text) return false;
  const size_t n = std::strlen(text);
  std::string t(text);
  to_lower(t);
  if (n >= 2 && t[1] == 'x') {
    out = to_u32(text + 2, 16);
  } else if (n >= 1 && t[0] == 'x') {
    out = to_u32(text + 1, 16);
  } else if (n >= 1 && t[0] == 'o') {
    out = to_u32(text + 1, 8);
  } else if (n >= 1 && is_digit(t[0])) {
    out = to_u32(text, 10);
  } else if (n == 3 && text[0] == '\'' && text[2] == '\'') {
    out = static_cast<unsigned char>(text[1]);
  } else {
    return false;
  }
  return true;
}

bool parse_uint32(const std::string& text, uint32& out) { return parse_uint32(text.c_str(), out); }

bool parse_uint32_w(const wchar_t* text, uint32& out) {
  if (!text) return false;
  return parse_uint32(wstring_to_utf8(text), out);
}

bool parse_uint32_w(const std::wstring& text, uint32& out) { return parse_uint32_w(text.c_str(), out); }

bool parse_float(const char* text, float& out) {
  if (!text) return false;
  out = static_cast<float>(std::strtod(text, nullptr));
  return true;
}

bool parse_float_w(const wchar_t* text, float& out) {
  if (!text) return false;
  return parse_float(wstring_to_utf8(text).c_str(), out);
}

bool parse_double(const char* text, double& out) {
  if (!text) return false;
  out = std::strtod(text, nullptr);
  return true;
}

bool parse_double_w(const wchar_t* text, double& out) {
  if (!text) return false;
  return parse_double(wstring_to_utf8(text).c_str(), out);
}

bool cstr_to_u64(const char* text, ulong64& value) {
  value = 0;
  if (!text || !*text) return false;
  const size_t n = std::strlen(text);
  const char* hex = nullptr;
  if (n >= 3 && (text[1] == 'x' || text[1] == 'X')) {
    hex = text + 2;
  } else if (n >= 3 && (text[0] == 'x' || text[0] == 'X')) {
    hex = text + 1;
  }
  if (hex) {
    const size_t digits = std::strlen(hex);
    if (digits > 16) return false;
    if (digits <= 8) {
      value = to_u32(hex, 16);
    } else {
      const std::string high(hex, digits - 8);
      value = (static_cast<ulong64>(to_u32(high.c_str(), 16)) << 32) | to_u32(hex + digits - 8, 16);
    }
    return true;
  }
  if (text[0] == 'o' || text[0] == 'O') {
    const char* oct = text + 1;
    const size_t digits = std::strlen(oct);
    if (digits > 22) return false;
    value = digits <= 10 ? to_u32(oct, 8) : accumulate(oct, 8);
    return true;
  }
  if (!is_digit(text[0]) || n > 20) return false;
  value = n <= 9 ? to_u32(text, 10) : accumulate(text, 10);
  return true;
}

bool text_to_u64(const std::string& text, ulong64& value) { return cstr_to_u64(text.c_str(), value); }

bool text_to_u64(const std::string& text, ulong64* value) {
  if (!value) return false;
  return cstr_to_u64(text.c_str(), *value);
}
