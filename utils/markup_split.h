#pragma once
// Markup cut into an ordered list of pieces, each a run of text or one
// whole tag, and tags rewritten into one canonical form (lower-case names,
// single blanks, no blanks around '=', unquoted values double-quoted) so
// that later steps recognise them by prefix. "<?"/"<%" blocks and the
// content of <pre> and <script> elements stay whole.
#include <string>
#include <vector>

#include "utils/types.h"

// Appends pieces; text or a tag still open at the end is not added. True
// when the list holds a piece afterwards.
bool split_markup(const char* text, int length, std::vector<std::string>* pieces);
// UTF-16LE bytes, length / 2 units, one wide character per unit.
bool split_markup_w(const byte* text, int length, std::vector<std::wstring>* pieces);
// Rewrites every tag piece (one that begins with '<' but not "<?" or "<%")
// in place; false for an empty list.
bool normalize_tags(std::vector<std::string>* pieces);
bool normalize_tags_w(std::vector<std::wstring>* pieces);
