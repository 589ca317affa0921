#include "ntfs/own_files.h"

#include <dirent.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>

#include <map>
#include <memory>
#include <vector>

#include "ntfs/dir_children.h"
#include "ntfs/index_node.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/path_lookup.h"
#include "utils/byte_order.h"
#include "utils/mount_table.h"
#include "utils/output_reach.h"
#include "utils/utf_convert.h"

namespace {

const ulong64 REFERENCE_MASK = 0xFFFFFFFFFFFFULL;

struct record_facts {
  bool directory = false, dated = false;
  ulong64 created = 0;  // of its $STANDARD_INFORMATION, when `dated`
  file_name_map names;
};

// A base record in use, read whole, no sector torn: anything less never matches.
bool read_facts(const CNtfs& volume, ulong64 number, record_facts& out) {
  std::vector<byte> record(volume.m_mft_record_alloc_size);
  byte* buf = record.data();
  ulong64 pos = 0;
  int size = static_cast<int>(record.size());
  if (record.size() < 1024 || !volume.read_mft_record(number, buf, pos, size, false) ||
      static_cast<size_t>(size) != record.size() || volume.m_last_fixup == RECORD_FIXUP_TORN ||
      volume.m_last_fixup == RECORD_FIXUP_INVALID || load_u32(buf, 0) != 0x454C4946)  // "FILE"
    return false;
  const uint16 flags = load_u16(buf, FRH_FLAGS);
  if ((flags & 1) == 0 || (load_u64(buf, FRH_BASE_RECORD) & REFERENCE_MASK) != 0) return false;
  out.directory = (flags & 2) != 0;
  const byte* si = nullptr;
  byte_view value;
  out.dated = find_attribute(buf, static_cast<uint32>(size), ATTR_STANDARD_INFORMATION, si) &&
              resident_value(si, load_u32(si, 4), value) && value.u64(0, out.created);
  return collect_all_file_names(out.names, &volume, number, buf, true, ~0ULL) && !out.names.empty();
}

bool named_in(const record_facts& facts, const std::string& name, ulong64 parent) {
  const std::wstring wide = utf8_to_wstring(name);
  for (const auto& n : facts.names)
    if ((n.second.parent & REFERENCE_MASK) == parent && n.second.name == wide) return true;
  return false;
}

// The creation time a mount shows, in the record's 100 ns ticks (ntfs-3g's).
bool shown_created(int fd, const std::string& path, ulong64& ticks) {
  byte value[8];
  const ssize_t n = fd >= 0 ? ::fgetxattr(fd, "system.ntfs_crtime", value, sizeof value)
                            : ::getxattr(path.c_str(), "system.ntfs_crtime", value, sizeof value);
  return n == static_cast<ssize_t>(sizeof value) && (ticks = load_u64(value, 0), true);
}

// A folder's live index entries a mount shows (no DOS name), read as the listing reads them.
std::map<std::string, ulong64> index_names(const CNtfs& volume, ulong64 folder) {
  string_indx_map valid;
  inode_indx_mmap carved;
  std::map<std::string, ulong64> out;
  if (volume.find_children_w_carve(valid, carved, folder, 0))
    for (const auto& e : valid)
      if (e.second.entry[k_ie_name_space] != 2)
        out[e.second.name] = load_u64(e.second.entry, k_ie_file_reference) & REFERENCE_MASK;
  return out;
}

// Lists the folder `path`, each name with the number shown, until `take` says stop.
template <typename Take>
void list_shown(const std::string& path, Take take) {
  const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(path.c_str()), ::closedir);
  while (const struct dirent* e = listing ? ::readdir(listing.get()) : nullptr)
    if (const std::string name = e->d_name; name != "." && name != ".." && !take(name, ulong64(e->d_ino))) return;
}

// Whether the folder `at` shows the root: a name, none outside its index; or where a view
// writes back later (guestmount), a few outside it beside every file a mount shows of it.
bool shows_root(const std::string& at, const std::map<std::string, ulong64>& root) {
  const size_t most_pending = 8;  // names made through it and not yet written back
  size_t inside = 0, outside = 0, shown = 0, files = 0;
  for (const auto& e : root) files += e.second >= 16;
  list_shown(at, [&](const std::string& name, ulong64) {
    const auto in = root.find(name);
    in == root.end() ? ++outside : (++inside, shown += in->second >= 16);
    return outside <= most_pending;
  });
  return inside > 0 && (outside == 0 || (outside <= most_pending && files > 0 && shown == files));
}

std::string parent_of(const std::string& path) { return path.rfind('/') == 0 ? "/" : path.substr(0, path.rfind('/')); }

// The folder `path` (status `st`) by the numbers its mount shows: each one up to the root
// is the record of its number, a folder named so in the parent shown above it. Unless
// `proven`, what only this volume holds agrees too: the creation time where shown, else
// the nearest listed folder's names with their numbers.
bool numbered_folder(const CNtfs& volume, std::string path, struct stat st, bool proven, uint64& record,
                     std::string& in_volume) {
  std::vector<std::pair<std::string, ulong64>> chain;  // each folder's path and record
  bool told = false;
  record = static_cast<uint64>(st.st_ino);
  for (;;) {
    const ulong64 number = static_cast<ulong64>(st.st_ino);
    record_facts facts;
    ulong64 shown = 0;
    if (path.empty() || path[0] != '/' || (!proven && (!read_facts(volume, number, facts) || !facts.directory)))
      return false;
    const bool dated = !proven && shown_created(-1, path, shown);
    if (dated && (!facts.dated || shown != facts.created)) return false;
    told = told || dated;
    chain.push_back(std::make_pair(path, number));
    if (number == ROOT_DIRECTORY_ENTRY) break;
    const std::string parent = parent_of(path), name = path.substr(path.rfind('/') + 1);
    struct stat up;
    if (path == "/" || ::stat(parent.c_str(), &up) != 0 || up.st_dev != st.st_dev ||
        (!proven && !named_in(facts, name, static_cast<ulong64>(up.st_ino))))
      return false;
    in_volume = "\\" + name + in_volume;
    path = parent;
    st = up;
  }
  if (in_volume.empty()) in_volume = "\\";
  if (proven || told) return true;
  for (const auto& folder : chain) {
    const std::map<std::string, ulong64> index = index_names(volume, folder.second);
    bool listed = false, agree = true;
    list_shown(folder.first, [&](const std::string& name, ulong64 number) {
      return (listed = true, agree = index.count(name) && index.at(name) == number);
    });
    if (listed) return agree;
  }
  return false;
}

// Through a view that numbers files its own way: up from the folder `path` on a FUSE mount,
// one showing the root (and no other creation time) stands for it; the path below must lead,
// name by name, to a folder of the volume.
bool named_folder(const CNtfs& volume, const std::string& path, const struct stat& st, uint64& record,
                  std::string& in_volume) {
  // The guard's mount table tells a FUSE mount unasked; a mount or folder showing record 5 is NTFS's.
  if (major(st.st_dev) != 0) return false;  // a disk's, which no FUSE mount is
  const std::shared_ptr<const uni::mount_table> table = uni::current_mount_table();
  const uni::mount_entry* mount = table ? table->by_device(static_cast<uint64>(st.st_dev)) : nullptr;
  struct stat top;
  if (mount == nullptr || mount->type.compare(0, 4, "fuse") != 0 ||
      (::stat(mount->mount_point.c_str(), &top) == 0 && top.st_ino == ROOT_DIRECTORY_ENTRY))
    return false;
  record_facts root;  // read once a folder may stand for it
  std::map<std::string, ulong64> root_index;
  std::vector<std::string> below;
  std::string at = path;
  for (;;) {
    struct stat up;
    ulong64 shown = 0;
    if (::stat(at.c_str(), &up) != 0 || up.st_dev != st.st_dev) return false;
    if (up.st_ino != ROOT_DIRECTORY_ENTRY && (!root.names.empty() || read_facts(volume, ROOT_DIRECTORY_ENTRY, root)) &&
        !(shown_created(-1, at, shown) && (!root.dated || shown != root.created)) &&
        shows_root(at, root_index.empty() ? root_index = index_names(volume, ROOT_DIRECTORY_ENTRY) : root_index)) {
      record = ROOT_DIRECTORY_ENTRY;
      in_volume = below.empty() ? "\\" : "";
      for (size_t i = below.size(); i-- > 0;) {
        const std::map<std::string, ulong64> index = index_names(volume, record);
        const auto child = index.find(below[i]);
        record_facts facts;
        if (child == index.end() || !read_facts(volume, child->second, facts) || !facts.directory) return false;
        record = child->second;
        in_volume += "\\" + below[i];
      }
      return true;
    }
    if (at == "/") return false;
    below.push_back(at.substr(at.rfind('/') + 1));
    at = parent_of(at);
  }
}

// Read past the walk's read-ahead window (older than a mount's last write), given back after.
struct fresh_reads {
  const CNtfs& v;
  const ulong64 pos = v.m_mft_cache_pos, length = v.m_mft_cache_len;
  explicit fresh_reads(const CNtfs& volume) : v(volume) { v.m_mft_cache_len = 0; }
  ~fresh_reads() { if (v.m_mft_cache_len == 0) v.m_mft_cache_pos = pos, v.m_mft_cache_len = uint32(length); }
};

}  // namespace

bool volume_holds(CNtfs& volume, int fd, uint64& record, std::string& path) {
  record = 0, path.clear();
  struct stat st;
  if (!volume.is_validated() || ::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) return false;
  const fresh_reads fresh(volume);
  const std::string name = uni::descriptor_path(fd);
  if (name.empty() || name[0] != '/') return false;  // gone, or another namespace's
  // A file is the volume's by its own record and creation time, or its folder.
  const bool file = S_ISREG(st.st_mode);
  const std::string folder = file ? parent_of(name) : name, base = name.substr(name.rfind('/') + 1);
  struct stat in = st;
  if (file && (::stat(folder.c_str(), &in) != 0 || in.st_dev != st.st_dev || !S_ISDIR(in.st_mode))) return false;
  record_facts facts;
  ulong64 shown = 0;
  const bool own = file && read_facts(volume, static_cast<ulong64>(st.st_ino), facts) && !facts.directory &&
                   named_in(facts, base, static_cast<ulong64>(in.st_ino)) && shown_created(fd, "", shown) &&
                   facts.dated && shown == facts.created;
  // With its own proof, its folders need only their numbers and names, for its path.
  const bool in_folder = numbered_folder(volume, folder, in, own, record, path) ||
                         (!own && named_folder(volume, folder, in, record, path));
  if (!own && !in_folder) return (record = 0, false);
  if (!file) return true;
  if (!in_folder) path = "...";
  // Said as the file it would be there, by its own record where it has one.
  const std::map<std::string, ulong64> index = own ? std::map<std::string, ulong64>() : index_names(volume, record);
  const auto found = index.find(base);
  record = own ? static_cast<uint64>(st.st_ino) : found != index.end() ? found->second : record;
  path = (path == "\\" || path.empty() ? "" : path) + "\\" + base;
  return true;
}

void volume_answers_outputs(CNtfs& volume) {
  uni::volume_opened(&volume, [](void* v, int fd, std::string& where, uint64& record) {
    return volume_holds(*static_cast<CNtfs*>(v), fd, record, where);
  });
}
void volume_stops_answering(CNtfs& volume) { uni::volume_closed(&volume); }
