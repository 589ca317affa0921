#include "utils/mount_sources.h"

#include <sys/sysmacros.h>
#include <sys/types.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace uni {

namespace {

// The fields of a mount-table line are separated by single blanks; blanks,
// tabs, line ends and backslashes inside a field are written as a backslash
// and three octal digits.
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

// The blank-separated fields of `line`, without its line end.
std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  size_t end = line.size();
  while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r')) --end;
  while (start < end) {
    size_t blank = line.find(' ', start);
    if (blank == std::string::npos || blank > end) blank = end;
    fields.push_back(line.substr(start, blank - start));
    start = blank + 1;
  }
  return fields;
}

}  // namespace

bool mount_source_in_line(const std::string& line, uint64 device, std::string& source) {
  const std::vector<std::string> fields = fields_of(line);
  // mount id, parent id, major:minor, root, mount point, options, then any
  // number of optional fields ended by "-", then type, source, options.
  if (fields.size() < 10) return false;
  const dev_t dev = static_cast<dev_t>(device);
  if (fields[2] != std::to_string(major(dev)) + ":" + std::to_string(minor(dev))) return false;
  for (size_t i = 6; i + 2 < fields.size(); ++i)
    if (fields[i] == "-") {
      source = unescape(fields[i + 2]);
      return true;
    }
  return false;
}

bool mount_sources_of(uint64 device, std::vector<std::string>& out) {
  std::FILE* table = std::fopen("/proc/self/mountinfo", "re");
  if (table == nullptr) return false;
  bool found = false;
  char* line = nullptr;
  size_t room = 0;
  std::string source;
  while (::getline(&line, &room, table) > 0)
    if (mount_source_in_line(line, device, source)) {
      out.push_back(source);
      found = true;
    }
  std::free(line);
  std::fclose(table);
  return found;
}

}  // namespace uni
