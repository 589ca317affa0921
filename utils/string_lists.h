#pragma once
// Splitting texts into lists of pieces, and small operations on lists of
// strings. Splitters append to the caller's list (unless stated), skip
// empty pieces and never throw on bad input.
#include <string>
#include <utility>
#include <vector>

#include "utils/types.h"

// Pieces between separators, empty ones dropped; the text ends at its first
// NUL unless the separator is NUL. False for an empty text.
bool split_w(const std::wstring& s, wchar_t separator, std::vector<std::wstring>& out);
bool split_w_trim(const std::wstring& s, wchar_t separator, std::vector<std::wstring>& out, bool trim);
bool split_nul_list_w(const std::vector<wchar_t>& chars, std::vector<std::wstring>& out);
int split_wchars(const wchar_t* buffer, int count, wchar_t separator, std::vector<std::wstring>& out,
                 uint32& separators, bool trim);
int split_bytes(const char* buffer, int length, char separator, std::vector<std::string>& out,
                uint32& separators, bool trim);
int split_at_pair(const byte* buffer, int length, uint16 separator, std::vector<std::string>& out, bool trim);
// -1: a list of NUL-terminated UTF-16 strings ended by an empty one;
// otherwise the first byte_length / 2 units as one string.
void split_utf16_list(const uint16* buffer, std::vector<std::wstring>& out, int byte_length);
void split_utf16_nul_list(const uint16* buffer, std::vector<std::wstring>& out, int byte_length);
int split_words_quoted(const char* text, int most_words, std::vector<std::string>& out, bool join_quotes);
bool split_words(const std::string& s, std::vector<std::string>& out);
bool find_prefixed_lines(const char* text, uint32 size, const char* prefix, std::vector<std::string>& out,
                         bool all);

bool erase_at_w(int index, std::vector<std::wstring>& list);
bool erase_at(int index, std::vector<std::string>& list);
bool remove_at_u32(int index, uint32& count, uint32* array);
bool merge_sorted_unique(const std::vector<std::string>& a, const std::vector<std::string>& b,
                         std::vector<std::string>& out, bool lower);
void strings_to_wstrings(const std::vector<std::string>& in, std::vector<std::wstring>& out);
void wstrings_to_strings(const std::vector<std::wstring>& in, std::vector<std::string>& out);
bool column_widths(std::vector<uint32>& widths, const std::vector<std::vector<std::string>>& rows);
bool strings_to_utf16_multi(const std::vector<std::string>& in, std::vector<byte>& out);
bool text_to_pairs(const char* text, int length, std::vector<std::pair<std::string, std::string>>& out);
