#include "utils/mount_sources.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>

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

// A field of the table as a number: a mount ID, a device's major or minor.
bool id_field(const std::string& field, uint64& id) {
  if (field.empty() || field.size() > 19 || field.find_first_not_of("0123456789") != std::string::npos)
    return false;
  id = std::stoull(field);  // 19 digits never overflow
  return true;
}

}  // namespace

bool device_number(const std::string& text, uint64& device) {
  const size_t colon = text.find(':');
  uint64 ma = 0, mi = 0;
  if (colon == std::string::npos || !id_field(text.substr(0, colon), ma) || !id_field(text.substr(colon + 1), mi) ||
      ma > 0xfffffffful || mi > 0xfffffffful)
    return false;
  device = static_cast<uint64>(makedev(static_cast<unsigned>(ma), static_cast<unsigned>(mi)));
  return true;
}

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text;
  char chunk[4096];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) text.append(chunk, static_cast<size_t>(in.gcount()));
  return text;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  for (size_t start = 0, next = 0; start < text.size(); start = next + 1) {
    next = std::min(text.find(separator, start), text.size());
    pieces.push_back(text.substr(start, next - start));
  }
  return pieces;
}

bool mount_entry_of_line(const std::string& line, mount_entry& entry) {
  const std::vector<std::string> fields = split(line.substr(0, line.find_last_not_of("\r\n") + 1), ' ');
  // mount id, parent id, major:minor, root, mount point, options, then any
  // number of optional fields ended by "-", then type, source, options.
  if (fields.size() < 10) return false;
  const size_t dash = static_cast<size_t>(std::find(fields.begin() + 6, fields.end() - 2, "-") - fields.begin());
  mount_entry found;
  if (dash + 2 >= fields.size() || !id_field(fields[0], found.id) || !device_number(fields[2], found.device))
    return false;
  found.root = unescape(fields[3]);
  found.mount_point = unescape(fields[4]);
  found.type = unescape(fields[dash + 1]);
  found.source = unescape(fields[dash + 2]);
  if (dash + 3 < fields.size()) {
    // Split before the escapes are undone: a comma that separates
    // options is written as itself, one inside a value escaped.
    for (const std::string& option : split(fields[dash + 3], ','))
      found.options.push_back(unescape(option));
  }
  entry = std::move(found);
  return true;
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

namespace {

// The arguments of the rclone process serving `m` (one whose command line
// names its mount point), and its folder under /proc; empty when none is seen.
std::vector<std::string> server_of(const mount_entry& m, std::string& proc) {
  const std::unique_ptr<DIR, int (*)(DIR*)> all(::opendir("/proc"), ::closedir);
  while (const struct dirent* e = all ? ::readdir(all.get()) : nullptr) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    proc = std::string("/proc/") + e->d_name;
    const std::vector<std::string> args = split(file_text(proc + "/cmdline"), '\0');
    const std::string& at = m.mount_point;  // as given: whole, or relative to where it ran
    for (const std::string& arg : args)
      if (args[0].find("rclone") != std::string::npos && !arg.empty() &&
          (arg == at || (arg[0] != '/' && at.size() > arg.size() && at.substr(at.size() - arg.size() - 1) == "/" + arg)))
        return args;
  }
  return {};
}

// The configs the server may read, the likeliest first: its --config, its
// RCLONE_CONFIG, the run's own (a server's environment is its user's to
// read), its user's default, the run's user's default.
std::vector<std::string> configs_of(const std::vector<std::string>& args, const std::string& proc) {
  std::vector<std::string> out;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--config" && i + 1 < args.size()) out.push_back(args[i + 1]);
    if (args[i].compare(0, 9, "--config=") == 0) out.push_back(args[i].substr(9));
  }
  const std::string environ = args.empty() ? std::string() : std::string(1, '\0') + file_text(proc + "/environ");
  const size_t named = environ.find(std::string(1, '\0') + "RCLONE_CONFIG=");
  if (named != std::string::npos) out.push_back(environ.substr(named + 15, environ.find('\0', named + 1) - named - 15));
  if (const char* own = std::getenv("RCLONE_CONFIG")) out.push_back(own);
  struct stat st;
  for (const uid_t user : {args.empty() || ::stat(proc.c_str(), &st) != 0 ? ::getuid() : st.st_uid, ::getuid()})
    if (const struct passwd* p = ::getpwuid(user)) out.push_back(std::string(p->pw_dir) + "/.config/rclone/rclone.conf");
  return out;
}

}  // namespace

std::vector<std::string> rclone_remote_folders(const mount_entry& m) {
  const size_t colon = m.source.find(':');
  if (m.type != "fuse.rclone" || colon == 0 || colon == std::string::npos) return {};
  // The processes are walked once a mount, not once an output.
  static std::mutex* const lock = new std::mutex;
  static std::map<std::string, std::vector<std::string>>* const known = new std::map<std::string, std::vector<std::string>>;
  const std::string key = std::to_string(m.id) + " " + m.mount_point + " " + m.source;
  const std::lock_guard<std::mutex> held(*lock);
  const auto kept = known->find(key);
  if (kept != known->end()) return kept->second;
  std::string proc;
  const std::vector<std::string> args = server_of(m, proc);
  const std::string remote = "[" + m.source.substr(0, colon) + "]", below = m.source.substr(colon + 1);
  std::string text, type, upstreams;
  for (const std::string& config : configs_of(args, proc))
    if ((text = file_text(config)).find(remote) != std::string::npos) break;
  bool in = false;
  for (const std::string& line : split(text, '\n')) {
    if (!line.empty() && line[0] == '[') in = line.compare(0, remote.size(), remote) == 0;
    const size_t equals = line.find('=');
    if (!in || equals == std::string::npos) continue;
    const size_t value_at = std::min(line.find_first_not_of(' ', equals + 1), line.size());
    const std::string key = line.substr(0, line.find_first_of(" =")), value = line.substr(value_at);
    if (key == "type") type = value;
    if (key == "upstreams") upstreams = value;
  }
  std::vector<std::string> out;
  if (type == "local") out.push_back(below);
  if (type == "union")
    for (std::string up : split(upstreams, ' ')) {
      const size_t mode = up.rfind(':');  // "/disk:ro", ":nc", ":writeback"
      if (up.empty()) continue;
      if (mode != std::string::npos && up.find('/', mode) == std::string::npos) up.resize(mode);
      out.push_back(below.empty() ? up : up + "/" + below);
    }
  return (*known)[key] = out;
}

}  // namespace uni
