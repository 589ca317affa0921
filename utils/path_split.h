#pragma once
// Taking paths apart into directory, leaf, base name and extension, and
// rewriting paths and texts by substring. The backslash is the separator;
// a slash counts only where no backslash stands.
#include <string>

#include "utils/types.h"

// dir is the text before the last separator (that is not the first
// character), leaf the text after it; without one dir is "." and leaf the
// whole path. A ".." leaf becomes "." with the ".." kept on dir. False for
// an empty or null path (outputs untouched).
bool split_path(const std::string& path, std::string& dir, std::string& leaf);
bool split_path(const char* path, std::string& dir, std::string& leaf);
// The leaf is cut at its first '.': base before it, ext after it. The
// three outputs are emptied first, also when the path is refused.
bool split_path_ext(const char* path, std::string& dir, std::string& base, std::string& ext);

// The wide twins behave as the narrow forms above.
bool split_path_w(const std::wstring& path, std::wstring& dir, std::wstring& leaf);
bool split_path_utf16(const uint16* path, std::wstring& dir, std::wstring& leaf);
bool split_path_ext_w(const std::wstring& path, std::wstring& dir, std::wstring& name, std::wstring& ext);

// Replaces the first occurrence of what; with nocase the caller's what is
// lower-cased in place and a lower-cased copy of s is searched. False when
// absent. Called in a loop by callers that want every occurrence replaced,
// which ends because each call must find a new match.
bool replace_first(std::string& s, std::string& what, const std::string& with, bool nocase);
bool replace_first_nocase(std::string& s, const char* what, const char* with);
// Every non-overlapping occurrence; empty when s, what or with is empty.
std::string replace_all(const std::string& s, const std::string& what, const std::string& with);
bool erase_first(std::string& s, std::string& what, bool nocase);
bool erase_first_in_place(char* s, const char* what, bool nocase);
bool erase_first_in_place_w(wchar_t* s, const wchar_t* what, bool nocase);
// Cuts s at the first occurrence of what; with nocase only s is folded.
bool erase_from(std::string& s, const std::string& what, bool nocase);
bool erase_from(std::string& s, char c, bool nocase);
void escape_chars(std::string& s, const std::string& set);
bool normalize_system_path(const char* path, std::string& out, const char* system_root);
