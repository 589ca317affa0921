// One cell of a delimited row as readers take it back, against goldens
// written from the cell rule.
#include "app/row_cell.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(RowCell, LineBreaksLeadingQuoteAndSeparatorBecomeBlanks) {
  struct cell_case {
    std::string row;
    size_t from;
    char separator;
    std::string expected;
  } cases[] = {
      // Only the cell changes: the row before it keeps its line break and quote.
      {"a\n\"b,\"c\r\nd,e\"", 5, ',', "a\n\"b, c  d e\""},
      {"a,b\",c", 2, ',', "a,b\" c"},  // a quote inside the cell opens nothing
      {"\"x,y\n", 0, 0, " x,y "},
      {"\"\"", 0, 0, " \""},
      {"k|\"v|w", 2, '|', "k| v w"},
      {"ab", 2, ',', "ab"},  // an empty cell at the end
      {"ab", 5, ',', "ab"},  // past the end: nothing
      // Every other byte stays: tabs, other controls, UTF-8.
      {"\t\x01\xc3\xa9\x7f", 0, 0, "\t\x01\xc3\xa9\x7f"},
  };
  for (const cell_case& c : cases) {
    std::string row = c.row;
    keep_cell_in_row(row, c.from, c.separator);
    EXPECT_EQ(row, c.expected) << c.row;
  }

  // A row of many cells: each cell's leading quote as it is appended, then
  // the line breaks of the row from where it began; what came before stays.
  std::string row = "x\n";
  append_cell(row, "\"b\nc");
  row += ',';
  append_cell(row, "d\"\r");
  row += ',';
  append_cell(row, "");
  append_cell(row, "\"");
  keep_row_on_its_line(row, 2);
  EXPECT_EQ(row, "x\n b c,d\" , ");
  keep_row_on_its_line(row, 40);
  EXPECT_EQ(row, "x\n b c,d\" , ");

  // A line that comes with its separators: a quote opens a cell only where
  // one begins, at the start or right after a separator, and only the first
  // of two does; a quote after a line break made blank begins nothing.
  const struct {
    std::string row;
    size_t from;
    std::string expected;
  } lines[] = {
      {"q \"a,\"\"\" -h \"w,\" ", 0, "q \"a, \"\" -h \"w,  "},
      {"\"a\",b\n\",\r", 0, " a\",b \", "},
      {"\",\"", 1, "\", "},  // before `from` nothing changes
      {"a,", 2, "a,"},
  };
  for (const auto& l : lines) {
    std::string line = l.row;
    keep_line_of_cells(line, l.from, ',');
    EXPECT_EQ(line, l.expected) << l.row;
  }
}

}  // namespace
