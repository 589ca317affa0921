#include "examine/timeline_text_writer.h"

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/row_cell.h"
#include "examine/timeline_row_text.h"
#include "utils/number_append.h"
#include "utils/table_header.h"

namespace {

// The columns one record's option bytes make present, with their titles and
// minimum widths, in table order.
struct column_set {
  std::vector<std::string> titles;
  std::vector<uint32> widths;

  explicit column_set(const timeline_record& rec) {
    add(" mft entry", 10);
    add("  seq", 5);
    add("parent mft", 10);
    add("type", 4);
    add("ext", 7);
    add("ref", 3);
    if (!rec.m_omit_cluster_info) add(" size data", 11);
    add("   date", 10);
    add(" time [UTC]", 12);
    add("MACB", 33);
    if (!rec.m_omit_cluster_info) add("   data type", 14);
    add("other info", 14);
    add("path and filename", 50);
    if (rec.m_omit_cluster_info)
      add("various data types", 10);
    else
      add("clusters/relevant data", 38);
    if (rec.m_copy_files)
      add("extracted file path/file", 0);
    else if (rec.m_include_header)
      add("header info", 0);
  }
  void add(const char* title, uint32 minimum) {
    titles.push_back(title);
    widths.push_back(minimum);
  }
  // The width a header pass gives each column: title or minimum, the larger.
  std::vector<uint32> minimum_widths() const {
    std::vector<uint32> out = widths;
    for (size_t i = 0; i < out.size(); ++i)
      if (titles[i].size() > out[i]) out[i] = static_cast<uint32>(titles[i].size());
    return out;
  }
};

// The widths of the last header pass and the titles they belong to.
std::vector<uint32> column_widths;
std::vector<std::string> column_titles;

void pad(std::string& line, const std::string& value, uint32 width, bool right) {
  const size_t fill = value.size() < width ? width - value.size() : 0;
  if (right) line.append(fill, ' ');
  line += value;
  if (!right) line.append(fill, ' ');
}

// One blank, then the extension right-aligned in the width, or cut to
// width - 2 characters and "..".
void pad_extension(std::string& line, const std::string& ext, uint32 width) {
  line.push_back(' ');
  if (width < 2 || ext.size() + 1 <= width) {
    pad(line, ext, width, true);
  } else {
    line += ext.substr(0, width - 2);
    line += "..";
  }
}

std::string decimal(ulong64 value) {
  std::string text;
  append_decimal(text, value);
  return text;
}

std::string hex_or_decimal(ulong64 value, bool hex, unsigned digits) {
  std::string text;
  if (hex)
    append_hex(text, value, digits);
  else
    append_decimal(text, value);
  return text;
}

}  // namespace

bool write_timeline_text(bool* first, std::ostream& out, const macb_time_map& times, timeline_record& rec) {
  const column_set columns(rec);
  if (first != nullptr && *first) {
    *first = false;
    std::vector<uint32> offsets;
    std::map<std::string, uint32> titles_map;
    std::vector<uint32> widths = columns.widths;
    // The table layout comes from the shared header formatter; the line is
    // written here, as a separator longer than the two characters of the
    // closing blank and line end must not leave its tail on the next line.
    std::ostringstream scratch;
    format_table_header(scratch, offsets, titles_map, widths, columns.titles, rec.m_separator);
    column_widths = widths;
    column_titles = columns.titles;
    std::string line;
    for (size_t i = 0; i < columns.titles.size(); ++i) {
      if (i != 0) line += rec.m_separator;
      pad(line, columns.titles[i], i < widths.size() ? widths[i] : 0, false);
    }
    out << line << ' ' << std::endl;
  }
  // Rows follow the widths of the header pass only when they have its columns.
  const std::vector<uint32> widths =
      column_titles == columns.titles && column_widths.size() == columns.titles.size() ? column_widths
                                                                                          : columns.minimum_widths();
  const std::string& sep = rec.m_separator;
  const bool hex = rec.m_hex_extended != 0;
  const bool last_column = rec.m_copy_files || rec.m_include_header;
  std::string date, time, name;
  for (const auto& kv : times) {
    if (!timeline_row_texts(rec, kv.first, kv.second, date, time, name)) continue;

    size_t c = 0;
    std::string line;
    auto column = [&](const std::string& value, bool right) {
      pad(line, value, widths[c++], right);
      line += sep;
    };
    column(rec.m_inode, true);
    column(decimal(rec.m_inode_seqnum), true);
    column(hex_or_decimal(rec.m_parent_inode, hex, 8), true);
    column(rec.m_notes, true);
    pad_extension(line, rec.m_extension, widths[c++]);
    line += sep;
    column(decimal(rec.m_ref_count), true);
    if (!rec.m_omit_cluster_info) column(hex_or_decimal(rec.m_size_data, hex, 9), true);
    column(date, false);
    column(time, false);
    column(timeline_macb_text(kv.second.flags), false);
    if (!rec.m_omit_cluster_info) column(rec.m_desc, true);
    column(rec.m_extra, true);
    column(name, false);
    pad(line, rec.m_clusters, widths[c++], false);
    if (last_column) {
      line += sep;
      if (!rec.m_spare_text.empty())
        pad(line, rec.m_spare_text, widths[c], false);
      else
        line += timeline_header_bytes(rec.m_header_bytes);
    }
    // A name from the evidence may hold a line break: the row stays one line
    // of the table, its widths unchanged.
    keep_row_on_its_line(line, 0);
    out << line << std::endl;
  }
  return true;
}
