#include "utils/markup_split.h"

#include "utils/byte_order.h"

namespace {

template <class Char>
Char lower_ascii(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c + 32) : c;
}

template <class Str>
bool starts_nocase(const Str& s, const char* prefix) {
  size_t i = 0;
  for (; prefix[i]; ++i)
    if (i >= s.size() || lower_ascii(s[i]) != static_cast<typename Str::value_type>(prefix[i])) return false;
  return true;
}

// `at(i)` gives character i as a long, so "no character" (-1) after the
// last one cannot be mistaken for one.
template <class Str, class At>
bool split(long n, At at, std::vector<Str>* pieces) {
  if (!pieces) return false;
  typedef typename Str::value_type Char;
  Str text, tag;
  bool in_tag = false, raw = false;
  for (long i = 0; i < n; ++i) {
    const long c = at(i), next = i + 1 < n ? at(i + 1) : -1;
    bool ordinary = true;
    if (c == '<' && !(raw && next != '/')) {
      pieces->push_back(text);
      text.clear();
      in_tag = true;
      raw = !raw && (next == '?' || next == '%');
      tag += static_cast<Char>('<');
      ordinary = false;
    }
    if (ordinary) (in_tag ? tag : text) += static_cast<Char>(c);
    if (c != '>') continue;
    if (tag.empty()) {
      in_tag = false;
    } else if (raw) {
      // Inside a "<?" or "<%" block, also one opened within a tag that was
      // still open: only "?>" or "%>" ends the tag.
      const long before = at(i - 1);
      if (before == '?' || before == '%') {
        raw = false;
        pieces->push_back(tag);
        tag.clear();
        in_tag = false;
      }
    } else {
      if (starts_nocase(tag, "<pre>") || starts_nocase(tag, "<script")) raw = true;
      pieces->push_back(tag);
      tag.clear();
      in_tag = false;
    }
  }
  return !pieces->empty();
}

template <class Str>
Str normalize(const Str& piece) {
  typedef typename Str::value_type Char;
  bool dq = false, sq = false, eq = false, bl = false, oq = false, av = false, cq = false;
  Str out;
  out.reserve(piece.size() + 8);
  for (const Char c : piece) {
    // 1: classify; `quoted_step` false goes straight to the closing step.
    bool quoted_step = true;
    if (c == '\t' || c == '\n' || c == '\r') {
      if (av) cq = true;
      if (bl || eq) continue;
    } else if (c == ' ') {
      const bool drop = bl || eq;
      bl = true;
      if (av) cq = true;
      if (drop) continue;
    } else if (c == '"' || c == '\'') {
      bool& mine = c == '"' ? dq : sq;
      const bool other = c == '"' ? sq : dq;
      eq = false;
      if (!other) {
        if (mine) {
          quoted_step = false;
        } else {
          mine = true;
          out += c;
          continue;
        }
      }
    } else if (c == '=') {
      if (dq || sq) {
        out += c;
        continue;
      }
      eq = true;
      if (bl && !out.empty()) out.erase(out.size() - 1);
      quoted_step = false;
    } else if (c == '>') {
      if (av) cq = true;
      bl = false;
    } else {
      if (eq) {
        eq = false;
        oq = true;
      }
      bl = false;
    }
    // 2: inside quotes the character stays as it is.
    if (quoted_step && (dq || sq)) {
      out += c;
      continue;
    }
    // 3
    if (oq) {
      out += static_cast<Char>('"');
      out += c;
      oq = false;
      av = true;
    } else if (cq) {
      out += static_cast<Char>('"');
      out += lower_ascii(c);
      cq = false;
      av = false;
    } else {
      out += lower_ascii(c);
    }
    dq = sq = false;
  }
  return out;
}

template <class Str>
bool normalize_all(std::vector<Str>* pieces) {
  if (!pieces || pieces->empty()) return false;
  for (Str& p : *pieces) {
    if (p.empty() || p[0] != '<') continue;
    if (p.size() > 1 && (p[1] == '?' || p[1] == '%')) continue;
    p = normalize(p);
  }
  return true;
}

}  // namespace

bool split_markup(const char* text, int length, std::vector<std::string>* pieces) {
  if (!text || length < 1) return pieces && !pieces->empty();
  return split<std::string>(length, [text](long i) { return static_cast<long>(static_cast<unsigned char>(text[i])); }, pieces);
}

bool split_markup_w(const byte* text, int length, std::vector<std::wstring>* pieces) {
  if (!text || length < 2) return pieces && !pieces->empty();
  return split<std::wstring>(length / 2, [text](long i) { return static_cast<long>(load_u16(text + 2 * i)); },
                             pieces);
}

bool normalize_tags(std::vector<std::string>* pieces) { return normalize_all(pieces); }
bool normalize_tags_w(std::vector<std::wstring>* pieces) { return normalize_all(pieces); }
