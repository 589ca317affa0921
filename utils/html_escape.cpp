#include "utils/html_escape.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "utils/markup_scan.h"
#include "utils/memory_limits.h"
#include "utils/utf16_text.h"

namespace {

// The table substitution takes a length that fits an int: a longer text is
// escaped a piece at a time. Every searched text is one character long, so
// no match can straddle two pieces.
const size_t kPiece = size_t(1) << 24;

// How long the escaped text will be, so that the result is made once at its
// size: a text of gigabytes must not be copied while it grows. (Should the
// tables ever change, this only sizes the first allocation.)
template <class Char>
size_t escaped_length(const Char* text, size_t length, const std::vector<std::basic_string<Char>>& from,
                      const std::vector<std::basic_string<Char>>& to) {
  size_t total = 0;
  for (size_t i = 0; i < length; ++i) {
    const Char c = text[i];
    const unsigned low = static_cast<unsigned>(c) & 0xFF;
    size_t n = 1;
    if (c != Char('\r') && c != Char('\n')) {
      if (low < 0x20 || low > 0x7E) {
        n = 3;
      } else {
        for (size_t k = 0; k < from.size(); ++k)
          if (from[k].size() == 1 && from[k][0] == c) {
            n = to[k].size();
            break;
          }
      }
    }
    // A result no string can hold is refused by its allocation.
    if (n > SIZE_MAX - total) return SIZE_MAX;
    total += n;
  }
  return total;
}

// Every piece substituted in turn and `finish`ed into the result; "" when
// memory runs out on the way.
template <class Char, class Substitute, class Finish>
std::basic_string<Char> escape_in_pieces(const Char* text, size_t length,
                                         const std::vector<std::basic_string<Char>>& from,
                                         const std::vector<std::basic_string<Char>>& to, Substitute substitute,
                                         Finish finish) {
  return or_without_memory(std::basic_string<Char>(), [&] {
    std::basic_string<Char> out;
    out.reserve(escaped_length(text, length, from, to));
    std::basic_string<Char> piece;
    for (size_t at = 0; at < length;) {
      const size_t n = std::min(kPiece, length - at);
      substitute(text + at, static_cast<int>(n), piece);
      finish(piece, out);
      at += n;
    }
    return out;
  });
}

}  // namespace

std::string html_escape(const char* text) {
  static const std::vector<std::string> from{"<", ">", "&"};
  static const std::vector<std::string> to{"&lt;", "&gt;", "&amp;"};
  if (!text) return std::string();
  const size_t length = std::strlen(text);
  if (length == 0) return latin1_to_utf8(text);
  static_assert(kPiece <= size_t(INT_MAX), "a piece's length is an int");
  return escape_in_pieces(
      text, length, from, to,
      [](const char* piece, int n, std::string& out) {
        substitute_strings(reinterpret_cast<const byte*>(piece), n, from, to, out, true, true);
      },
      // The escape leaves no byte above 0x7E, so this changes nothing (and
      // is passed over when the piece shows it); it keeps the result UTF-8
      // should the table ever carry non-ASCII text.
      [](const std::string& piece, std::string& out) {
        if (std::all_of(piece.begin(), piece.end(), [](char c) { return static_cast<unsigned char>(c) <= 0x7E; }))
          out += piece;
        else
          out += latin1_to_utf8(piece.c_str());
      });
}

std::wstring html_escape_w(const std::wstring& text) {
  static const std::vector<std::wstring> from{L"<", L">", L"&"};
  static const std::vector<std::wstring> to{L"&lt;", L"&gt;", L"&amp;"};
  if (text.empty()) return text;
  return escape_in_pieces(
      text.data(), text.size(), from, to,
      [](const wchar_t* piece, int n, std::wstring& out) {
        substitute_strings_w(piece, n, from, to, out, true, true);
      },
      [](const std::wstring& piece, std::wstring& out) { out += piece; });
}
