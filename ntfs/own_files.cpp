#include "ntfs/own_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "disk/disk_handle.h"
#include "ntfs/dir_children.h"
#include "ntfs/index_lookup.h"
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
// What asking one folder of a view costs at most: names looked up through it (a folder below the
// view's top, asked whether a mount there shows the volume's root, the fewer: such a mount shows
// its names as they are), records and index records read to find names whose records hold a time
// to the tick.
const int MOST_LOOKUPS = 8, MOST_LOOKUPS_BELOW = 2, MOST_RECORDS = 64, MOST_INDEX_RECORDS = 4;
const ulong64 NONE = NO_INDEX_RECORD;
// statfs's kinds of the file systems that may show a volume's files: FUSE's (ntfs-3g, views over
// it, fuseblk), the kernel's NTFS.
const unsigned long FUSE_MAGIC = 0x65735546, NTFS_MAGIC = 0x5346544e;

struct record_facts {
  bool whole = false, directory = false;
  ulong64 created = 0, modified = 0, changed = 0;  // $STANDARD_INFORMATION's
  file_name_map names;
};

// A base record in use, read whole, no sector torn, dated and named: anything less is damage and
// never matches. A record whose bytes cannot be read at all (not damage: no "FILE" there, past the
// image's end, no run of $MFT maps it) leaves the check without an answer. Its names are gathered
// `with_names` only: most checks need its times alone.
bool read_facts(const CNtfs& volume, ulong64 number, record_facts& out, bool with_names = false) {
  static std::vector<byte> record;  // read under the memos' lock, one record at a time
  out = record_facts();
  record.resize(volume.m_mft_record_alloc_size);
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
  const bool dated = find_attribute(buf, length, ATTR_STANDARD_INFORMATION, attr) &&
                     resident_value(attr, load_u32(attr, AH_LENGTH), value) && value.u64(0, out.created) &&
                     value.u64(8, out.modified) && value.u64(16, out.changed);
  // A name may lie in an extension record its attribute list names.
  const bool named =
      with_names
          ? collect_all_file_names(out.names, &volume, number, buf, true, ~0ULL) && !out.names.empty()
          : find_attribute(buf, length, ATTR_FILE_NAME, attr) || find_attribute(buf, length, ATTR_ATTRIBUTE_LIST, attr);
  return out.whole = dated && named;
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

// A format, and every tool that sets times, writes whole seconds.
bool ticked(ulong64 time) { return time % zq::ticks_per_second != 0; }

// The creation time a mount shows to the tick, as ntfs-3g shows it (asked only where needed:
// through a view, a round trip).
bool created_shown(const record_facts& facts, const std::string& at) {
  ulong64 created = 0;
  return ticked(facts.created) && shown_created(at, created) && created == facts.created;
}

ulong64 entry_record(const byte* e) { return mft_reference_entry(load_u64(e, k_ie_file_reference)); }

std::string entry_name(const byte* e) {
  std::string name;
  utf16le_name_to_utf8(name, e + k_ie_name, e[k_ie_name_length]);
  return name;
}

// What the check has read of one volume this run.
struct volume_memo {
  std::vector<uint16> upcase;  // $UpCase: how the volume orders names
  bool upcase_read = false;
  std::map<std::string, bool> shows;  // "<mount ID> <record> <folder>": whether that folder of a view is it
  bool disk_read = false;             // the other volumes of its disk looked for
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

const std::vector<uint16>& upcase_of(CNtfs& volume, volume_memo& memo) {
  if (!memo.upcase_read) memo.upcase = read_upcase_table(volume), memo.upcase_read = true;
  return memo.upcase;
}

// Looks the user names of the folder's index up through the folder `at` a view shows (`most` at
// most, never a listing), calling `judge(record, facts, status or null, path)` with each till it says
// false; with `ticked_only`, only those whose records hold a time to the tick, the facts read.
template <class Judge>
void look_up(CNtfs& volume, const std::string& at, ulong64 folder, bool ticked_only, int most, Judge judge) {
  const uni::held_descriptor dir(::open(at.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  int asked = 0, read = 0;
  struct stat shown;
  // A view that shows whole seconds (sshfs, avfs) shows no time to the tick: nothing to look up.
  if (ticked_only &&
      (dir.fd < 0 || ::fstat(dir.fd, &shown) != 0 || (shown.st_mtim.tv_nsec == 0 && shown.st_ctim.tv_nsec == 0)))
    return;
  each_indexed_name(volume, folder, MOST_INDEX_RECORDS, [&](const byte* e) {
    const ulong64 number = entry_record(e);
    record_facts facts;
    struct stat st;
    // A DOS name is another name of a record its long name gives.
    if (e[k_ie_name_space] == 2 || number < FIRST_USER_RECORD || number == folder) return true;
    if (dir.fd < 0 || ++read > MOST_RECORDS) return false;
    if (ticked_only && (!read_facts(volume, number, facts) || !(ticked(facts.created) || ticked(facts.changed))))
      return true;
    const std::string name = entry_name(e);
    const bool found = ::fstatat(dir.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    return judge(number, facts, found ? &st : nullptr, at + "/" + name) && ++asked < most;
  });
}

// Whether the folder `at` a view shows is the volume's folder `folder`: some entry of its index
// shows its record's time to the tick. A name missing, a time that differs, a record damaged:
// nothing either way, as views fold case, answer other names and show what they cached a while
// ago. A change time equal to the modification time proves only where the view is not seen to
// show modification times as change times (rclone does), as it would a copy's.
bool shows(CNtfs& volume, const std::string& at, ulong64 folder, int most) {
  bool proven = false, unless_echoed = false, echoes = false;
  look_up(volume, at, folder, true, most,
          [&](ulong64, const record_facts& facts, const struct stat* st, const std::string& path) {
            if (st == nullptr) return true;
            const ulong64 changed = ticks_of(st->st_ctim), modified = ticks_of(st->st_mtim);
            const bool by_change = ticked(facts.changed) && changed == facts.changed;
            echoes = echoes || (changed == modified && facts.changed != facts.modified);
            unless_echoed = unless_echoed || by_change;
            proven = (by_change && facts.changed != facts.modified) || created_shown(facts, path);
            return !proven;
          });
  return proven || (unless_echoed && !echoes);
}

enum class names_word { none, agree, differ };

// What a folder shown as the record `folder` says of the first user names of its index, each
// looked up with its number: `none` with no name to look up.
names_word names_agree(CNtfs& volume, const std::string& at, ulong64 folder) {
  names_word word = names_word::none;
  look_up(volume, at, folder, false, MOST_LOOKUPS,
          [&](ulong64 number, const record_facts&, const struct stat* st, const std::string&) {
            const bool same = st != nullptr && static_cast<ulong64>(st->st_ino) == number;
            word = same ? names_word::agree : names_word::differ;
            return same;
          });
  return word;
}

std::string parent_of(const std::string& path) { return path.rfind('/') == 0 ? "/" : path.substr(0, path.rfind('/')); }

// The path of the record `number` by its own names' parents, up to the root ("" for the root);
// "..." where one on the way is damaged.
std::string path_by_parents(const CNtfs& volume, ulong64 number) {
  std::string path;
  for (int depth = 0; number != ROOT_DIRECTORY_ENTRY; ++depth) {
    record_facts facts;
    if (depth == MAX_DEPTH || !read_facts(volume, number, facts, true)) return "...";
    const auto name = std::find_if(facts.names.begin(), facts.names.end(),
                                   [](const file_name_map::value_type& n) { return !n.second.dos_only; });
    if (name == facts.names.end()) return "...";
    path.insert(0, "\\" + wstring_to_utf8(name->second.name));
    number = mft_reference_entry(name->second.parent);
  }
  return path;
}

// A file or folder on the way up a mount, with the path the system gives it.
struct level {
  std::string at;
  struct stat st;
};

// The output (with `file`, the file `name` of status `st`) and the folders above it on its mount,
// walked up by "..": to the volume's root, or to the top of the mount where that comes first.
std::vector<level> levels_up(const std::string& name, const struct stat& st, bool file) {
  std::vector<level> up;
  if (file) up.push_back({name, st});
  std::string at = file ? parent_of(name) : name;
  uni::held_descriptor dir(::open(at.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat in;
  for (int depth = 0; dir.fd >= 0 && depth < MAX_DEPTH && ::fstat(dir.fd, &in) == 0; ++depth) {
    if (!up.empty() && (in.st_dev != up.back().st.st_dev || in.st_ino == up.back().st.st_ino)) break;
    up.push_back({at, in});
    if (in.st_ino == ROOT_DIRECTORY_ENTRY || at == "/") break;
    dir.reset(::openat(dir.fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    at = parent_of(at);
  }
  return up;
}

// The volume's path of the first of `up` ("" for the root): the names the mount shows below its
// top, the records' own parents above it; all by the records' parents where the top is none of
// the volume's folders (a view that numbers its folders its own way passed a file's on).
std::string path_in_volume(const CNtfs& volume, const std::vector<level>& up) {
  const level& top = up.back();
  record_facts facts;
  if (!read_facts(volume, top.st.st_ino, facts) || !facts.directory)
    return path_by_parents(volume, up.front().st.st_ino);
  std::string path = path_by_parents(volume, static_cast<ulong64>(top.st.st_ino)) +
                     up.front().at.substr(top.at == "/" ? 0 : top.at.size());
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// Where none of the records on the way holds a time to the tick (a volume formatted with whole
// seconds and not written since): each is named so in the folder shown above it, no creation time
// shown differs, and the nearest folder whose index holds user names shows them under their numbers.
bool named_chain(CNtfs& volume, const std::vector<level>& up) {
  for (size_t i = 0; i < up.size(); ++i) {
    record_facts facts;
    ulong64 shown = 0;
    const std::string& at = up[i].at;
    if (!read_facts(volume, up[i].st.st_ino, facts, true) || (shown_created(at, shown) && shown != facts.created) ||
        (i + 1 < up.size() && !named_in(facts, at.substr(at.rfind('/') + 1), up[i + 1].st.st_ino)))
      return false;
  }
  for (const level& l : up) {
    const names_word word = S_ISDIR(l.st.st_mode) ? names_agree(volume, l.at, l.st.st_ino) : names_word::none;
    if (word != names_word::none) return word == names_word::agree;
  }
  return false;
}

// By the numbers a mount shows (ntfs-3g, lowntfs-3g, bindfs, a kernel bind mount): the output, or
// a folder above it, is the record of its number, of its kind, and shows its change time to the
// tick, which no copy sets, or, where the mount numbers as NTFS up to its top, its creation time.
// A damaged record ends the way up.
bool numbered(CNtfs& volume, const std::vector<level>& up, uint64& record, std::string& path) {
  bool proven = false, ticks = false;
  std::vector<record_facts> facts(up.size());
  size_t whole = 0;
  for (; whole < up.size() && !proven; ++whole) {
    record_facts& f = facts[whole];
    if (!read_facts(volume, up[whole].st.st_ino, f) || f.directory != S_ISDIR(up[whole].st.st_mode)) break;
    ticks = ticks || ticked(f.created) || ticked(f.changed);
    proven = ticked(f.changed) && ticks_of(up[whole].st.st_ctim) == f.changed;
  }
  for (size_t i = 0; !proven && whole == up.size() && i < up.size(); ++i) proven = created_shown(facts[i], up[i].at);
  if (!proven && (ticks || whole < up.size() || !named_chain(volume, up))) return false;
  record = static_cast<uint64>(up.front().st.st_ino);
  path = path_in_volume(volume, up);
  return true;
}

// The mount the file open at `fd` (with -1, the path `at`) is on, by its mount ID; null where the
// table has none. `table` keeps the entry.
const uni::mount_entry* mount_of(int fd, const std::string& at, std::shared_ptr<const uni::mount_table>& table) {
  uint64 id = 0;
  table = uni::current_mount_table();
  return table && uni::mount_id_at(fd, at, id) ? table->by_id(id) : nullptr;
}

// The names of the folders of `path`, top first.
std::vector<std::string> names_in(const std::string& path) {
  std::vector<std::string> names = uni::split(path, '/');
  names.erase(std::remove(names.begin(), names.end(), std::string()), names.end());
  return names;
}

// Through a FUSE view that numbers files its own way: a folder the view shows that is the volume's
// (shows), the one its mount stands for (its root field names it) at its top, or the volume's root
// at its top or at any folder between it and `folder`, the top first. The output lies at or below
// it, however its names were made, renamed or folded through the view; its record and path follow
// the volume's indexes as far as they hold those names (`base`: a file's, "" for a folder).
bool named(CNtfs& volume, volume_memo& memo, const uni::mount_entry& m, const std::string& folder,
           const std::string& base, uint64& record, std::string& path) {
  std::string inner;
  if (!uni::is_fuse(m) || !uni::inner_path(folder, m, inner)) return false;
  const std::vector<uint16>& up = upcase_of(volume, memo);
  const std::vector<std::string> names = names_in(inner);
  const size_t top = names_in(m.root).size();
  ulong64 stands = ROOT_DIRECTORY_ENTRY;
  for (size_t i = 0; i < top && i < names.size() && stands != NONE; ++i)
    stands = index_child_named(volume, up, stands, names[i]);
  std::vector<std::pair<size_t, ulong64>> asked;  // (the names of the folder asked, the record)
  if (stands != NONE && stands != ROOT_DIRECTORY_ENTRY) asked.push_back({top, stands});
  asked.push_back({top, ROOT_DIRECTORY_ENTRY});
  for (size_t i = names.size(); i > top; --i) asked.push_back({i, ROOT_DIRECTORY_ENTRY});
  for (const auto& a : asked) {
    std::string at = m.mount_point == "/" ? "" : m.mount_point;
    for (size_t i = top; i < a.first; ++i) at += "/" + names[i];
    if (at.empty()) at = "/";
    const std::string key = std::to_string(m.id) + " " + std::to_string(a.second) + " " + at;
    auto kept = memo.shows.find(key);
    if (kept == memo.shows.end())
      kept = memo.shows.emplace(key, shows(volume, at, a.second, a.first == top ? MOST_LOOKUPS : MOST_LOOKUPS_BELOW))
                 .first;
    if (!kept->second) continue;
    ulong64 followed = a.second;
    record = a.second;
    path = path_by_parents(volume, a.second);
    for (size_t i = a.first; i < names.size(); ++i) {
      record_facts facts;
      path += "\\" + names[i];
      followed = followed == NONE ? NONE : index_child_named(volume, up, followed, names[i]);
      if (followed != NONE && !read_facts(volume, followed, facts)) return false;  // damage never matches
      if (followed != NONE) record = followed;
      if (!facts.directory) followed = NONE;
    }
    const ulong64 file = followed == NONE || base.empty() ? NONE : index_child_named(volume, up, followed, base);
    if (file != NONE) record = file;
    if (!base.empty()) path += "\\" + base;
    return true;
  }
  return false;
}

// Read past the walk's read-ahead window (older than a mount's last write), given back after.
struct fresh_reads {
  const CNtfs& v;
  const ulong64 pos = v.m_mft_cache_pos, length = v.m_mft_cache_len;
  explicit fresh_reads(const CNtfs& volume) : v(volume) { v.m_mft_cache_len = 0; }
  ~fresh_reads() {
    if (v.m_mft_cache_len == 0) v.m_mft_cache_pos = pos, v.m_mft_cache_len = uint32(length);
  }
};

// The evidence is the disk: the other NTFS volumes on it (an image's, a device's, a VMDK chain's),
// opened the first time an output lies where one may be mounted.
void open_disk_volumes(const CNtfs& volume, volume_memo& memo, int fd, const std::string& at) {
  std::shared_ptr<const uni::mount_table> table;
  const uni::mount_entry* m = mount_of(fd, at, table);
  disk_handle* disk = volume.get_disk_handle();
  if (m == nullptr || !uni::may_show_a_volume(*m)) return;
  if (disk != nullptr) open_ntfs_disk_volumes(*disk, volume.m_volume_offset, memo.disk_volumes);
  memo.disk_read = true;
}

// With `behind`, the folders behind the view the output lies on are asked too: the view itself is
// asked of no name.
bool holds(CNtfs& volume, int fd, const std::string& name, bool behind, uint64& record, std::string& path) {
  const std::lock_guard<std::recursive_mutex> held(store().lock);
  record = 0, path.clear();
  struct stat st;
  // By the descriptor where there is one: a path through a view costs a round trip a walk.
  if (!volume.is_validated() || name.empty() || name[0] != '/' ||
      (fd >= 0 ? ::fstat(fd, &st) : ::stat(name.c_str(), &st)) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
    return false;
  // A disk's own file system (no FUSE over a device, no NTFS) shows no volume's files: its kind
  // says so without the mount table.
  struct statfs kind;
  if (major(st.st_dev) != 0 && (fd >= 0 ? ::fstatfs(fd, &kind) : ::statfs(name.c_str(), &kind)) == 0 &&
      kind.f_type != FUSE_MAGIC && kind.f_type != NTFS_MAGIC)
    return false;
  const bool file = S_ISREG(st.st_mode);
  const std::string folder = file ? parent_of(name) : name;
  std::shared_ptr<const uni::mount_table> table;
  const uni::mount_entry* m = mount_of(fd, name, table);
  // Only a FUSE or NTFS mount shows a volume's files; what a view over one stands on is asked too.
  if (m != nullptr && !uni::may_show_a_volume(*m)) return false;
  const fresh_reads fresh(volume);
  volume_memo& memo = store().memos[&volume];
  const std::vector<level> up = levels_up(name, st, file);
  if (up.size() < (file ? 2u : 1u)) return false;
  if (!numbered(volume, up, record, path) &&
      !(m != nullptr && !behind &&
        named(volume, memo, *m, folder, file ? name.substr(name.rfind('/') + 1) : "", record, path)))
    return (record = 0, path.clear(), false);
  if (path.empty()) path = "\\";
  return true;
}

uni::volume_word answer(void* opened, int fd, const std::string& at, bool behind, std::string& where, uint64& record) {
  CNtfs& volume = *static_cast<CNtfs*>(opened);
  try {
    const std::lock_guard<std::recursive_mutex> held(store().lock);
    if (holds(volume, fd, at, behind, record, where)) return uni::volume_word::own;
    volume_memo& memo = store().memos[&volume];
    if (!memo.disk_read) open_disk_volumes(volume, memo, fd, at);
    for (const auto& other : memo.disk_volumes)
      if (holds(*other, fd, at, behind, record, where)) {
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

bool volume_holds(CNtfs& volume, const std::string& at, uint64& record, std::string& path) {
  return holds(volume, -1, at, false, record, path);
}

bool volume_holds(CNtfs& volume, int fd, uint64& record, std::string& path) {
  return holds(volume, fd, uni::descriptor_path(fd), false, record, path);
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
