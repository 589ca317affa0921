#include "utils/text_edit.h"

#include <cctype>
#include <cwctype>
#include <sstream>

#include "utils/case_text.h"

namespace {

// Search used by the first-occurrence edits: the position of `what` in s
// (in lower-cased copies with nocase), npos when absent or at the very end.
size_t find_first_w(const std::wstring& s, std::wstring& what, bool nocase) {
  size_t pos;
  if (nocase) {
    to_lower_w(what);
    std::wstring folded = s;
    to_lower_w(folded);
    pos = folded.find(what);
  } else {
    pos = s.find(what);
  }
  if (pos == s.size()) return std::wstring::npos;
  return pos;
}

}  // namespace

void replace_char(std::string& s, char c, char with, bool nocase) {
  std::string set(1, c);
  if (nocase) {
    set.assign(1, static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    set.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  for (size_t pos = s.find_first_of(set); pos != std::string::npos; pos = s.find_first_of(set, pos + 1)) {
    s[pos] = with;
  }
}

void replace_char_w(std::wstring& s, wchar_t c, wchar_t with, bool nocase) {
  std::wstring set(1, c);
  if (nocase) {
    // The narrow case functions are defined only for byte values.
    const uint32 v = static_cast<uint32>(c);
    if (v <= 0xFF) {
      set.assign(1, static_cast<wchar_t>(std::tolower(static_cast<int>(v))));
      set.push_back(static_cast<wchar_t>(std::toupper(static_cast<int>(v))));
    }
  }
  for (size_t pos = s.find_first_of(set); pos != std::wstring::npos; pos = s.find_first_of(set, pos + 1)) {
    s[pos] = with;
  }
}

int remove_char(std::string& s, char c) {
  std::string kept;
  kept.reserve(s.size());
  int removed = 0;
  for (char x : s) {
    if (x == c) {
      ++removed;
    } else {
      kept.push_back(x);
    }
  }
  s.swap(kept);
  return removed;
}

void replace_char_in_buffer(char* buffer, int length, char c, char with, bool nocase) {
  if (!buffer) return;
  const int want = nocase ? std::tolower(static_cast<unsigned char>(c)) : static_cast<unsigned char>(c);
  for (int i = 0; i < length; ++i) {
    const int have = nocase ? std::tolower(static_cast<unsigned char>(buffer[i]))
                            : static_cast<unsigned char>(buffer[i]);
    if (have == want) buffer[i] = with;
  }
}

void replace_char_in_buffer_w(wchar_t* buffer, int length, wchar_t c, wchar_t with, bool nocase) {
  if (!buffer) return;
  const wint_t want = nocase ? std::towlower(static_cast<wint_t>(c)) : static_cast<wint_t>(c);
  for (int i = 0; i < length; ++i) {
    const wint_t have = nocase ? std::towlower(static_cast<wint_t>(buffer[i])) : static_cast<wint_t>(buffer[i]);
    if (have == want) buffer[i] = with;
  }
}

void non_alpha_to_underscore(std::string& s) {
  for (char& c : s) {
    if (!std::isalpha(static_cast<unsigned char>(c))) c = '_';
  }
}

bool replace_first_w(std::wstring& s, std::wstring& what, const std::wstring& with, bool nocase) {
  const size_t pos = find_first_w(s, what, nocase);
  if (pos == std::wstring::npos) return false;
  s = s.substr(0, pos) + with + s.substr(pos + what.size());
  return true;
}

bool replace_first_nocase_w(std::wstring& s, std::wstring what, std::wstring with) {
  return replace_first_w(s, what, with, true);
}

bool erase_first_w(std::wstring& s, std::wstring& what, bool nocase) {
  const size_t pos = find_first_w(s, what, nocase);
  if (pos == std::wstring::npos) return false;
  s.erase(pos, what.size());
  return true;
}

bool erase_from_w(std::wstring& s, const std::wstring& what, bool nocase) {
  size_t pos;
  if (nocase) {
    std::wstring folded = s;
    to_lower_w(folded);
    pos = folded.find(what);
  } else {
    pos = s.find(what);
  }
  if (pos == std::wstring::npos || pos == s.size()) return false;
  s.erase(pos);
  return true;
}

bool strip_trailing_nuls(std::string& s) {
  const size_t last = s.find_last_not_of('\0');
  if (last != std::string::npos) s.erase(last + 1);
  return true;
}

bool strip_trailing_nuls_w(std::wstring& s) {
  const size_t last = s.find_last_not_of(L'\0');
  s.erase(last == std::wstring::npos ? 0 : last + 1);
  return true;
}

bool strip_trailing_zero_bytes(std::vector<byte>& v) {
  while (!v.empty() && v.back() == 0) v.pop_back();
  return true;
}

bool strip_trailing_zero_units(std::vector<uint16>& v) {
  while (!v.empty() && v.back() == 0) v.pop_back();
  return true;
}

void escape_chars_w(std::wstring& s, const std::wstring& set) {
  if (set.empty()) return;
  std::wstring out;
  out.reserve(s.size() + 8);
  for (wchar_t c : s) {
    if (set.find(c) != std::wstring::npos) out.push_back(L'\\');
    out.push_back(c);
  }
  s.swap(out);
}

int escape_units(std::vector<uint16>& text, const std::wstring& set) {
  if (set.empty()) return 0;
  std::vector<uint16> out;
  out.reserve(text.size() + 8);
  int inserted = 0;
  for (uint16 u : text) {
    if (set.find(static_cast<wchar_t>(u)) != std::wstring::npos) {
      out.push_back(92);
      ++inserted;
    }
    out.push_back(u);
  }
  text.swap(out);
  return inserted;
}

bool first_word(const std::string& s, std::string& word) {
  word.clear();
  if (s.empty()) return false;
  std::istringstream in(s);
  in >> word;
  return true;
}

bool remove_first_word(std::string& s, std::string& word) {
  if (!first_word(s, word)) return false;
  if (!word.empty()) {
    const size_t pos = s.find(word);
    if (pos != std::string::npos) s.erase(pos, word.size());
  }
  return true;
}
