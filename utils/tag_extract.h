#pragma once
// Structure pulled out of raw HTML text without a document tree: the text
// between tags, the tags (optionally with their places), a named
// attribute's value, and the link targets of a page. Outputs are appended
// to, never cleared; every operation is false at once for a null text or a
// length below 1.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "utils/types.h"

struct tag_position {
  std::string tag;      // from its '<' through its '>'
  uint32 position = 0;  // index of the '<' in the text plus one; 0 for a stray '>'
};

struct attribute_match {
  std::string value;
  uint32 offset = 0;  // index in the whole text of the character after the '='
  uint32 length = 0;  // from there through the closing quote or the value's end
};

// Link text -> (offset, length) of its first appearance.
typedef std::map<std::string, std::pair<uint32, uint32>> link_map;

bool get_text_pieces(const char* text, int length, std::vector<std::string>* out);
// A '>' outside a tag appends an empty tag; an unfinished tag is dropped.
bool get_tags(const char* text, int length, std::vector<std::string>* out);
bool get_tags_with_positions(const char* text, int length, std::vector<tag_position>* out);
// The first case-insensitive occurrence of name (anywhere, also inside a
// longer word), then '=', blanks, and a quoted value or an unquoted one
// ended by a blank or CR; false when the value is not complete within
// length. An empty name matches at the first character. A name longer than
// 256 characters gives false with the output left as it was.
bool get_attribute(const char* tag, int length, const char* name, std::string* value);
bool get_attribute_with_extent(const tag_position& tag, int length, const char* name, attribute_match* out);
// Each tag's href, else its src.
bool collect_links(const char* text, int length, link_map* links);
bool get_image_sources(const char* text, int length, std::vector<std::string>* out);
bool get_hrefs(const char* text, int length, std::vector<std::string>* out);
bool get_links(const char* text, int length, std::vector<std::string>* out);
