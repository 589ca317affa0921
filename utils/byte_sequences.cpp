#include "utils/byte_sequences.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "utils/narrow_lists.h"
#include "utils/number_parse.h"
#include "utils/path_split.h"
#include "utils/u64_halves.h"
#include "utils/utf_convert.h"

namespace {

// Unsigned hexadecimal as strtoul reads it: non-digits give 0.
unsigned long hex(const std::string& s) { return std::strtoul(s.c_str(), nullptr, 16); }

std::vector<std::string> tokens(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string t; in >> t;) out.push_back(t);
  return out;
}

char first_of(const std::string& text, const char* choices) {
  for (const char* c = choices; *c; ++c)
    if (text.find(*c) != std::string::npos) return *c;
  return 0;
}

}  // namespace

bool parse_byte_pattern(const std::string& text, std::vector<uint16>& out) {
  for (const std::string& t : tokens(text)) {
    if (t == "??") {
      out.push_back(pattern_any_byte);
    } else if (t[0] == '*') {
      const std::string len = t.substr(1);
      out.push_back(pattern_gap);
      if (len.size() > 2) return false;
      out.push_back(static_cast<uint16>(hex(len)));
    } else {
      if (t.size() != 2) return false;
      const unsigned long v = hex(t);
      if (v > 255) return false;
      out.push_back(static_cast<uint16>(v));
    }
  }
  if (out.empty()) return false;
  for (;;) {
    if (!out.empty() && out.back() == pattern_any_byte) {
      out.pop_back();
    } else if (out.size() >= 2 && out[out.size() - 2] == pattern_gap) {
      out.resize(out.size() - 2);
    } else {
      break;
    }
  }
  for (size_t i = 0; i + 2 < out.size(); ++i) {
    if (out[i] != pattern_gap) continue;
    if (out[i + 2] == pattern_any_byte || out[i + 2] == pattern_gap) return false;
    ++i;  // the length entry is a value, not a marker
  }
  return true;
}

bool parse_hex_tokens(const std::string& text, std::vector<byte>& out) {
  for (const std::string& t : tokens(text)) {
    if (t.size() > 2) return false;
    if (t == "??") {
      out.push_back(0xFF);
      continue;
    }
    const unsigned long v = hex(t);
    if (v > 255) return false;
    out.push_back(static_cast<byte>(v));
  }
  return true;
}

bool parse_hex_list(const std::string& text, std::vector<byte>& out) {
  const char sep = first_of(text, " ,:");
  if (!sep) return false;
  std::vector<std::string> pieces;
  split_by_char(text, sep, pieces, false);
  out.clear();
  for (const std::string& p : pieces) {
    const size_t x = p.find('x');
    out.push_back(static_cast<byte>(hex(x == std::string::npos ? p : p.substr(x + 1))));
  }
  return !out.empty();
}

bool parse_hex_string(const std::string& text, std::vector<byte>& out) {
  out.clear();
  if (text.empty()) return false;
  std::string spaced;
  for (size_t i = 0; i < text.size(); ++i) {
    spaced += text[i];
    if (i % 2 == 1) spaced += ' ';
  }
  return parse_hex_list(spaced, out);
}

bool parse_separated_bytes(const char* text, std::vector<byte>& out) {
  out.clear();
  if (!text || std::strlen(text) > 80) return false;
  const std::string t(text);
  const char sep = first_of(t, ".:-");
  if (!sep) return false;
  std::vector<std::string> pieces;
  split_by_char(t, sep, pieces, false);
  if (pieces.empty()) return false;
  const std::string& first = pieces[0];
  const bool prefixed = (first[0] == 'x' || first[0] == 'X') || (first.size() > 1 && (first[1] == 'x' || first[1] == 'X'));
  if (!prefixed) {
    bool letters = false;
    for (const std::string& p : pieces) letters = letters || p.find_first_of("abcdefABCDEF") != std::string::npos;
    if (letters)
      for (std::string& p : pieces) p = "0x" + p;
  }
  for (const std::string& p : pieces) {
    uint32 v = 0;
    if (!parse_uint32(p, v)) return false;
    out.push_back(static_cast<byte>(v));
  }
  return true;
}

bool parse_separated_bytes(const char* text, byte* out, uint32 size) {
  std::vector<byte> bytes;
  if (!out || !parse_separated_bytes(text, bytes) || bytes.size() != size) return false;
  std::memcpy(out, bytes.data(), size);
  return true;
}

bool parse_separated_bytes_w(const wchar_t* text, byte* out, uint32 size) {
  if (!text) return false;
  const std::string narrow = wstring_to_utf8(text);
  return !narrow.empty() && parse_separated_bytes(narrow.c_str(), out, size);
}

bool parse_dotted_quad(const char* text, uint32& out, bool swap) {
  out = 0;
  if (!text) return false;
  const std::string t(text);
  const char sep = first_of(t, ".:-");
  if (!sep) return false;
  std::vector<std::string> pieces;
  split_by_char(t, sep, pieces, false);
  if (pieces.size() != 4) return false;
  uint32 value = 0;
  for (int k = 0; k < 4; ++k) {
    uint32 p = 0;
    if (!parse_uint32(pieces[k], p)) return false;
    value += p << (8 * (3 - k));
  }
  if (swap) byte_swap32(value, value);
  out = value;
  return true;
}

bool parse_ipv6_text(std::string& text, std::vector<byte>& out) {
  out.clear();
  if (text.empty()) {
    out.assign(16, 0);
    return true;
  }
  size_t colons = 0;
  for (char c : text) colons += c == ':';
  if (colons <= 6) {
    std::string gap = "::";
    replace_first(text, gap, "::" + std::string(7 - colons, ':'), false);
  }
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(':', start);
    const std::string field = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const unsigned long v = hex(field);
    out.push_back(static_cast<byte>(v >> 8));
    out.push_back(static_cast<byte>(v));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return true;
}
