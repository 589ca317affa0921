#pragma once
// One cell of a delimited output row (CSV, log2timeline CSV, body file) as
// every reader takes it back: one cell, on its own row. Names come from the
// evidence, where NTFS and the slack carver let any character through, so a
// suspect could otherwise plant a name that splits its row in two or folds
// the next rows into it and so hides entries from a timeline.
#include <cstddef>
#include <string>

// Rewrites the cell that runs from `from` to the end of `row`: CR and LF,
// which end a row for CSV readers (mactime ends one at LF), become blanks as
// a ',' in a name does; so does a '"' at the cell's start, which a CSV reader
// takes as the opening of a quoted cell running on over separators and line
// ends; and so does every `separator` in the cell when it is not 0. Every
// other byte stays.
void keep_cell_in_row(std::string& row, size_t from, char separator = 0);

// The same rule for a row of many cells, in two steps so that a row is
// looked through once rather than cell by cell: append_cell appends `text`
// as a cell, a '"' at its start a blank; keep_row_on_its_line then makes a
// blank of every CR and LF from `from` (where the row began) to the end of
// `row`, before the row's own line end is added.
inline void append_cell(std::string& row, const std::string& text) {
  const size_t start = row.size();
  row += text;
  if (start < row.size() && row[start] == '"') row[start] = ' ';
}
void keep_row_on_its_line(std::string& row, size_t from);

// The same rule for a line of many cells that comes whole, with its
// separators (the command line echoed above a CSV header): from `from` to the
// end of `row`, CR and LF become blanks, and so does a '"' that begins a
// cell, at `from` or just after a `separator`. The separators stay.
void keep_line_of_cells(std::string& row, size_t from, char separator);
