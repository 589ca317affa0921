#pragma once
// The header line of a fixed-width text table and the column layout that
// its rows follow: each column's width, where each column starts, and the
// width of each column by its trimmed, lower-cased title.
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "utils/types.h"

// widths may hold one minimum width per title on input (ignored when the
// counts differ) and holds the widths used on output; offsets gets 0 and
// then the running sum of width + separator length per title. The line ends
// with the last title's field, a blank and a newline. False (nothing
// written, widths untouched) when there are no titles.
bool format_table_header(std::ostream& out, std::vector<uint32>& offsets, std::map<std::string, uint32>& titles_map,
                         std::vector<uint32>& widths, const std::vector<std::string>& titles,
                         const std::string& separator);
// The same for wide titles, written as UTF-8 (fields padded by bytes); the
// line ends with the last title's field and a newline, no blank.
bool format_table_header_w(std::ostream& out, std::vector<uint32>& offsets,
                           std::map<std::wstring, uint32>& titles_map, std::vector<uint32>& widths,
                           const std::vector<std::wstring>& titles, const std::wstring& separator);
