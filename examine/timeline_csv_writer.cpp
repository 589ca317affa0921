#include "examine/timeline_csv_writer.h"

#include <string>

#include "app/row_cell.h"
#include "examine/timeline_row_text.h"
#include "utils/number_append.h"

namespace {

void write_header(std::ostream& out, const timeline_record& rec) {
  const std::string& sep = rec.m_separator;
  std::string line = "mft entry" + sep + "seqnum" + sep + "parent mft" + sep + "type" + sep + "ext" + sep + "ref" + sep;
  if (!rec.m_omit_cluster_info) line += "size data" + sep;
  line += "date" + sep + "time [UTC]" + sep + "MACB" + sep;
  if (!rec.m_omit_cluster_info) line += "data type" + sep;
  line += "other info" + sep + "path and filename" + sep;
  line += rec.m_omit_cluster_info ? "various data types" : "clusters/relevant data";
  line += sep;
  if (rec.m_copy_files)
    line += "extracted file path/file";
  else if (rec.m_include_header)
    line += "header info";
  out << line << std::endl;
}

}  // namespace

bool write_timeline_csv(bool* first, std::ostream& out, const macb_time_map& times, timeline_record& rec) {
  if (first != nullptr && *first) {
    *first = false;
    write_header(out, rec);
  }
  const std::string& sep = rec.m_separator;
  const bool hex = rec.m_hex_extended != 0;
  std::string date, time, name;
  for (const auto& kv : times) {
    if (!timeline_row_texts(rec, kv.first, kv.second, date, time, name)) continue;

    // A text cell may hold a name from the evidence (the extension, the name
    // text, a link's target in the other info) or a path the user typed (the
    // copy's): none may open a quoted cell or break the row.
    std::string line;
    append_cell(line, rec.m_inode);
    line += sep;
    append_decimal(line, rec.m_inode_seqnum);
    line += sep;
    if (hex) {
      append_hex(line, rec.m_parent_inode, 8);
    } else {
      append_decimal(line, rec.m_parent_inode);
    }
    line += sep;
    append_cell(line, rec.m_notes);
    line += sep;
    append_cell(line, rec.m_extension);
    line += sep;
    std::string ref;
    append_decimal(ref, rec.m_ref_count);
    if (hex && ref.size() < 3) ref.insert(0, 3 - ref.size(), ' ');
    line += ref + sep;
    if (!rec.m_omit_cluster_info) {
      if (hex) {
        append_hex(line, rec.m_size_data, 8);
      } else {
        append_decimal(line, rec.m_size_data);
      }
      line += sep;
    }
    line += date + sep + " " + time + sep + timeline_macb_text(kv.second.flags) + sep;
    if (!rec.m_omit_cluster_info) {
      append_cell(line, rec.m_desc);
      line += sep;
    }
    append_cell(line, rec.m_extra);
    line += sep;
    append_cell(line, name);
    line += sep;
    append_cell(line, rec.m_clusters);
    line += sep;
    if (rec.m_copy_files || rec.m_include_header)
      append_cell(line, !rec.m_spare_text.empty() ? rec.m_spare_text : timeline_header_bytes(rec.m_header_bytes));
    keep_row_on_its_line(line, 0);
    out << line << std::endl;
  }
  return true;
}
