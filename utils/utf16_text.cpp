#include "utils/utf16_text.h"

#include <cstdarg>
#include <cstdio>
#include <new>
#include <stdexcept>

#include "utils/case_text.h"
#include "utils/utf16le.h"
#include "utils/utf_convert.h"

void unicode16_to_string(const uint16* units, std::string& out, uint32 byte_length) {
  out.clear();
  std::wstring wide;
  // All bits set is the -1 of a name whose length is not given; every
  // other value, 2 GiB and more included, is a length in bytes.
  if (byte_length == UINT32_MAX) {
    unicode16_to_wstring(units, wide, -1);
  } else {
    append_utf16_units(wide, units, byte_length / 2, true);
  }
  if (!wide.empty()) out = wstring_to_utf8(wide);
}

std::string unicode16_cstr_to_string(const uint16* units) {
  std::string out;
  unicode16_to_string(units, out, -1);
  return out;
}

std::string* unicode16_cstr_to_string_into(const uint16* units, std::string& out) {
  unicode16_to_string(units, out, -1);
  return &out;
}

std::wstring utf16_to_lower_w(const uint16* units) {
  std::wstring wide;
  // Not the 500-unit cap of a name read from disk: the text ends at its NUL.
  append_utf16_units(wide, units, UINT32_MAX, true);
  to_lower_w(wide);
  return wide;
}

std::string wstring_to_string(std::wstring text) { return wstring_to_utf8(text); }

std::string* wstring_to_string_into(const std::wstring& text, std::string& out) {
  out = wstring_to_utf8(text);
  return &out;
}

uint32* string_to_u32_buffer(const std::string& s, uint32* buffer, int max) {
  if (!buffer) return nullptr;
  buffer[0] = 0;
  if (max < 0 || s.size() > static_cast<size_t>(max)) return nullptr;
  for (size_t i = 0; i < s.size(); ++i) {
    buffer[i] = static_cast<uint32>(static_cast<int32>(static_cast<signed char>(s[i])));
  }
  buffer[s.size()] = 0;
  return buffer;
}

const uint16* cstr_to_utf16_crlf(std::vector<uint16>& out, const char* s) {
  out.clear();
  if (!s || !*s) return nullptr;
  for (; *s; ++s) {
    if (*s == '\n') out.push_back('\r');
    out.push_back(static_cast<uint16>(static_cast<int16>(static_cast<signed char>(*s))));
  }
  out.push_back(0);
  return out.data();
}

const uint16* string_to_utf16_crlf(std::vector<uint16>& out, const std::string& s) {
  return cstr_to_utf16_crlf(out, s.c_str());
}

const uint16* format_utf16_crlf(std::vector<uint16>& out, const char* format, ...) {
  out.clear();
  if (!format) return nullptr;
  va_list args;
  va_start(args, format);
  char probe[30];
  const int n = std::vsnprintf(probe, sizeof probe, format, args);
  va_end(args);
  if (n < 0) return nullptr;
  try {
    if (n < static_cast<int>(sizeof probe)) {
      cstr_to_utf16_crlf(out, probe);
    } else {
      std::vector<char> text(static_cast<size_t>(n) + 10, 0);
      va_start(args, format);
      std::vsnprintf(text.data(), text.size(), format, args);
      va_end(args);
      cstr_to_utf16_crlf(out, text.data());
    }
  } catch (const std::bad_alloc&) {
    // A text too long for the memory left gives no units, not half of them.
    std::vector<uint16>().swap(out);
    return nullptr;
  } catch (const std::length_error&) {
    // Longer than a vector can be, as on a 32-bit host.
    std::vector<uint16>().swap(out);
    return nullptr;
  }
  return out.empty() ? nullptr : out.data();
}

const uint16* wcs_to_utf16_crlf(std::vector<uint16>& out, const wchar_t* s) {
  out.clear();
  if (!s || !*s) return nullptr;
  for (; *s; ++s) {
    if (*s == L'\n') out.push_back('\r');
    out.push_back(static_cast<uint16>(static_cast<uint32>(*s) & 0xFFFF));
  }
  return out.data();
}

const uint16* wstring_to_utf16_crlf(std::vector<uint16>& out, const std::wstring& s) {
  return wcs_to_utf16_crlf(out, s.c_str());
}

std::string utf8_of_unit(uint16 u) {
  std::string out;
  if (u < 128) {
    out.push_back(static_cast<char>(u));
  } else if (u < 2048) {
    out.push_back(static_cast<char>(0xC0 | (u >> 6)));
    out.push_back(static_cast<char>(0x80 | (u & 63)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (u >> 12)));
    out.push_back(static_cast<char>(0x80 | ((u >> 6) & 63)));
    out.push_back(static_cast<char>(0x80 | (u & 63)));
  }
  return out;
}

std::string utf8_of_latin1_char(char c) { return utf8_of_unit(static_cast<unsigned char>(c)); }

std::string latin1_to_utf8(const char* s) {
  std::string out;
  if (!s) return out;
  for (; *s; ++s) out += utf8_of_latin1_char(*s);
  return out;
}
