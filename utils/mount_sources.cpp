#include "utils/mount_sources.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

#include "utils/output_reach.h"

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

std::string file_text(const std::string& path, size_t most) {
  const held_descriptor held(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  std::string text;
  char chunk[4096];
  for (ssize_t n = 0; held.fd >= 0 && text.size() < most &&
                      (n = ::read(held.fd, chunk, std::min(sizeof chunk, most - text.size()))) > 0;)
    text.append(chunk, static_cast<size_t>(n));
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

// A config holds a few KiB; one past this is none a server keeps.
const size_t MAX_CONFIG_BYTES = 1 << 20;
// Remotes name remotes (an alias of a union of ...) a few deep: a circle of
// them, or one that names itself below itself, ends here.
const int MAX_REMOTE_DEPTH = 8;
const size_t MAX_REMOTES_NAMED = 256;

typedef std::map<std::string, std::string> config_keys;

std::string trimmed(const std::string& text, const char* cut = " \t\n\v\f\r") {
  const size_t first = text.find_first_not_of(cut);
  return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(cut) - first + 1);
}

// An rclone mount's server as this process sees it (its arguments, its
// folder under /proc, its working folder: empty where out of sight), the
// sections of the config that names the mount's remote, the remotes followed.
struct rclone_server {
  const mount_entry& m;
  bool looked = false, configured = false;
  std::vector<std::string> args{};
  std::string proc{}, cwd{};
  std::map<std::string, config_keys> config{};
  std::set<std::string> named{};
};

// The rclone process serving `m`: one whose command line names its mount point.
void look_for_server(rclone_server& s) {
  const std::unique_ptr<DIR, int (*)(DIR*)> all(std::exchange(s.looked, true) ? nullptr : ::opendir("/proc"),
                                                  ::closedir);
  while (const struct dirent* e = all ? ::readdir(all.get()) : nullptr) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    const std::string proc = std::string("/proc/") + e->d_name;
    const std::vector<std::string> args = split(file_text(proc + "/cmdline"), '\0');
    const std::string& at = s.m.mount_point;  // as given: whole, or relative to where it ran
    for (const std::string& arg : args)
      if (args[0].find("rclone") != std::string::npos && !arg.empty() && (arg == at || (arg[0] != '/' &&
          at.size() > arg.size() && at.substr(at.size() - arg.size() - 1) == "/" + arg))) {
        const held_descriptor cwd(::open((proc + "/cwd").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        s.cwd = descriptor_path(cwd.fd), s.args = args, s.proc = proc;
        return;
      }
  }
}

// The file the server opens by `name`: its own descriptors by their /dev and
// /proc/self names, a relative name in its working folder; "" out of sight.
std::string server_file(rclone_server& s, const std::string& name) {
  static const char* const kOwn[][2] = {{"/dev/stdin", "/fd/0"}, {"/dev/fd/", "/fd/"}, {"/proc/self/", "/"}};
  if (!name.empty() && name[0] == '/' && name.compare(0, 5, "/dev/") != 0 && name.compare(0, 6, "/proc/") != 0)
    return name;
  look_for_server(s);
  for (const auto& own : kOwn)
    if (name.compare(0, std::strlen(own[0]), own[0]) == 0)
      return s.proc.empty() ? std::string() : s.proc + own[1] + name.substr(std::strlen(own[0]));
  return !name.empty() && name[0] == '/' ? name : s.cwd.empty() || name.empty() ? s.cwd : s.cwd + "/" + name;
}

// The configs the server may read, the likeliest first: its --config, its
// RCLONE_CONFIG, the run's own (a server's environment is its user's to
// read), its user's default, the run's user's default.
std::vector<std::string> configs_of(rclone_server& s) {
  std::vector<std::string> out;
  look_for_server(s);
  for (size_t i = 1; i < s.args.size(); ++i) {
    if (s.args[i] == "--config" && i + 1 < s.args.size()) out.push_back(server_file(s, s.args[i + 1]));
    if (s.args[i].compare(0, 9, "--config=") == 0) out.push_back(server_file(s, s.args[i].substr(9)));
  }
  const std::string environ = s.proc.empty() ? std::string() : std::string(1, '\0') + file_text(s.proc + "/environ");
  const size_t named = environ.find(std::string(1, '\0') + "RCLONE_CONFIG=");
  if (named != std::string::npos)
    out.push_back(server_file(s, environ.substr(named + 15, environ.find('\0', named + 1) - named - 15)));
  if (const char* own = std::getenv("RCLONE_CONFIG")) out.push_back(own);
  struct stat st;
  for (const uid_t user : {s.proc.empty() || ::stat(s.proc.c_str(), &st) != 0 ? ::getuid() : st.st_uid, ::getuid()})
    if (const struct passwd* p = ::getpwuid(user)) out.push_back(std::string(p->pw_dir) + "/.config/rclone/rclone.conf");
  return out;
}

// The sections of the config at `path` as rclone reads them, where it is a
// regular file within the bound (a name may lead to a FIFO, a terminal, a
// device: none is read or waited on): each line cut of blanks (a CR too),
// `#` and `;` comments, `[ name ]`, a key and its value around the first
// `=` or `:`, a value in backticks or triple quotes up to the last of them;
// a key again replaces the first. False where rclone refuses the file.
bool read_config(const std::string& path, std::map<std::string, config_keys>& out) {
  struct stat st;
  std::string text = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? file_text(path, MAX_CONFIG_BYTES + 1) : "";
  std::string section = "DEFAULT";
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  for (const std::string& raw : split(text, '\n')) {
    const std::string line = trimmed(raw);
    const size_t equals = line.find_first_of("=:");
    const std::string value = trimmed(line.substr(std::min(equals + 1, line.size())));
    const bool triple = value.size() >= 6 && value.compare(0, 3, "\"\"\"") == 0;
    const std::string quote = value.size() >= 2 && value[0] == '`' ? "`" : triple ? "\"\"\"" : "";
    const size_t end = quote.size() + value.substr(quote.size()).rfind(quote);  // no closing quote: below its size
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[' && line.back() == ']') section = trimmed(line.substr(1, line.size() - 2));
    else if (section.empty() || equals == 0 || equals == std::string::npos || end < quote.size()) return false;
    else out[section][trimmed(line.substr(0, equals))] = value.substr(quote.size(), end - quote.size());
  }
  return text.size() <= MAX_CONFIG_BYTES;
}

// A list as rclone reads a union's or combine's upstreams: words between
// single blanks, a word in double quotes as CSV quotes it ("" for a quote).
std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> out(text.empty() ? 0 : 1);
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool doubled = quoted && text.compare(i, 2, "\"\"") == 0;
    if (text[i] == '"' && !doubled && (quoted || out.back().empty())) quoted = !quoted;
    else if (text[i] == ' ' && !quoted) out.emplace_back();
    else out.back() += text[i += doubled];
  }
  return out;
}

// The keys of the remote `name` in the first config the server may read
// that names it; none where none does.
config_keys remote_keys(rclone_server& s, const std::string& name) {
  for (const std::string& path : std::exchange(s.configured, true) ? std::vector<std::string>() : configs_of(s)) {
    std::map<std::string, config_keys> sections;
    if (read_config(path, sections) && sections.count(name) != 0) {
      s.config.swap(sections);
      break;
    }
  }
  return s.config.count(name) != 0 ? s.config[name] : config_keys();
}

// `remote` ("name:path", a path) with `below` (no '/' around it) under it.
std::string joined(const std::string& remote, const std::string& below) {
  if (remote.empty() || below.empty()) return remote;
  return remote + (remote.back() == ':' || remote.back() == '/' ? "" : "/") + below;
}

// Adds to `out` the folders here that `source` ("remote:path", ":backend:path",
// a path) stores in, each with where the mount shows it (`at` below its top),
// through the remotes each names, as rclone reads them.
void add_folders(rclone_server& s, const std::string& source, const std::string& at, int depth, shown_folders& out) {
  const size_t colon = source.find(':', 1);
  if (source.empty() || depth > MAX_REMOTE_DEPTH || s.named.size() > MAX_REMOTES_NAMED ||
      !s.named.insert(at + '\0' + source).second)
    return;
  const bool path = source[0] != ':' && (colon == std::string::npos || source.find('/') < colon);
  const std::string name = path ? ":local" : source.substr(0, std::min(colon, source.find(',')));
  const std::string below = path ? source : colon == std::string::npos ? std::string() : source.substr(colon + 1);
  const std::string under = trimmed(below, "/"), first = under.substr(0, under.find('/'));
  config_keys keys = name[0] == ':' ? config_keys() : remote_keys(s, name);
  const std::string type = name[0] == ':' ? name.substr(1) : keys["type"];
  const std::string folder = type == "local" ? server_file(s, below) : std::string();
  if (!folder.empty()) out.emplace_back(at, folder);
  if (type == "alias") add_folders(s, joined(keys["remote"], under), at, depth + 1, out);
  const bool lists = type == "union" || type == "combine";
  for (std::string up : lists ? words_of(keys["upstreams"]) : std::vector<std::string>()) {
    const size_t equals = up.find('=');
    const std::string dir = up.substr(0, std::min(equals, up.size()));
    for (const std::string mode : {":ro", ":nc", ":writeback"})  // a union's upstream's mode
      if (type == "union" && up.size() > mode.size() && up.compare(up.size() - mode.size(), mode.size(), mode) == 0)
        up.resize(up.size() - mode.size());
    if (type == "union") add_folders(s, joined(up, under), at, depth + 1, out);
    // A combine shows each upstream as a folder of its top.
    if (type == "combine" && equals != std::string::npos && (under.empty() || first == dir))
      add_folders(s, joined(up.substr(equals + 1), trimmed(under.substr(first.size()), "/")),
                  under.empty() ? at + "/" + dir : at, depth + 1, out);
  }
}

}  // namespace

shown_folders rclone_remote_folders(const mount_entry& m) {
  if (m.type != "fuse.rclone") return {};
  // The processes are walked once a mount, not once an output.
  static std::mutex* const lock = new std::mutex;
  static std::map<std::string, shown_folders>* const known = new std::map<std::string, shown_folders>;
  const std::string key = std::to_string(m.id) + " " + m.mount_point + " " + m.source;
  const std::lock_guard<std::mutex> held(*lock);
  const auto kept = known->find(key);
  if (kept != known->end()) return kept->second;
  rclone_server server{m};
  shown_folders out;
  add_folders(server, m.source, std::string(), 0, out);
  return (*known)[key] = out;
}

}  // namespace uni
