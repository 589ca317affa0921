#include "utils/env_expand.h"

#include <cstdlib>

#include "utils/utf_convert.h"

namespace {

const size_t kMostLength = 512;

}  // namespace

std::string expand_env_vars(std::string text) {
  size_t p = 0;
  // Values that name each other without growing the text (A set to %A%, or
  // A to %B% and B to %A%) would be replaced for ever. Each replacement
  // leaves the scan at a state (text, position) that decides everything
  // after it, so such a loop returns to a state it has been in: one saved
  // state, renewed at every power of two of replacements, meets the loop
  // within twice its length (Brent). The reference found there is then
  // left as written, and the scan moves on past it. Any text whose
  // expansion ends is expanded in full, however many references it holds.
  std::string seen_text;
  size_t seen_at = std::string::npos;
  size_t power = 1, steps = 1;
  while (text.size() <= kMostLength) {
    const size_t open = text.find('%', p);
    if (open == std::string::npos) break;
    const size_t close = text.find('%', open + 1);
    if (close == std::string::npos) break;
    const std::string name = text.substr(open + 1, close - open - 1);
    const char* value = std::getenv(name.c_str());
    if (!value) {
      p = close + 1;
      continue;
    }
    if (open == seen_at && text == seen_text) {
      p = close + 1;
      seen_at = std::string::npos;
      power = steps = 1;
      continue;
    }
    if (steps == power) {
      seen_text = text;
      seen_at = open;
      power *= 2;
      steps = 0;
    }
    ++steps;
    text.replace(open, close - open + 1, value);
    p = open;
  }
  return text;
}

std::wstring expand_env_vars_w(std::wstring& text) {
  std::string narrow;
  wstring_to_utf8_into(narrow, text);
  utf8_to_wstring_into(text, expand_env_vars(narrow));
  return text;
}
