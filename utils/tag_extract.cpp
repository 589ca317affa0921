#include "utils/tag_extract.h"

#include <cstring>

#include "utils/trim_join.h"

namespace {

inline char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

const size_t kMostNameLength = 256;

// A name too long to look for is refused before the caller's value is
// touched.
bool name_too_long(const char* name) { return name && strnlen(name, kMostNameLength + 1) > kMostNameLength; }

// Shared by both attribute forms; offset and extent are relative to the
// start of `tag` (offset: the index after the '=').
bool find_attribute(const char* tag, int length, const char* name, std::string& value, uint32& offset,
                    uint32& extent) {
  value.clear();
  offset = extent = 0;
  if (!tag || !name) return false;
  const size_t n = std::strlen(name);
  // An empty name matches at the first character: the first '=' decides.
  if (static_cast<long>(n) >= length) return false;
  const size_t len = static_cast<size_t>(length);
  size_t at = len;
  for (size_t i = 0; i < len - n && at == len; ++i) {
    size_t k = 0;
    while (k < n && fold(tag[i + k]) == fold(name[k])) ++k;
    if (k == n) at = i;
  }
  if (at == len) return false;
  size_t i = at + n;
  while (i < len && tag[i] != '=') ++i;
  if (i >= len) return false;
  offset = static_cast<uint32>(i + 1);
  ++i;
  while (i < len && tag[i] == ' ') ++i;
  if (i >= len) return false;
  const char quote = tag[i];
  if (quote == '"' || quote == '\'') {
    for (++i; i < len; ++i) {
      if (tag[i] == quote) {
        extent = static_cast<uint32>(i + 1 - offset);
        return true;
      }
      if (tag[i] != '\r' && tag[i] != '\n') value += tag[i];
    }
    return false;
  }
  for (; i < len; ++i) {
    if (tag[i] == ' ' || tag[i] == '\r') {
      extent = static_cast<uint32>(i - offset);
      return true;
    }
    value += tag[i];
  }
  return false;
}

template <class Pick>
bool collect_values(const char* text, int length, std::vector<std::string>* out, Pick pick) {
  if (!text || length < 1 || !out) return false;
  std::vector<std::string> tags;
  get_tags(text, length, &tags);
  std::string value;
  for (const std::string& t : tags)
    if (pick(t, value)) out->push_back(value);
  return !out->empty();
}

bool attribute_of(const std::string& tag, const char* name, std::string& value) {
  return get_attribute(tag.data(), static_cast<int>(tag.size()), name, &value);
}

}  // namespace

bool get_text_pieces(const char* text, int length, std::vector<std::string>* out) {
  if (!text || length < 1 || !out) return false;
  bool in_tag = false;
  std::string collected;
  for (int i = 0; i < length; ++i) {
    const char c = text[i];
    if (c == '<') {
      in_tag = true;
    } else if (c == '>') {
      trim(collected);
      trim_crlf(collected);
      if (!collected.empty()) out->push_back(collected);
      collected.clear();
      in_tag = false;
    } else if (!in_tag) {
      collected += c;
    }
  }
  return !out->empty();
}

bool get_tags_with_positions(const char* text, int length, std::vector<tag_position>* out) {
  if (!text || length < 1 || !out) return false;
  bool in_tag = false;
  tag_position current;
  for (int i = 0; i < length; ++i) {
    const char c = text[i];
    if (c == '<') {
      in_tag = true;
      current.position = static_cast<uint32>(i) + 1;
    }
    if (in_tag) current.tag += c;
    if (c == '>') {
      out->push_back(current);
      current = tag_position();
      in_tag = false;
    }
  }
  return !out->empty();
}

bool get_tags(const char* text, int length, std::vector<std::string>* out) {
  if (!text || length < 1 || !out) return false;
  std::vector<tag_position> tags;
  get_tags_with_positions(text, length, &tags);
  for (tag_position& t : tags) out->push_back(std::move(t.tag));
  return !out->empty();
}

bool get_attribute(const char* tag, int length, const char* name, std::string* value) {
  if (!tag || length < 1 || !value || name_too_long(name)) return false;
  uint32 offset = 0, extent = 0;
  return find_attribute(tag, length, name, *value, offset, extent);
}

bool get_attribute_with_extent(const tag_position& tag, int length, const char* name, attribute_match* out) {
  if (!out || length < 1 || name_too_long(name)) return false;
  const int usable = length < static_cast<int>(tag.tag.size()) ? length : static_cast<int>(tag.tag.size());
  uint32 offset = 0, extent = 0;
  const bool found = find_attribute(tag.tag.data(), usable, name, out->value, offset, extent);
  out->offset = offset ? tag.position + offset - 1 : 0;
  out->length = extent;
  return found;
}

bool collect_links(const char* text, int length, link_map* links) {
  if (!text || length < 1 || !links) return false;
  std::vector<tag_position> tags;
  if (!get_tags_with_positions(text, length, &tags)) return false;
  attribute_match m;
  for (const tag_position& t : tags) {
    const int n = static_cast<int>(t.tag.size());
    if (get_attribute_with_extent(t, n, "href", &m) || get_attribute_with_extent(t, n, "src", &m))
      links->emplace(m.value, std::make_pair(m.offset, m.length));
  }
  return !links->empty();
}

bool get_image_sources(const char* text, int length, std::vector<std::string>* out) {
  return collect_values(text, length, out, [](const std::string& t, std::string& v) { return attribute_of(t, "src", v); });
}

bool get_hrefs(const char* text, int length, std::vector<std::string>* out) {
  return collect_values(text, length, out, [](const std::string& t, std::string& v) { return attribute_of(t, "href", v); });
}

bool get_links(const char* text, int length, std::vector<std::string>* out) {
  return collect_values(text, length, out, [](const std::string& t, std::string& v) {
    return attribute_of(t, "href", v) || attribute_of(t, "src", v);
  });
}
