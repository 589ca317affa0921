#include "app/row_cell.h"

#include <algorithm>

// Both walk their bytes with a select and a store each, without a branch,
// which the compiler makes a vector loop: rows are written by the million.

void keep_cell_in_row(std::string& row, size_t from, char separator) {
  if (from >= row.size()) return;
  if (row[from] == '"') row[from] = ' ';
  // Without a separator the third test repeats the first, and a NUL stays.
  const char third = separator != 0 ? separator : '\n';
  char* const end = &row[0] + row.size();
  for (char* at = &row[0] + from; at < end; ++at) {
    const char c = *at;
    *at = (c == '\n' || c == '\r' || c == third) ? ' ' : c;
  }
}

void keep_row_on_its_line(std::string& row, size_t from) {
  char* const end = &row[0] + row.size();
  for (char* at = &row[0] + std::min(from, row.size()); at < end; ++at) {
    const char c = *at;
    *at = (c == '\n' || c == '\r') ? ' ' : c;
  }
}

void keep_line_of_cells(std::string& row, size_t from, char separator) {
  // Each byte is judged by the one before it as it came: of '""' after a
  // separator only the first opens a cell.
  char before = separator;
  char* const end = &row[0] + row.size();
  for (char* at = &row[0] + std::min(from, row.size()); at < end; ++at) {
    const char c = *at;
    *at = (c == '\n' || c == '\r' || (c == '"' && before == separator)) ? ' ' : c;
    before = c;
  }
}
