#include "utils/mount_sources.h"

#include <sys/sysmacros.h>

#include <fstream>

namespace uni {

namespace {

// The fields of a mount-table line are separated by single blanks; blanks,
// tabs, line ends and backslashes inside a field are written as a backslash
// and three octal digits (and commas and '=' inside an option's value too).
std::string unescape(const std::string& field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
        field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

// The `separator`-separated pieces of `text` up to `end`.
std::vector<std::string> split(const std::string& text, char separator, size_t end) {
  std::vector<std::string> pieces;
  for (size_t start = 0, next = 0; start < end; start = next + 1) {
    next = text.find(separator, start);
    if (next == std::string::npos || next > end) next = end;
    pieces.push_back(text.substr(start, next - start));
  }
  return pieces;
}

// The table's fields as numbers: a mount ID, a device "major:minor".
bool id_field(const std::string& field, uint64& id) {
  if (field.empty() || field.size() > 19) return false;
  id = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
    id = id * 10 + static_cast<uint64>(c - '0');
  }
  return true;
}

bool device_field(const std::string& field, uint64& device) {
  const size_t colon = field.find(':');
  uint64 ma = 0, mi = 0;
  if (colon == std::string::npos || !id_field(field.substr(0, colon), ma) || !id_field(field.substr(colon + 1), mi) ||
      ma > 0xfffffffful || mi > 0xfffffffful)
    return false;
  device = static_cast<uint64>(makedev(static_cast<unsigned>(ma), static_cast<unsigned>(mi)));
  return true;
}

}  // namespace

bool mount_entry_of_line(const std::string& line, mount_entry& entry) {
  size_t end = line.size();
  while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r')) --end;
  const std::vector<std::string> fields = split(line, ' ', end);
  // mount id, parent id, major:minor, root, mount point, options, then any
  // number of optional fields ended by "-", then type, source, options.
  if (fields.size() < 10) return false;
  for (size_t i = 6; i + 2 < fields.size(); ++i)
    if (fields[i] == "-") {
      mount_entry found;
      if (!id_field(fields[0], found.id) || !device_field(fields[2], found.device)) return false;
      found.root = unescape(fields[3]);
      found.mount_point = unescape(fields[4]);
      found.type = unescape(fields[i + 1]);
      found.source = unescape(fields[i + 2]);
      if (i + 3 < fields.size()) {
        // Split before the escapes are undone: a comma that separates
        // options is written as itself, one inside a value escaped.
        const std::string& options = fields[i + 3];
        for (const std::string& option : split(options, ',', options.size()))
          found.options.push_back(unescape(option));
      }
      entry = std::move(found);
      return true;
    }
  return false;
}

bool read_mount_table(std::vector<mount_entry>& out) {
  std::ifstream table;
  // getline takes memory that runs out for the table's end: thrown instead,
  // a table cut short is never taken for the whole.
  table.exceptions(std::ios::badbit);
  table.open("/proc/self/mountinfo");
  if (!table.is_open()) return false;
  std::string line;
  mount_entry entry;
  while (std::getline(table, line))
    if (mount_entry_of_line(line, entry)) out.push_back(entry);
  return true;
}

}  // namespace uni
