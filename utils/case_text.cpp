#include "utils/case_text.h"

#include <strings.h>

#include <cctype>
#include <cstring>
#include <cwchar>
#include <cwctype>

namespace {

// The ctype functions take an unsigned char value; a plain char above 0x7F
// would be negative and undefined.
int lower_of(char c) { return std::tolower(static_cast<unsigned char>(c)); }
int upper_of(char c) { return std::toupper(static_cast<unsigned char>(c)); }

}  // namespace

void to_lower(std::string& text) {
  for (char& c : text) c = static_cast<char>(lower_of(c));
}

void to_upper(std::string& text) {
  for (char& c : text) c = static_cast<char>(upper_of(c));
}

void to_lower_w(std::wstring& text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

void to_upper_w(std::wstring& text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
}

void lower_buffer(char* buffer, int size) {
  if (!buffer || size <= 1) return;
  for (int i = 0; i < size - 1; ++i) buffer[i] = static_cast<char>(lower_of(buffer[i]));
}

bool char_less_nocase(const char& a, const char& b) { return upper_of(a) < upper_of(b); }
bool char_equal_nocase(const char& a, const char& b) { return upper_of(a) == upper_of(b); }
bool char_equal_nocase_value(char a, char b) { return upper_of(a) == upper_of(b); }
bool wchar_less_nocase(const wchar_t& a, const wchar_t& b) {
  return std::towupper(static_cast<wint_t>(a)) < std::towupper(static_cast<wint_t>(b));
}
bool wchar_equal_nocase(const wchar_t& a, const wchar_t& b) {
  return std::towupper(static_cast<wint_t>(a)) == std::towupper(static_cast<wint_t>(b));
}

int compare(const char* a, const char* b, bool nocase) {
  if (!a && !b) return 0;
  if (!b) return 1;
  if (!a) return -1;
  return nocase ? strcasecmp(a, b) : std::strcmp(a, b);
}

int compare_w(const wchar_t* a, const wchar_t* b, bool nocase) {
  if (!a && !b) return 0;
  if (!b) return 1;
  if (!a) return -1;
  return nocase ? wcscasecmp(a, b) : std::wcscmp(a, b);
}

int compare_n_nocase(const char* a, const char* b, int n) {
  for (int i = 0; i < n; ++i) {
    const int x = upper_of(a[i]);
    const int y = upper_of(b[i]);
    if (x != y) return static_cast<signed char>(x) < static_cast<signed char>(y) ? -1 : 1;
    if (x == 0) break;
  }
  return 0;
}

int compare_n_nocase_w(const wchar_t* a, const wchar_t* b, int n) {
  for (int i = 0; i < n; ++i) {
    const wint_t x = std::towupper(static_cast<wint_t>(a[i]));
    const wint_t y = std::towupper(static_cast<wint_t>(b[i]));
    if (x != y) return static_cast<uint32_t>(x) < static_cast<uint32_t>(y) ? -1 : 1;
    if (x == 0) break;
  }
  return 0;
}

const char* find_char_nocase(const char* buffer, unsigned count, const char* c) {
  if (!buffer || !c) return nullptr;
  const int want = upper_of(*c);
  for (unsigned i = 0; i < count; ++i) {
    if (upper_of(buffer[i]) == want) return buffer + i;
  }
  return nullptr;
}

const wchar_t* find_char_nocase_w(const wchar_t* buffer, int count, const wchar_t* c) {
  if (!buffer || !c) return nullptr;
  const wint_t want = std::towupper(static_cast<wint_t>(*c));
  for (int i = 0; i < count; ++i) {
    if (std::towupper(static_cast<wint_t>(buffer[i])) == want) return buffer + i;
  }
  return nullptr;
}

int find_nocase(std::string& text, std::string& what, bool nocase) {
  if (nocase) {
    to_lower(text);
    to_lower(what);
  }
  const size_t pos = text.find(what);
  if (pos == std::string::npos || pos == text.size()) return -1;
  return static_cast<int>(pos);
}

int find_nocase_w(std::wstring& text, std::wstring& what, bool nocase) {
  if (nocase) {
    to_lower_w(text);
    to_lower_w(what);
  }
  const size_t pos = text.find(what);
  if (pos == std::wstring::npos || pos == text.size()) return -1;
  return static_cast<int>(pos);
}

bool starts_equal_nocase(std::string& a, std::string& b, int n) {
  to_lower(a);
  to_lower(b);
  if (n <= 0) return true;
  const size_t k = static_cast<size_t>(n);
  if (k > a.size() || k > b.size()) return false;
  return a.compare(0, k, b, 0, k) == 0;
}

bool starts_equal_nocase_w(std::wstring& a, std::wstring& b, int n) {
  to_lower_w(a);
  to_lower_w(b);
  if (n <= 0) return true;
  const size_t k = static_cast<size_t>(n);
  if (k > a.size() || k > b.size()) return false;
  return a.compare(0, k, b, 0, k) == 0;
}

bool equals_nocase(std::string& a, std::string& b) {
  to_lower(a);
  to_lower(b);
  return a == b;
}

bool equals_nocase_w(std::wstring& a, std::wstring& b) {
  to_lower_w(a);
  to_lower_w(b);
  return a == b;
}

bool equal_n_nocase(const char* a, const char* b, int n) {
  if (n <= 0) return true;
  if (!a || !b) return false;
  for (int i = 0; i < n; ++i) {
    if (lower_of(a[i]) != lower_of(b[i])) return false;
  }
  return true;
}

const char* strstr_nocase(const char* text, const char* what) {
  if (!text || !what) return nullptr;
  std::string t(text), w(what);
  to_lower(t);
  to_lower(w);
  const char* hit = std::strstr(t.c_str(), w.c_str());
  return hit ? text + (hit - t.c_str()) : nullptr;
}

const wchar_t* wcsstr_nocase(const wchar_t* text, const wchar_t* what) {
  if (!text || !what) return nullptr;
  std::wstring t(text), w(what);
  to_lower_w(t);
  to_lower_w(w);
  const wchar_t* hit = std::wcsstr(t.c_str(), w.c_str());
  return hit ? text + (hit - t.c_str()) : nullptr;
}
