#include "utils/overlay_layers.h"

#include "utils/mount_table.h"

namespace uni {

namespace {

// A "lowerdir=" value's names as overlay_layers says; "::" leads to data-only.
void add_lower_layers(const std::string& value, std::vector<std::string>& out) {
  std::string name;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == ':') {
      if (!name.empty()) out.push_back(name);
      name.clear();
    } else {
      name += value[i] == '\\' && i + 1 < value.size() ? value[++i] : value[i];
    }
  }
  if (!name.empty()) out.push_back(name);
}

std::string unescaped(const std::string& value) {
  std::string name;
  for (size_t i = 0; i < value.size(); ++i) name += value[i] == '\\' && i + 1 < value.size() ? value[++i] : value[i];
  return name;
}

bool starts_with(const std::string& text, const char* prefix, std::string& rest) {
  const std::string p(prefix);
  if (text.compare(0, p.size(), p) != 0) return false;
  rest = text.substr(p.size());
  return true;
}

// The overlay shows a layer file's own type, size and times.
bool shows(const struct stat& seen, const struct stat& st) {
  return (seen.st_mode & S_IFMT) == (st.st_mode & S_IFMT) && seen.st_size == st.st_size &&
         seen.st_rdev == st.st_rdev && seen.st_mtim.tv_sec == st.st_mtim.tv_sec &&
         seen.st_mtim.tv_nsec == st.st_mtim.tv_nsec && seen.st_ctim.tv_sec == st.st_ctim.tv_sec &&
         seen.st_ctim.tv_nsec == st.st_ctim.tv_nsec &&
         !(seen.st_dev == st.st_dev && seen.st_ino == st.st_ino);
}

// Where overlay_layer_file looks for `layer` of an overlay at `mount_point`.
std::vector<std::string> layer_folders(const std::string& layer, const std::string& mount_point) {
  if (layer[0] == '/') return {layer};
  const size_t slash = mount_point.rfind('/');
  const std::string above = slash == std::string::npos || slash == 0 ? "/" : mount_point.substr(0, slash);
  return {above == "/" ? "/" + layer : above + "/" + layer, layer};
}

}  // namespace

std::vector<std::string> overlay_layers(const std::vector<std::string>& options) {
  std::vector<std::string> upper, lower;
  std::string value;
  for (const std::string& option : options) {
    if (starts_with(option, "upperdir=", value)) {
      upper.push_back(unescaped(value));
    } else if (starts_with(option, "lowerdir=", value)) {
      add_lower_layers(value, lower);
    } else if (starts_with(option, "lowerdir+=", value) || starts_with(option, "datadir+=", value)) {
      lower.push_back(value);
    }
  }
  upper.insert(upper.end(), lower.begin(), lower.end());
  return upper;
}

bool overlay_upper_folder(const mount_entry& mount, std::string& folder) {
  std::string value;
  for (const std::string& option : mount.options)
    if (starts_with(option, "upperdir=", value) && !value.empty())
      for (const std::string& candidate : layer_folders(unescaped(value), mount.mount_point)) {
        struct stat st;
        if (::stat(candidate.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
          folder = candidate;
          return true;
        }
      }
  return false;
}

bool overlay_layer_file(const std::string& path, const struct stat& seen, const mount_entry& mount, std::string& name,
                        struct stat& status) {
  std::string inner;
  if (mount.type != "overlay" || !inner_path(path, mount, inner) || inner.empty()) return false;
  for (const std::string& layer : overlay_layers(mount.options)) {
    if (layer.empty()) continue;
    for (const std::string& folder : layer_folders(layer, mount.mount_point)) {
      const std::string candidate = folder + inner;
      struct stat st;
      if (::lstat(candidate.c_str(), &st) == 0 && shows(seen, st)) {
        name = candidate;
        status = st;
        return true;
      }
    }
  }
  return false;
}

}  // namespace uni
