#pragma once
// Case mapping and case-insensitive comparison and search, narrow and wide.
// The folding is the system library's in the process's default locale
// (nothing here sets one). Predicates and counted comparisons fold to upper
// case; string searches and equality fold to lower case.
#include <string>

void to_lower(std::string& text);
void to_upper(std::string& text);
void to_lower_w(std::wstring& text);
void to_upper_w(std::wstring& text);
// Lower-cases the first size - 1 bytes; the last (the terminator's place)
// is left alone.
void lower_buffer(char* buffer, int size);

bool char_less_nocase(const char& a, const char& b);
bool char_equal_nocase(const char& a, const char& b);
bool char_equal_nocase_value(char a, char b);
bool wchar_less_nocase(const wchar_t& a, const wchar_t& b);
bool wchar_equal_nocase(const wchar_t& a, const wchar_t& b);

// strcmp / strcasecmp with nulls ordered first: both null 0, only b null 1,
// only a null -1.
int compare(const char* a, const char* b, bool nocase);
int compare_w(const wchar_t* a, const wchar_t* b, bool nocase);
int compare_n_nocase(const char* a, const char* b, int n);
int compare_n_nocase_w(const wchar_t* a, const wchar_t* b, int n);

const char* find_char_nocase(const char* buffer, unsigned count, const char* c);
const wchar_t* find_char_nocase_w(const wchar_t* buffer, int count, const wchar_t* c);

// With nocase both arguments are lower-cased in place first. -1 when not
// found (or found at the very end of the text).
int find_nocase(std::string& text, std::string& what, bool nocase);
int find_nocase_w(std::wstring& text, std::wstring& what, bool nocase);
// Lower-case both arguments in place.
bool starts_equal_nocase(std::string& a, std::string& b, int n);
bool starts_equal_nocase_w(std::wstring& a, std::wstring& b, int n);
bool equals_nocase(std::string& a, std::string& b);
bool equals_nocase_w(std::wstring& a, std::wstring& b);
bool equal_n_nocase(const char* a, const char* b, int n);

const char* strstr_nocase(const char* text, const char* what);
const wchar_t* wcsstr_nocase(const wchar_t* text, const wchar_t* what);
