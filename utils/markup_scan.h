#pragma once
// Scanners over markup text and raw buffers: one-pass replacement through
// a table of strings, a double-quoted value after a name and '=', the text
// between two markers, the n-th attribute of a tag, and every occurrence of
// a byte pattern.
#include <string>
#include <vector>

#include "utils/types.h"

// Row k of the table replaces patterns[k] by replacements[k]; the first
// pattern that matches at a position wins and the walk resumes after it.
// CR and LF are copied as they are; with escape_unprintable any other byte
// outside 0x20-0x7E becomes "%xx". out is emptied first; false for null
// text, a length of 0, an empty table or tables of different sizes (an
// empty pattern never matches); a negative length gives true and an empty
// out.
bool substitute_strings(const byte* text, int length, const std::vector<std::string>& patterns,
                        const std::vector<std::string>& replacements, std::string& out, bool ignore_case,
                        bool escape_unprintable);
// The same over wide characters; the printable test and the escape use the
// low 8 bits, and ignore_case folds only A-Z.
bool substitute_strings_w(const wchar_t* text, int length, const std::vector<std::wstring>& patterns,
                          const std::vector<std::wstring>& replacements, std::wstring& out, bool ignore_case,
                          bool escape_unprintable);
// The text between the first two double quotes after the first '=' after
// the first occurrence of name; the closing quote no more than `length`
// bytes after the start of the zero-terminated text. An empty name is
// found at the start of the text.
bool get_quoted_value(const char* text, int length, const char* name, std::string& value);
// From after the anchor (when given), the text that begins one character
// after the start marker's first character and ends before the end marker.
// Empty markers are found where the search stands: an empty end gives an
// empty value, an empty start begins the value one character on (false when
// the search stands at the end of the text).
bool extract_between(char* text, const char* anchor, const char* start, const char* end, std::string& out);
// The n-th (from 1) name="value" attribute of a zero-terminated tag.
bool parse_tag_attribute(char* tag, uint32 length, int n, std::string& name, std::string& value);
// Every offset (overlaps included) where pattern occurs, plus base_offset;
// hits emptied first; true when there was one.
bool find_all_bytes(const byte* buffer, int length, const std::vector<byte>& pattern, std::vector<ulong64>& hits,
                    ulong64 base_offset);
