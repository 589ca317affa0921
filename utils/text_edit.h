#pragma once
// Small in-place edits: characters replaced or removed, first occurrences
// replaced or erased, trailing NULs of fixed-size fields stripped,
// characters escaped with a backslash, the first word split off.
#include <string>
#include <vector>

#include "utils/types.h"

// With nocase both the tolower and the toupper form of c are replaced.
void replace_char(std::string& s, char c, char with, bool nocase);
void replace_char_w(std::wstring& s, wchar_t c, wchar_t with, bool nocase);
int remove_char(std::string& s, char c);
void replace_char_in_buffer(char* buffer, int length, char c, char with, bool nocase);
void replace_char_in_buffer_w(wchar_t* buffer, int length, wchar_t c, wchar_t with, bool nocase);
void non_alpha_to_underscore(std::string& s);

// With nocase `what` is lower-cased in place and a lower-cased copy of s is
// searched; the parts of s that stay keep their case.
bool replace_first_w(std::wstring& s, std::wstring& what, const std::wstring& with, bool nocase);
bool replace_first_nocase_w(std::wstring& s, std::wstring what, std::wstring with);
bool erase_first_w(std::wstring& s, std::wstring& what, bool nocase);
// With nocase only s is folded: `what` matches only when written in lower case.
bool erase_from_w(std::wstring& s, const std::wstring& what, bool nocase);

bool strip_trailing_nuls(std::string& s);
bool strip_trailing_nuls_w(std::wstring& s);
bool strip_trailing_zero_bytes(std::vector<byte>& v);
bool strip_trailing_zero_units(std::vector<uint16>& v);

void escape_chars_w(std::wstring& s, const std::wstring& set);
int escape_units(std::vector<uint16>& text, const std::wstring& set);

bool first_word(const std::string& s, std::string& word);
bool remove_first_word(std::string& s, std::string& word);
