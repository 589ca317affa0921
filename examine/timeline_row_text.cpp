#include "examine/timeline_row_text.h"

#include <algorithm>
#include <sstream>

#include "time/time_format.h"
#include "time/zq_time.h"
#include "utils/hex_text.h"

namespace {

std::string name_text(const macb_time_entry& entry) {
  std::string text;
  bool first = true;
  for (const std::string& name : entry.names) {
    if (name.empty()) continue;
    if (first) {
      text = entry.path + name;
      if (!entry.stream.empty()) text += ":" + entry.stream;
      first = false;
    } else {
      text += " [alias: " + name + "]";
    }
  }
  for (const std::string& name : entry.short_names)
    if (!name.empty()) text += " [8.3: " + name + "]";
  return text;
}

}  // namespace

std::string timeline_macb_text(const macb_flags& flags) {
  std::ostringstream text;
  flags.print(text, false);
  return text.str();
}

std::string timeline_header_bytes(const std::vector<byte>& bytes) {
  std::string text;
  bytes_to_hex_sep(text, bytes, " ");
  return text;
}

bool timeline_row_texts(timeline_record& rec, ulong64 instant, const macb_time_entry& entry, std::string& date,
                        std::string& time, std::string& name) {
  if (rec.m_window_start != 0 && (instant < rec.m_window_start || instant > rec.m_window_end)) return false;
  zq::format_time_ms(date, time, zq::time(instant, zq::type_filetime), false);
  name = name_text(entry);
  if (rec.m_replaced_char == 0 || rec.m_replacement_char == 0) return true;
  const char from = static_cast<char>(rec.m_replaced_char);
  const char to = static_cast<char>(rec.m_replacement_char);
  // The other info (a link's target) and the clusters' text (a stream's name)
  // come from the evidence as the name does: a separator there would shift
  // every cell after it.
  for (std::string* text : {&name, &rec.m_notes, &rec.m_desc, &rec.m_extra, &rec.m_clusters})
    std::replace(text->begin(), text->end(), from, to);
  return true;
}
