#include "utils/table_header.h"

#include <iomanip>
#include <sstream>

#include "utils/case_text.h"
#include "utils/status_line.h"
#include "utils/trim_join.h"
#include "utils/utf_convert.h"

namespace {

template <class Key>
void keep_widest(std::map<Key, uint32>& m, const Key& key, uint32 width) {
  auto it = m.find(key);
  if (it == m.end()) m.emplace(key, width);
  else if (it->second < width) it->second = width;
}

uint32 column_width(const std::vector<uint32>& minimum, size_t count, size_t i, size_t length) {
  uint32 w = static_cast<uint32>(length);
  if (minimum.size() == count && minimum[i] > w) w = minimum[i];
  return w;
}

}  // namespace

bool format_table_header(std::ostream& out, std::vector<uint32>& offsets, std::map<std::string, uint32>& titles_map,
                         std::vector<uint32>& widths, const std::vector<std::string>& titles,
                         const std::string& separator) {
  offsets.clear();
  titles_map.clear();
  if (titles.empty()) return false;
  std::ostringstream line;
  line << std::setfill(' ') << std::left;
  offsets.push_back(0);
  std::vector<uint32> used;
  uint32 running = 0;
  for (size_t i = 0; i < titles.size(); ++i) {
    const uint32 w = column_width(widths, titles.size(), i, titles[i].size());
    running += static_cast<uint32>(separator.size()) + w;
    offsets.push_back(running);
    used.push_back(w);
    line << std::setw(static_cast<int>(w)) << titles[i] << separator;
    std::string key = titles[i];
    trim(key);
    to_lower(key);
    keep_widest(titles_map, key, w);
  }
  // The blank and the newline take the place of the last separator.
  ostream_drop_tail(line, static_cast<uint32>(separator.size()), false);
  widths = used;
  line << ' ' << '\n';
  out << line.str();
  return true;
}

bool format_table_header_w(std::ostream& out, std::vector<uint32>& offsets,
                           std::map<std::wstring, uint32>& titles_map, std::vector<uint32>& widths,
                           const std::vector<std::wstring>& titles, const std::wstring& separator) {
  offsets.clear();
  titles_map.clear();
  if (titles.empty()) return false;
  const std::string sep = wstring_to_utf8(separator);
  std::string line;
  offsets.push_back(0);
  std::vector<uint32> used;
  uint32 running = 0;
  for (size_t i = 0; i < titles.size(); ++i) {
    const uint32 w = column_width(widths, titles.size(), i, titles[i].size());
    running += static_cast<uint32>(sep.size()) + w;
    offsets.push_back(running);
    used.push_back(w);
    const std::string title = wstring_to_utf8(titles[i]);
    line += title;
    if (title.size() < w) line.append(w - title.size(), ' ');
    line += sep;
    std::wstring key = titles[i];
    trim_w(key);
    to_lower_w(key);
    keep_widest(titles_map, key, w);
  }
  line.resize(line.size() - sep.size());
  widths = used;
  out << line << '\n';
  return true;
}
