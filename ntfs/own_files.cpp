#include "ntfs/own_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "disk/disk_handle.h"
#include "disk/vmdk_disk.h"
#include "disk/vmdk_extent.h"
#include "disk/zq_disk_structs.h"
#include "ntfs/dir_children.h"
#include "ntfs/index_node.h"
#include "ntfs/index_record.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/ntfs_structs.h"
#include "ntfs/path_lookup.h"
#include "time/calendar.h"
#include "utils/byte_order.h"
#include "utils/mount_table.h"
#include "utils/output_reach.h"
#include "utils/utf_convert.h"

namespace {

const ulong64 FIRST_USER_RECORD = 16;  // below it the system files, which every volume holds and mounts hide
const int MAX_DEPTH = 256;             // folders within folders; a circle of parents ends here

struct record_facts {
  bool whole = false, directory = false, dated = false, sized = false;
  ulong64 created = 0, modified = 0, changed = 0, size = 0;  // $STANDARD_INFORMATION's times; the unnamed stream's
  file_name_map names;
};

// A base record in use, read whole, no sector torn: anything less is damage and never matches. A
// record whose bytes cannot be read at all (not damage: no "FILE" there, past the image's end, no
// run of $MFT maps it) leaves the check without an answer.
bool read_facts(const CNtfs& volume, ulong64 number, record_facts& out) {
  out = record_facts();
  std::vector<byte> record(volume.m_mft_record_alloc_size);
  byte* buf = record.data();
  ulong64 pos = 0;
  int size = static_cast<int>(record.size());
  uint32 length = static_cast<uint32>(record.size());
  if (record.size() < 1024 || number >= volume.get_inode_count()) return false;
  if (!volume.read_mft_record(number, buf, pos, size, false)) {
    pos = volume.get_inode_file_pos(number);
    if (volume.m_disk != nullptr && pos != 0 && pos < volume.held_bytes() && !volume.read_volume(pos, buf, length))
      throw std::runtime_error("its record " + std::to_string(number) + " cannot be read");
    return false;
  }
  const uint16 flags = load_u16(buf, FRH_FLAGS);
  if (static_cast<size_t>(size) != record.size() || volume.m_last_fixup == RECORD_FIXUP_TORN ||
      volume.m_last_fixup == RECORD_FIXUP_INVALID || load_u32(buf, 0) != 0x454C4946 ||  // "FILE"
      (flags & 1) == 0 || mft_reference_entry(load_u64(buf, FRH_BASE_RECORD)) != 0)
    return false;
  out.directory = (flags & 2) != 0;
  const byte* attr = nullptr;
  byte_view value;
  out.dated = find_attribute(buf, length, ATTR_STANDARD_INFORMATION, attr) &&
              resident_value(attr, load_u32(attr, AH_LENGTH), value) && value.u64(0, out.created) &&
              value.u64(8, out.modified) && value.u64(16, out.changed);
  // The unnamed stream sorts first; one kept in an extension record leaves the size untold.
  if (find_attribute(buf, length, ATTR_DATA, attr) && attr[AH_NAME_LENGTH] == 0) {
    const bool resident = attr[AH_NON_RESIDENT] == 0;
    out.sized = load_u32(attr, AH_LENGTH) >= (resident ? AH_RESIDENT_SIZE : AH_NON_RESIDENT_SIZE);
    if (out.sized) out.size = resident ? load_u32(attr, AH_VALUE_LENGTH) : load_u64(attr, AH_DATA_SIZE);
  }
  return out.whole = collect_all_file_names(out.names, &volume, number, buf, true, ~0ULL) && !out.names.empty();
}

bool named_in(const record_facts& facts, const std::string& name, ulong64 parent) {
  const std::wstring wide = utf8_to_wstring(name);
  for (const auto& n : facts.names)
    if (!n.second.dos_only && mft_reference_entry(n.second.parent) == parent && n.second.name == wide) return true;
  return false;
}

// The creation time a mount shows, in the record's 100 ns ticks (ntfs-3g's).
bool shown_created(const std::string& path, ulong64& ticks) {
  byte value[8];
  return ::getxattr(path.c_str(), "system.ntfs_crtime", value, sizeof value) == static_cast<ssize_t>(sizeof value) &&
         (ticks = load_u64(value, 0), true);
}

ulong64 ticks_of(const struct timespec& t) {
  const int64 seconds = static_cast<int64>(t.tv_sec) + static_cast<int64>(zq::unix_epoch_ticks / zq::ticks_per_second);
  return seconds < 0 ? 0 : static_cast<ulong64>(seconds) * zq::ticks_per_second + static_cast<ulong64>(t.tv_nsec) / 100;
}

// Only a time with ticks below the second is the volume's alone (a format, and a tool that sets
// times, write whole seconds): a time a view shows equal to the record's.
bool to_the_tick(ulong64 shown, ulong64 recorded) { return shown == recorded && shown % zq::ticks_per_second != 0; }

// The record's creation time a mount shows (`dated`: `shown`) or its change time, no copy's to set.
bool proves(const record_facts& facts, const struct stat& st, bool dated, ulong64 shown) {
  return facts.dated &&
         ((dated && to_the_tick(shown, facts.created)) || to_the_tick(ticks_of(st.st_ctim), facts.changed));
}

// A folder's live entries under the names its mounts show (no DOS-only name), sorted.
struct folder_index {
  struct entry {
    uint32 at;  // its name's first byte in `names`, NUL-ended
    ulong64 record;
    bool always_shown;  // neither a system file nor a link, which a view may hide
  };
  std::string names;
  std::vector<entry> entries;

  const char* name(const entry& e) const { return names.c_str() + e.at; }
  const entry* find(const std::string& wanted) const {
    const auto at = std::lower_bound(entries.begin(), entries.end(), wanted,
                                     [this](const entry& e, const std::string& w) { return w.compare(name(e)) > 0; });
    return at != entries.end() && wanted == name(*at) ? &*at : nullptr;
  }
};

// What the check has read of one volume this run.
struct volume_memo {
  std::map<ulong64, folder_index> folders;
  std::map<ulong64, record_facts> records;  // without their names
  std::map<uint64, ulong64> views;  // by mount ID: the folder a view's top stands for, ~0 for none
  bool disk_read = false;                            // the other volumes of its disk looked for
  std::vector<std::unique_ptr<CNtfs>> disk_volumes;  // each at an offset of its own
};

// The memos of the volumes open, kept for the life of the process. The lock is held again by
// a volume of the disk opened or closed under it.
struct memo_store {
  std::recursive_mutex lock;
  std::map<const CNtfs*, volume_memo> memos;
};
memo_store& store() {
  static memo_store* const kept = new memo_store;
  return *kept;
}

// Adds the live entries of `valid` (of the folder `folder`) to `index`, unsorted.
void add_live(const string_indx_map& valid, ulong64 folder, folder_index& index) {
  for (const auto& e : valid) {
    const ulong64 record = mft_reference_entry(load_u64(e.second.entry, k_ie_file_reference));
    if (e.second.entry[k_ie_name_space] == 2 || record == folder || e.second.name.empty()) continue;
    const bool link = (load_u32(e.second.entry, k_ie_file_attributes) & 0x400) != 0;  // a reparse point
    index.entries.push_back({static_cast<uint32>(index.names.size()), record, record >= FIRST_USER_RECORD && !link});
    index.names.append(e.second.name).push_back('\0');
  }
}

// The live entries of the folder's $INDEX_ROOT node, added to `index` as the listing reads them;
// `dir` keeps what the rest of the index is read by. False where there is no index.
bool root_node_entries(const CNtfs& volume, ulong64 folder, directory_index& dir, folder_index& index) {
  string_indx_map valid;
  inode_indx_mmap carved;
  if (!read_directory_index(volume, folder, dir)) return false;
  parse_index_node_w_carve(valid, carved, folder, dir.root_node.data(), static_cast<int>(dir.root_node.size()), 0);
  add_live(valid, folder, index);
  return true;
}

// Read as the listing reads it, once a run (again when `anew`), a piece at a time: the listing's
// maps of a folder of many thousand names are never held whole. A damaged index holds nothing.
const folder_index& index_of(const CNtfs& volume, volume_memo& memo, ulong64 folder, bool anew = false) {
  const auto kept = memo.folders.find(folder);
  if (kept != memo.folders.end() && !anew) return kept->second;
  folder_index index;
  directory_index dir;
  const uint32 size = root_node_entries(volume, folder, dir, index) ? dir.record_size : 0;
  string_indx_map valid;
  inode_indx_mmap carved;
  std::vector<byte> piece;
  ulong64 total = 0;
  for (ulong64 first = 0; !dir.runs.empty() && is_valid_index_record_size(size) &&
                          volume.read_index_allocation_piece(piece, dir.runs, size, dir.allocation_size, first,
                                                             64ULL * size, total);
       first += piece.size()) {
    valid.clear();
    carved.clear();
    for (size_t at = 0; at + size <= piece.size(); at += size)
      if (index_record_in_use(dir, (first + at) / size) && load_u32(piece.data(), at) == 0x58444E49)  // "INDX"
        parse_indx_buffer_w_carve(valid, carved, folder, piece.data() + at, static_cast<int>(size), 0);
    add_live(valid, folder, index);
  }
  std::sort(index.entries.begin(), index.entries.end(),
            [&index](const folder_index::entry& a, const folder_index::entry& b) {
              return std::strcmp(index.name(a), index.name(b)) < 0;
            });
  index.names.shrink_to_fit();
  index.entries.shrink_to_fit();
  return memo.folders[folder] = std::move(index);
}

const record_facts& facts_of(const CNtfs& volume, volume_memo& memo, ulong64 number) {
  const auto kept = memo.records.find(number);
  if (kept != memo.records.end()) return kept->second;
  record_facts& facts = memo.records[number];
  facts.whole = read_facts(volume, number, facts) && facts.dated;
  facts.names.clear();
  return facts;
}

int lookups_in(const std::string& at) { return ::open(at.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); }  // no FUSE open

enum class names_word { none, agree, differ };

// What a folder shown as the record `folder` says of its index's names, each looked up (never
// listed) with its number and creation time where shown: `none` with no name to look up, `differ`
// where one is missing or a number differs after the index is read again; names made since aside.
names_word names_agree(const CNtfs& volume, volume_memo& memo, const std::string& at, ulong64 folder) {
  const uni::held_descriptor dir(lookups_in(at));
  for (bool anew : {false, true}) {
    const folder_index& index = index_of(volume, memo, folder, anew);
    names_word word = names_word::none;
    for (const auto& e : index.entries) {
      struct stat st;
      ulong64 created = 0;
      if (e.record < FIRST_USER_RECORD) continue;
      if (dir.fd < 0 || ::fstatat(dir.fd, index.name(e), &st, AT_SYMLINK_NOFOLLOW) != 0) return names_word::differ;
      const bool differs = static_cast<ulong64>(st.st_ino) != e.record ||
                           (shown_created(at + "/" + index.name(e), created) &&
                            created != facts_of(volume, memo, e.record).created);
      word = differs ? names_word::differ : names_word::agree;
      if (differs) break;
    }
    if (word != names_word::differ) return word;
  }
  return names_word::differ;
}

// Whether the folder `at` of a view that numbers files its own way shows every live entry of the
// volume's folder `folder`, each by its name with its record's size and time to the tick (or later:
// written through the view), whatever else it shows. Some time must agree to the tick: any copy
// made since is later, so a few later ones before any agrees end the search. Damage in the volume
// neither proves nor disproves.
bool shows_folder(const CNtfs& volume, volume_memo& memo, const std::string& at, ulong64 folder) {
  const uni::held_descriptor dir(lookups_in(at));
  struct stat st;
  // The names of the index's root node first: a folder that lacks one needs no more read.
  folder_index top;
  directory_index unread;
  if (memo.folders.count(folder) == 0) root_node_entries(volume, folder, unread, top);
  for (const auto& e : top.entries)
    if (e.always_shown && (dir.fd < 0 || ::fstatat(dir.fd, top.name(e), &st, AT_SYMLINK_NOFOLLOW) != 0)) return false;
  const folder_index& index = index_of(volume, memo, folder);
  bool proof = false;
  int later = 0;
  for (const auto& e : index.entries) {
    if (!e.always_shown) continue;
    if (dir.fd < 0 || ::fstatat(dir.fd, index.name(e), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    const record_facts& f = facts_of(volume, memo, e.record);
    const ulong64 shown = ticks_of(st.st_mtim);
    later += f.whole && shown > f.modified;
    if (f.whole && (f.directory != S_ISDIR(st.st_mode) || shown < f.modified || (later > 8 && !proof) ||
                    (shown == f.modified && !f.directory && f.sized && f.size != static_cast<ulong64>(st.st_size))))
      return false;
    proof = proof || (f.whole && (to_the_tick(shown, f.modified) || to_the_tick(ticks_of(st.st_ctim), f.changed)));
  }
  return proof;
}

std::string parent_of(const std::string& path) { return path.rfind('/') == 0 ? "/" : path.substr(0, path.rfind('/')); }

// The path of the record `number` by its own names' parents, up to the root ("" for the root);
// "..." where one on the way is damaged.
std::string path_by_parents(const CNtfs& volume, ulong64 number) {
  std::string path;
  for (int depth = 0; number != ROOT_DIRECTORY_ENTRY; ++depth) {
    record_facts facts;
    if (depth == MAX_DEPTH || !read_facts(volume, number, facts)) return "...";
    const auto name = std::find_if(facts.names.begin(), facts.names.end(),
                                   [](const file_name_map::value_type& n) { return !n.second.dos_only; });
    if (name == facts.names.end()) return "...";
    path.insert(0, "\\" + wstring_to_utf8(name->second.name));
    number = mft_reference_entry(name->second.parent);
  }
  return path;
}

// A folder a mount shows, and its status there.
struct shown_folder {
  std::string at;
  struct stat st;
};

// The folders a mount shows from `at` up to the volume's root, or to the top of its mount where
// that comes first.
std::vector<shown_folder> folders_up(std::string at, struct stat st) {
  std::vector<shown_folder> chain;
  for (int depth = 0; depth < MAX_DEPTH; ++depth) {
    chain.push_back({at, st});
    at = parent_of(at);
    if (st.st_ino == ROOT_DIRECTORY_ENTRY || chain.back().at == "/" || ::stat(at.c_str(), &st) != 0 ||
        st.st_dev != chain.back().st.st_dev)
      break;
  }
  return chain;
}

// The volume's path of the first folder of `chain` ("" for the root): the names the mount shows
// below its top, the records' own parents above it.
std::string path_in_volume(const CNtfs& volume, const std::vector<shown_folder>& chain) {
  const shown_folder& top = chain.back();
  std::string path = path_by_parents(volume, static_cast<ulong64>(top.st.st_ino)) +
                     chain.front().at.substr(top.at == "/" ? 0 : top.at.size());
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// The folder `at` (status `st`) by the numbers its mount shows: each one up to the root, or to the
// top of its mount, is the record of its number, a folder named so in the parent shown above it,
// and what only this volume holds agrees: a time to the tick, else the nearest folder whose index
// holds names shows them with their numbers.
bool numbered_folder(const CNtfs& volume, volume_memo& memo, const std::string& at, const struct stat& st,
                     uint64& record, std::string& in_volume) {
  record_facts facts;
  // Most views number files their own way: their folder is no folder record, and nothing more is asked.
  if (!read_facts(volume, static_cast<ulong64>(st.st_ino), facts) || !facts.directory) return false;
  const std::vector<shown_folder> chain = folders_up(at, st);
  bool proven = false;
  for (size_t i = 0; i < chain.size(); ++i) {
    ulong64 shown = 0;
    const std::string& here = chain[i].at;
    if ((i > 0 && !read_facts(volume, chain[i].st.st_ino, facts)) || !facts.directory) return false;
    const bool dated = shown_created(here, shown);
    if ((dated && (!facts.dated || shown != facts.created)) ||
        (i + 1 < chain.size() && !named_in(facts, here.substr(here.rfind('/') + 1), chain[i + 1].st.st_ino)))
      return false;
    proven = proven || proves(facts, chain[i].st, dated, shown);
  }
  for (size_t i = 0; !proven && i < chain.size(); ++i) {
    const names_word word = names_agree(volume, memo, chain[i].at, static_cast<ulong64>(chain[i].st.st_ino));
    if (word == names_word::differ) return false;
    proven = word == names_word::agree;
  }
  if (!proven) return false;
  record = static_cast<uint64>(st.st_ino);
  in_volume = path_in_volume(volume, chain);
  return true;
}

// The mount the path `at` is on, by its mount ID; false when the table has none.
bool mount_at(const std::string& at, uni::mount_entry& out) {
  const std::shared_ptr<const uni::mount_table> table = uni::current_mount_table();
  uint64 id = 0;
  const uni::mount_entry* m = table && uni::mount_id_at(-1, at, id) ? table->by_id(id) : nullptr;
  return m != nullptr && (out = *m, true);
}

// The names of the folders of `path`, top first.
std::vector<std::string> names_in(const std::string& path) {
  std::vector<std::string> names = uni::split(path, '/');
  names.erase(std::remove(names.begin(), names.end(), std::string()), names.end());
  return names;
}

// Through a FUSE view that numbers files its own way: its top stands for the volume's folder its
// mount's root field names where it shows that folder (and no other creation time); the path below
// follows the volume's indexes as far as they hold it (names made since lie in the last folder).
bool named_folder(const CNtfs& volume, volume_memo& memo, const std::string& at, const struct stat& st,
                  uint64& record, std::string& in_volume) {
  uni::mount_entry m;
  std::string inner;  // the root field's folders, then those below the mount point
  if (major(st.st_dev) != 0 || !mount_at(at, m) || !uni::is_fuse(m) ||  // no FUSE mount is a disk's
      !uni::inner_path(at, m, inner))
    return false;
  const size_t root_field = names_in(m.root).size();
  const std::vector<std::string> names = names_in(inner);
  // What the view's top stands for is asked once a run.
  const auto told = memo.views.find(m.id);
  ulong64 folder = told != memo.views.end() ? told->second : ROOT_DIRECTORY_ENTRY, created = 0;
  if (told == memo.views.end()) {
    struct stat top;
    for (size_t i = 0; i < root_field && folder != ~0ULL; ++i) {
      const folder_index::entry* child = index_of(volume, memo, folder).find(names[i]);
      folder = child != nullptr && facts_of(volume, memo, child->record).directory ? child->record : ~0ULL;
    }
    if (folder == ~0ULL || ::stat(m.mount_point.c_str(), &top) != 0 || top.st_dev != st.st_dev ||
        top.st_ino == ROOT_DIRECTORY_ENTRY || !facts_of(volume, memo, folder).whole ||
        !shows_folder(volume, memo, m.mount_point, folder) ||
        (shown_created(m.mount_point, created) && created != facts_of(volume, memo, folder).created))
      folder = ~0ULL;
    memo.views[m.id] = folder;
  }
  if (folder == ~0ULL) return false;
  record = folder;
  for (size_t i = 0; i < names.size(); ++i) {
    in_volume += "\\" + names[i];
    if (i < root_field || folder == ~0ULL) continue;
    const folder_index::entry* child = index_of(volume, memo, folder).find(names[i]);
    if (child != nullptr && !facts_of(volume, memo, child->record).whole) return false;  // damage never matches
    folder = child != nullptr && facts_of(volume, memo, child->record).directory ? child->record : ~0ULL;
    if (folder != ~0ULL) record = folder;
  }
  return true;
}

// Read past the walk's read-ahead window (older than a mount's last write), given back after.
struct fresh_reads {
  const CNtfs& v;
  const ulong64 pos = v.m_mft_cache_pos, length = v.m_mft_cache_len;
  explicit fresh_reads(const CNtfs& volume) : v(volume) { v.m_mft_cache_len = 0; }
  ~fresh_reads() { if (v.m_mft_cache_len == 0) v.m_mft_cache_pos = pos, v.m_mft_cache_len = uint32(length); }
};

// The evidence is the disk: the other NTFS volumes on it (an image's, a device's, a VMDK chain's),
// opened the first time an output lies where one may be mounted.
void open_disk_volumes(const CNtfs& volume, volume_memo& memo, const std::string& at) {
  uni::mount_entry m;
  disk_handle* disk = volume.get_disk_handle();
  if (!mount_at(at, m) || !uni::may_show_a_volume(m)) return;
  if (disk != nullptr) open_ntfs_disk_volumes(*disk, volume.m_volume_offset, memo.disk_volumes);
  memo.disk_read = true;
}

uni::volume_word answer(void* opened, const std::string& at, std::string& where, uint64& record) {
  CNtfs& volume = *static_cast<CNtfs*>(opened);
  try {
    const std::lock_guard<std::recursive_mutex> held(store().lock);
    if (volume_holds(volume, at, record, where)) return uni::volume_word::own;
    volume_memo& memo = store().memos[&volume];
    if (!memo.disk_read) open_disk_volumes(volume, memo, at);
    for (const auto& other : memo.disk_volumes)
      if (volume_holds(*other, at, record, where)) {
        where += " of the volume at offset " + std::to_string(other->m_volume_offset);
        return uni::volume_word::own;
      }
    return uni::volume_word::other;
  } catch (const std::runtime_error& e) {
    where = e.what();
    return uni::volume_word::untold;
  }
}

}  // namespace

bool volume_holds(CNtfs& volume, const std::string& name, uint64& record, std::string& path) {
  const std::lock_guard<std::recursive_mutex> held(store().lock);
  record = 0, path.clear();
  struct stat st, in;
  if (!volume.is_validated() || name.empty() || name[0] != '/' || ::stat(name.c_str(), &st) != 0 ||
      !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
    return false;
  const fresh_reads fresh(volume);
  volume_memo& memo = store().memos[&volume];
  const bool file = S_ISREG(st.st_mode);
  const std::string folder = file ? parent_of(name) : name, base = name.substr(name.rfind('/') + 1);
  if (!file) in = st;
  if (file && (::stat(folder.c_str(), &in) != 0 || in.st_dev != st.st_dev || !S_ISDIR(in.st_mode))) return false;
  record_facts facts;
  ulong64 shown = 0;
  // A file is the volume's by its own record, name, parent and a time to the tick.
  if (file && read_facts(volume, static_cast<ulong64>(st.st_ino), facts) && !facts.directory &&
      named_in(facts, base, static_cast<ulong64>(in.st_ino)) && proves(facts, st, shown_created(name, shown), shown)) {
    record = static_cast<uint64>(st.st_ino);
    path = path_in_volume(volume, folders_up(folder, in)) + "\\" + base;
    return true;
  }
  if (!numbered_folder(volume, memo, folder, in, record, path) && !named_folder(volume, memo, folder, in, record, path))
    return (record = 0, path.clear(), false);
  if (!file) {
    if (path.empty()) path = "\\";
    return true;
  }
  // Said as the file it would be there, by its own record where the index has it.
  const folder_index::entry* e = index_of(volume, memo, record).find(base);
  if (e != nullptr) record = e->record;
  path += "\\" + base;
  return true;
}

bool volume_holds(CNtfs& volume, int fd, uint64& record, std::string& path) {
  return volume_holds(volume, uni::descriptor_path(fd), record, path);
}

void volume_answers_outputs(CNtfs& volume) { uni::volume_opened(&volume, answer); }

void volume_stops_answering(CNtfs& volume) {
  uni::volume_closed(&volume);
  volume_memo gone;  // let go of outside the lock: the disk's other volumes close with it
  const std::lock_guard<std::recursive_mutex> held(store().lock);
  const auto kept = store().memos.find(&volume);
  if (kept == store().memos.end()) return;
  gone = std::move(kept->second);
  store().memos.erase(kept);
}
