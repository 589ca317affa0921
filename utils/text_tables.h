#pragma once
// Aids for text tables: column widths kept row by row, and tab-separated
// columns aligned with spaces, in memory or from file to file.
#include <string>
#include <vector>

#include "utils/types.h"

// Each cell widens its column to its byte length, capped at max_width;
// new columns are appended; widths never shrink. False for an empty row.
bool update_column_widths(std::vector<uint32>& widths, const std::vector<std::string>& row, uint32 max_width);
// Every tab becomes spaces by the column rule (tab width 0 means 4); line
// ends are CR LF when the text has any, else LF, else CR, and each line
// counts its columns afresh. With allow_wide a text holding the bytes 09 00
// is taken as UTF-16LE and handed to expand_tabs_wide. False (out
// untouched) when the text holds no tab, or when the memory for its tabs,
// line ends or expansion cannot be had.
bool expand_tabs(const byte* text, uint32 length, int tab_width, std::string& out, bool allow_wide);
// The same over UTF-16LE code units: tabs, line ends and columns are
// counted in units and each space is written as 20 00; an odd last byte is
// copied as it stands. False (out untouched) as above.
bool expand_tabs_wide(const byte* text, uint32 length, int tab_width, std::string& out);
// Reads in_path whole and writes its expansion (or, without a tab, the
// text unchanged) into the file out_path names, which may be in_path
// itself, as replace_file_contents writes it (utils/file_rewrite.h); false
// when the input cannot be read, is longer than 4 GiB - 1 bytes or cannot
// be held in memory with its expansion (the output then untouched), or
// when the output cannot be written.
bool expand_tabs_in_file(const char* in_path, const char* out_path, int tab_width, bool allow_wide);
