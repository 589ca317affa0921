#pragma once
// Trimming, joining and cleaning of narrow and wide text. Callers depend on
// the exact set of characters each one removes.
#include <string>
#include <vector>

#include "utils/types.h"

// Blanks, tabs, CR and LF from both ends; false (text empty) when nothing
// else is left.
bool trim(std::string& text);
// Spaces from both ends, then tabs from both ends, then trailing CRs, then
// trailing LFs, each pass on the result of the one before; false (text
// empty) when only spaces or only tabs were there.
bool trim_w(std::wstring& text);
void trim_crlf(std::string& text);
int strip_trailing_crlf(std::string& text);
// Erases the last count characters (all when fewer); false when the text is
// empty or count is 0 or negative (text unchanged).
bool remove_last_chars(std::string& text, int count);
int remove_char_w(std::wstring& text, wchar_t ch);

bool join_quoted(std::string& out, int count, char** items);
bool join_quoted_w(std::wstring& out, int& count, const std::vector<std::wstring>& items);

bool filter_printable(std::string& out, const byte* text, int length, bool keep_line_ends,
                      char replacement);
bool lf_to_crlf(const byte* text, int length, std::string& out);
