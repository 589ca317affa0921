#pragma once
// Sections from an opening tag to its closing tag, and every occurrence of
// a string, cut out of a buffer or a file. Tag names match without regard
// to case ("<" name opens, "</" name ">" closes); no comparison looks past
// the end of the data. The file forms build the new content completely and
// then write it into the file they name, as replace_file_contents writes
// it (utils/file_rewrite.h); a file longer than an int can measure is
// refused whole (false, nothing written).
#include <string>

#include "utils/types.h"

// In place; *length receives the new length (unchanged content when no
// section was found). "/>" ends a section at nesting depth 0. False, with
// buffer and length as they were, for a null buffer, length or name, a
// length of 0, or when the memory for the work buffer cannot be had.
bool remove_tag_sections(char* buffer, int* length, const char* tag);
// Over UTF-16 code units (host order) with the length in bytes; sections
// end only at their closing tag. False as above.
bool remove_tag_sections_w(uint16* buffer, int* length, const wchar_t* tag);
// The tag name held as a wide string; it ends at its first NUL, as the
// pointer form reads it.
bool remove_tag_sections_w(uint16* buffer, int* length, const std::wstring& tag);
// The text between the first "<" tag ... ">" and the next "</" tag ">"
// (case-sensitive), within the first `length` bytes.
bool get_tag_text(const char* text, int length, const char* tag, std::string* out);
// Every occurrence removed; *buffer must come from new[] and is replaced
// by a new array when something was removed. False for an empty string,
// and, with the buffer and length as they were, when the memory for the
// new array cannot be had.
bool remove_string(char** buffer, int* length, const char* text, bool nocase);
// Script sections removed from in_path, written to in_path (in_place), to
// out_path, or with neither to standard output. A file the memory left
// cannot hold, or cannot cut, is written nowhere and gives true.
bool remove_scripts_from_file(const char* in_path, const char* out_path, bool in_place);
// A file starting with FF FE is treated as UTF-16LE. Written to out_path,
// or back to in_path when out_path is null. False, nothing written, when
// the memory to read or cut it cannot be had.
bool remove_tag_sections_from_file(const char* in_path, const char* out_path, const char* tag);
// False, nothing written, when the memory to read or cut the file cannot be
// had.
bool remove_string_from_file(const char* path, const char* text, bool nocase);
