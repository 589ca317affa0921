#include "utils/html_escape.h"

#include <cstring>
#include <vector>

#include "utils/markup_scan.h"
#include "utils/utf16_text.h"

std::string html_escape(const char* text) {
  static const std::vector<std::string> from{"<", ">", "&"};
  static const std::vector<std::string> to{"&lt;", "&gt;", "&amp;"};
  if (!text) return std::string();
  std::string out;
  if (!substitute_strings(reinterpret_cast<const byte*>(text), static_cast<int>(std::strlen(text)), from, to, out,
                          true, true))
    return latin1_to_utf8(text);
  // The escape leaves no byte above 0x7E, so this changes nothing; it keeps
  // the result UTF-8 should the table ever carry non-ASCII text.
  return latin1_to_utf8(out.c_str());
}

std::wstring html_escape_w(const std::wstring& text) {
  static const std::vector<std::wstring> from{L"<", L">", L"&"};
  static const std::vector<std::wstring> to{L"&lt;", L"&gt;", L"&amp;"};
  std::wstring out;
  if (!substitute_strings_w(text.data(), static_cast<int>(text.size()), from, to, out, true, true)) return text;
  return out;
}
