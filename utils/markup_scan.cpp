#include "utils/markup_scan.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "utils/buffer_scan.h"

namespace {

inline bool printable(uint32 c) { return c >= 0x20 && c <= 0x7E; }

inline wchar_t fold_ascii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

}  // namespace

bool substitute_strings(const byte* text, int length, const std::vector<std::string>& patterns,
                        const std::vector<std::string>& replacements, std::string& out, bool ignore_case,
                        bool escape_unprintable) {
  out.clear();
  if (!text || length == 0 || patterns.empty() || patterns.size() != replacements.size()) return false;
  if (length < 0) return true;
  const size_t n = static_cast<size_t>(length);
  const char* t = reinterpret_cast<const char*>(text);
  out.reserve(n);
  for (size_t i = 0; i < n;) {
    const byte c = text[i];
    if (c == '\r' || c == '\n') {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (escape_unprintable && !printable(c)) {
      char esc[4];
      std::snprintf(esc, sizeof esc, "%%%02x", c);
      out += esc;
      ++i;
      continue;
    }
    bool matched = false;
    for (size_t k = 0; k < patterns.size(); ++k) {
      const std::string& p = patterns[k];
      if (p.empty() || p.size() > n - i) continue;
      if (ignore_case ? strncasecmp(t + i, p.data(), p.size()) == 0 : std::memcmp(t + i, p.data(), p.size()) == 0) {
        out += replacements[k];
        i += p.size();
        matched = true;
        break;
      }
    }
    if (!matched) {
      out += static_cast<char>(c);
      ++i;
    }
  }
  return true;
}

bool substitute_strings_w(const wchar_t* text, int length, const std::vector<std::wstring>& patterns,
                          const std::vector<std::wstring>& replacements, std::wstring& out, bool ignore_case,
                          bool escape_unprintable) {
  out.clear();
  if (!text || length == 0 || patterns.empty() || patterns.size() != replacements.size()) return false;
  if (length < 0) return true;
  const size_t n = static_cast<size_t>(length);
  out.reserve(n);
  for (size_t i = 0; i < n;) {
    const wchar_t c = text[i];
    if (c == L'\r' || c == L'\n') {
      out += c;
      ++i;
      continue;
    }
    const uint32 low = static_cast<uint32>(c) & 0xFF;
    if (escape_unprintable && !printable(low)) {
      static const wchar_t digits[] = L"0123456789abcdef";
      out += L'%';
      out += digits[low >> 4];
      out += digits[low & 15];
      ++i;
      continue;
    }
    bool matched = false;
    for (size_t k = 0; k < patterns.size() && !matched; ++k) {
      const std::wstring& p = patterns[k];
      if (p.empty() || p.size() > n - i) continue;
      size_t j = 0;
      for (; j < p.size(); ++j) {
        const wchar_t a = text[i + j], b = p[j];
        if (ignore_case ? fold_ascii(a) != fold_ascii(b) : a != b) break;
      }
      if (j == p.size()) {
        out += replacements[k];
        i += p.size();
        matched = true;
      }
    }
    if (!matched) {
      out += c;
      ++i;
    }
  }
  return true;
}

bool get_quoted_value(const char* text, int length, const char* name, std::string& value) {
  value.clear();
  if (!text || length <= 0 || !name) return false;
  // The closing quote may stand at index `length` itself, so the searches
  // read one byte past the length (the text ends with a NUL) and no more.
  const size_t n = strnlen(text, static_cast<size_t>(length) + 1);
  const std::string hay(text, n);
  const size_t at = hay.find(name);
  if (at == std::string::npos) return false;
  const size_t eq = hay.find('=', at);
  if (eq == std::string::npos) return false;
  const size_t open = hay.find('"', eq);
  if (open == std::string::npos) return false;
  const size_t close = hay.find('"', open + 1);
  if (close == std::string::npos) return false;
  value = hay.substr(open + 1, close - open - 1);
  return true;
}

bool extract_between(char* text, const char* anchor, const char* start, const char* end, std::string& out) {
  out.clear();
  if (!text || !start || !end) return false;
  const char* p = text;
  if (anchor) {
    const char* a = std::strstr(p, anchor);
    if (!a) return false;
    p = a + std::strlen(anchor);
  }
  const char* s = std::strstr(p, start);
  // An empty start marker found at the terminator would begin the value
  // past the end of the text.
  if (!s || *s == '\0') return false;
  const char* from = s + 1;
  const char* e = std::strstr(from, end);
  if (!e) return false;
  out.assign(from, e);
  return true;
}

bool parse_tag_attribute(char* tag, uint32 length, int n, std::string& name, std::string& value) {
  name.clear();
  value.clear();
  if (!tag || length == 0 || n <= 0 || tag[0] != '<' || tag[1] == ' ' || tag[1] == '\0') return false;
  const std::string t(tag);
  const size_t gt = t.find('>');
  if (gt == std::string::npos) return false;
  // The n-th '=' must stand inside the tag.
  size_t nth = 0;
  for (int k = 0; k < n; ++k) {
    nth = t.find('=', k == 0 ? 1 : nth + 1);
    if (nth == std::string::npos || nth > gt) return false;
  }
  const size_t blank = t.find(' ');
  if (blank == std::string::npos || blank > nth) return false;
  size_t at = blank + 1;
  for (;;) {
    const size_t eq = t.find('=', at);
    if (eq == nth) break;
    if (eq == std::string::npos || eq > gt) return false;
    const size_t q1 = t.find('"', eq);
    const size_t q2 = q1 == std::string::npos ? q1 : t.find('"', q1 + 1);
    if (q2 == std::string::npos || q2 + 1 >= gt) return false;
    at = q2 + 1;
  }
  for (size_t i = at; i < nth; ++i)
    if (t[i] != ' ') name += t[i];
  const size_t q1 = t.find('"', nth);
  const size_t q2 = q1 == std::string::npos ? q1 : t.find('"', q1 + 1);
  if (q2 == std::string::npos || q2 > gt) return false;
  value = t.substr(q1 + 1, q2 - q1 - 1);
  return true;
}

bool find_all_bytes(const byte* buffer, int length, const std::vector<byte>& pattern, std::vector<ulong64>& hits,
                    ulong64 base_offset) {
  hits.clear();
  if (length <= 0 || pattern.size() > static_cast<size_t>(length)) return false;
  return find_all_pattern_u64(buffer, static_cast<uint32>(length), pattern.data(), static_cast<uint32>(pattern.size()),
                              hits, base_offset);
}
