#include "utils/env_expand.h"

#include <cstdlib>

#include "utils/utf_convert.h"

namespace {

const size_t kMostLength = 512;
// A value that names itself (A set to %A%) would be replaced by itself for
// ever without growing; the number of replacements ends that.
const int kMostReplacements = 64;

}  // namespace

std::string expand_env_vars(std::string text) {
  size_t p = 0;
  int replaced = 0;
  while (text.size() <= kMostLength) {
    const size_t open = text.find('%', p);
    if (open == std::string::npos) break;
    const size_t close = text.find('%', open + 1);
    if (close == std::string::npos) break;
    const std::string name = text.substr(open + 1, close - open - 1);
    const char* value = std::getenv(name.c_str());
    if (value && replaced < kMostReplacements) {
      text.replace(open, close - open + 1, value);
      ++replaced;
      p = open;
    } else {
      p = close + 1;
    }
  }
  return text;
}

std::wstring expand_env_vars_w(std::wstring& text) {
  std::string narrow;
  wstring_to_utf8_into(narrow, text);
  utf8_to_wstring_into(text, expand_env_vars(narrow));
  return text;
}
