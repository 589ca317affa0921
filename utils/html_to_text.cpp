#include "utils/html_to_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "utils/file_rewrite.h"
#include "utils/markup_scan.h"
#include "utils/markup_split.h"
#include "utils/memory_limits.h"

namespace {

// HTML has six heading levels; a damaged "<h99999999999>" must not ask
// for billions of '='.
const long max_heading_marks = 64;

void heading(std::string& out, const char* digits) {
  long n = std::strtol(digits, nullptr, 10);
  if (n < 1) return;
  if (n > max_heading_marks) n = max_heading_marks;
  out.append(static_cast<size_t>(n), '=');
}

bool starts(const char* s, const char* prefix) { return std::strncmp(s, prefix, std::strlen(prefix)) == 0; }

struct list_state {
  bool ordered = false;
  int counter = 0;
};

void convert_piece(std::string& out, const std::string& piece, list_state& list) {
  const size_t lt = piece.find('<');
  if (lt == std::string::npos) {
    out += piece;
    return;
  }
  const char* t = piece.c_str() + lt;
  const int rest = static_cast<int>(piece.size() - lt);
  if (starts(t, "<h")) {
    heading(out, t + 2);
  } else if (starts(t, "</h")) {
    heading(out, t + 3);
  } else if (starts(t, "<pre")) {
    out += "[%";
  } else if (starts(t, "<p")) {
    out += '\n';
  } else if (starts(t, "<br/>")) {
    out += "// ";
  } else if (starts(t, "<blockquote")) {
    out += "[\"";
  } else if (starts(t, "</blockquote")) {
    out += "\"]";
  } else if (starts(t, "</pre")) {
    out += "%]";
  } else if (starts(t, "<i>") || starts(t, "<strong>") || starts(t, "</i>") || starts(t, "</strong>")) {
    out += '*';
  } else if (starts(t, "<b>") || starts(t, "</b>")) {
    out += '_';
  } else if (starts(t, "<sup") || starts(t, "</sup")) {
    out += '^';
  } else if (starts(t, "<sub") || starts(t, "</sub")) {
    out += '~';
  } else if (starts(t, "<code") || starts(t, "</code")) {
    out += '%';
  } else if (starts(t, "<img ")) {
    std::string value;
    if (get_quoted_value(t, rest, "src", value)) out += "[" + value;
    if (get_quoted_value(t, rest, "alt", value)) out += ", " + value;
    out += ']';
  } else if (starts(t, "<ul")) {
    list.ordered = false;
  } else if (starts(t, "<ol")) {
    list.ordered = true;
    list.counter = 0;
  } else if (starts(t, "<li")) {
    if (list.ordered) {
      char number[24];
      std::snprintf(number, sizeof number, "%d. ", ++list.counter);
      out += number;
    } else {
      out += '*';
    }
  }
}

}  // namespace

bool html_file_to_text(const char* in_path, const char* out_path) {
  if (!in_path || !out_path) return false;
  std::string html;
  // The splitter measures its text in int: a longer file is refused whole
  // rather than converted in part.
  if (!read_file_bytes(in_path, html, INT32_MAX)) return false;
  std::string out;
  // The output is written only once it is whole: memory that runs out
  // before leaves it as it was.
  const bool converted = or_without_memory(false, [&] {
    std::vector<std::string> pieces;
    if (!html.empty() && split_markup(html.data(), static_cast<int>(html.size()), &pieces)) {
      normalize_tags(&pieces);
      list_state list;
      for (const std::string& p : pieces) convert_piece(out, p, list);
      for (const std::string& p : pieces) out += p;
    }
    return true;
  });
  if (!converted) return false;
  return replace_file_contents(out_path, out);
}
