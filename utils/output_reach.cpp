#include "utils/output_reach.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/limits.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "utils/binary_head.h"
#include "utils/fuse_servers.h"
#include "utils/mount_sources.h"
#include "utils/mount_table.h"
#include "utils/overlay_layers.h"

namespace uni {

file_identity identity_from(const struct stat& st, uint64 view) {
  file_identity id;
  id.view = view;
  id.device = static_cast<uint64>(st.st_dev);
  id.inode = static_cast<uint64>(st.st_ino);
  id.block_device = S_ISBLK(st.st_mode) ? static_cast<uint64>(st.st_rdev) : 0;
  return id;
}

bool same_file(const file_identity& a, const file_identity& b) {
  if (a.block_device != 0 || b.block_device != 0) return a.block_device == b.block_device;
  return a.device == b.device && a.inode == b.inode;
}

bool is_one_of(const file_identity& id, const file_identities& sources) {
  return std::any_of(sources.begin(), sources.end(), [&](const file_identity& s) { return same_file(s, id); });
}

namespace {

// The text of a file of the system's (under /sys), without its line end.
std::string system_text(const std::string& path) {
  const std::string out = file_text(path);
  return out.substr(0, out.find_last_not_of("\r\n") + 1);
}

std::string device_text(uint64 number) {
  const dev_t dev = static_cast<dev_t>(number);
  return std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
}

std::string block_folder(uint64 number) { return "/sys/dev/block/" + device_text(number); }

// The node /dev gives the disk `number` by the system's device list, or "".
std::string device_node_of(uint64 number) {
  for (const std::string& line : split(file_text(block_folder(number) + "/uevent"), '\n'))
    if (line.size() > 8 && line.compare(0, 8, "DEVNAME=") == 0) return "/dev/" + line.substr(8);
  return "";
}

// The block devices `number` is made on, writing any of which writes it: the
// whole disk holding a partition, the disks under a mapped one (LVM, crypt).
std::vector<uint64> disks_under(uint64 number) {
  const std::string base = block_folder(number);
  std::vector<uint64> out;
  uint64 found = 0;
  struct stat st;
  if (::stat((base + "/partition").c_str(), &st) == 0 && device_number(system_text(base + "/../dev"), found))
    out.push_back(found);
  const std::unique_ptr<DIR, int (*)(DIR*)> slaves(::opendir((base + "/slaves").c_str()), ::closedir);
  while (const struct dirent* e = slaves ? ::readdir(slaves.get()) : nullptr)
    if (e->d_name[0] != '.' && device_number(system_text(base + "/slaves/" + e->d_name + "/dev"), found))
      out.push_back(found);
  return out;
}

// Loop devices' major number, which tells one even without device lists.
const unsigned LOOP_DEVICE_MAJOR = 7;

// The file behind the loop device `number` as the kernel shows it to every
// reader (only its holder may ask for more): its path in `name` ("" for none
// shown), its status in `st` where that leads to a file or disk; else false.
bool loop_file(uint64 number, std::string& name, struct stat& st) {
  name.clear();
  if (major(static_cast<dev_t>(number)) != LOOP_DEVICE_MAJOR) return false;
  name = system_text(block_folder(number) + "/loop/backing_file");
  return !name.empty() && ::stat(name.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

// Chains of holders (image on disk on image ...) end; the bound stops a circle.
const int MAX_HOLDER_DEPTH = 12;

// A file or folder met on the walk: its descriptor, or a name that opens
// that very file (`open_by`: a server's held descriptor's link under /proc),
// and the name the system gives it, which places it below its mount point.
struct place {
  int fd = -1;
  std::string name;
  std::string open_by;
  struct stat st;
  const mount_entry* mount = nullptr;  // its mount, where the walk looked it up already
  uint64 view = 0;                     // as file_identity's
  std::string shown_at{};              // where a view shows it below its top ("" for the top)
};

// What a FUSE server (of the mount `view`) holds, opened through its own descriptor.
place held_place(const fuse_held_file& h, uint64 view = 0) { return {-1, h.name, h.handle, h.status, nullptr, view}; }

// Whether a table source is another machine's (host:path, user@host:path,
// remote:path, :backend:path, .host:/, a URL); a path here begins with '/'.
bool remote_address(const std::string& source) {
  if (source.empty() || source[0] == '/') return false;
  if (source.find("://") != std::string::npos) return true;
  const size_t colon = source.find(':', 1);
  return colon != std::string::npos && (source[0] == ':' || source.find('/') > colon);
}

// File systems that show another machine's store: kernel network and
// host-share file systems, and the FUSE clients of network stores.
bool share_type(const std::string& type) {
  static const char* const kShares[] = {
      "nfs",          "nfs4",         "cifs",           "smb3",          "smbfs",           "9p",
      "virtiofs",     "ceph",         "afs",            "vboxsf",        "vmhgfs",          "davfs",
      "fuse.sshfs",   "fuse.rclone",  "fuse.s3fs",      "fuse.gcsfuse",  "fuse.curlftpfs",  "fuse.davfs",
      "fuse.httpfs2", "fuse.goofys",  "fuse.blobfuse2", "fuse.smbnetfs", "fuse.vmhgfs-fuse", "fuse.glusterfs"};
  return std::any_of(std::begin(kShares), std::end(kShares), [&](const char* share) { return type == share; });
}

// The folders of a mergerfs mount: those its table entry lists, and its
// branches, which it shows to every reader, whoever runs its server.
void add_mergerfs_folders(const mount_entry& m, shown_folders& out) {
  for (const std::string& listed : split(m.source, ':')) out.emplace_back(std::string(), listed);
  // The list is read whole, however long: one past a page is read again into
  // the system's bound for an attribute.
  const std::string at = m.mount_point + "/.mergerfs";
  std::string text(4096, '\0');
  ssize_t n = ::getxattr(at.c_str(), "user.mergerfs.branches", &text[0], text.size());
  if (n < 0 && errno == ERANGE) {
    text.assign(XATTR_SIZE_MAX, '\0');
    n = ::getxattr(at.c_str(), "user.mergerfs.branches", &text[0], text.size());
  }
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  for (std::string branch : split(text, ':')) {
    const size_t at = branch.find_last_of("=/");  // it may carry its mode: "/disk1=RW"
    if (at != std::string::npos && branch[at] == '=') branch.resize(at);
    out.emplace_back(std::string(), branch);
  }
}

bool reads_any(const std::vector<fuse_held_file>& held) {
  return std::any_of(held.begin(), held.end(), [](const fuse_held_file& h) { return h.readable; });
}

// Whether the regular file `name`'s head may be a source's, or is unreadable.
bool may_hold_source(const std::string& name) {
  int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOATIME);
  if (fd < 0 && errno == EPERM) fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  const held_descriptor held(fd);
  byte head[HEAD_BYTES];
  const ssize_t got = held.fd < 0 ? -1 : read_head(held.fd, head, sizeof head);
  return got != 0 && (got < 0 || head_may_be_source(head, static_cast<size_t>(got)));
}

// Fills a reach, as reach_of says.
class reach_builder {
 public:
  explicit reach_builder(output_reach& r) : m_reach(r) {}

  // The file `p` and what stands for it.
  void add_self(const place& p, int depth, const std::string& via = std::string()) {
    if (!first_visit(m_reach.self, identity_from(p.st, p.view), via, depth)) return;
    if (!S_ISBLK(p.st.st_mode) && !S_ISREG(p.st.st_mode) && !S_ISDIR(p.st.st_mode)) return;
    m_pending.push_back(p);
    if (S_ISBLK(p.st.st_mode)) {
      place behind;
      std::string through;
      if (loop_behind(static_cast<uint64>(p.st.st_rdev), behind, through)) add_self(behind, depth + 1, through);
      return;
    }
    // A file system on a disk of its own is no view, and stored on that disk
    // alone: the table, dearest to read where mounts are many, is not asked.
    const mount_entry* m = m_pending.back().mount = on_a_disk(p) ? nullptr : mount_of(p);
    if (m != nullptr && depth == 0 && may_show_a_volume(*m))
      m_reach.volume_layer = "it lies on the mount at " + m->mount_point + " (" + m->type +
                             "), which only the evidence's volume can tell from its own files, and none opened";
    if (m != nullptr) add_views(p, *m, true, depth);
  }

  static bool on_a_disk(const place& p) {
    return major(p.st.st_dev) != 0 && !is_fuse_file(p.fd, p.open_by.empty() ? p.name : p.open_by);
  }

  // What each file of `self` is stored on: its disks, or its mount's store.
  void add_under_self() {
    for (const place& p : m_pending) {
      if (S_ISBLK(p.st.st_mode)) {
        for (uint64 disk : disks_under(static_cast<uint64>(p.st.st_rdev))) add_under_disk(disk, 1, false);
      } else {
        add_store_of(p, 0, false);
      }
    }
  }

 private:
  // Adds `id`, reached through `via`, to `list`; false if there or too deep.
  static bool first_visit(file_identities& list, file_identity id, const std::string& via, int depth) {
    id.via = via;
    if (depth > MAX_HOLDER_DEPTH || is_one_of(id, list)) return false;
    list.push_back(id);
    return true;
  }

  void add_behind(const std::string& path) {
    if (!path.empty() && path[0] == '/' && std::find(m_reach.behind.begin(), m_reach.behind.end(), path) == m_reach.behind.end())
      m_reach.behind.push_back(path);
  }

  // A place met by a server's handle is asked by its name where that leads here to that very file.
  void add_behind(const place& p) {
    struct stat st;
    if (p.open_by.empty() || p.open_by == p.name ||
        (::lstat(p.name.c_str(), &st) == 0 && st.st_dev == p.st.st_dev && st.st_ino == p.st.st_ino))
      add_behind(p.name);
  }

  void untold(const std::string& why) {
    if (m_reach.why.empty()) m_reach.why = why;
  }

  void shared(const mount_entry& m) {
    if (m_reach.share.empty())
      m_reach.share =
          "it is read through the share at " + m.mount_point + " (" + m.type + "), whose store cannot be told";
  }

  // `device`: the mount's, which knows a source read through it. `numbered`:
  // its root is record 5, as an NTFS volume's: the open volumes answer for it.
  void unknown_layer(const std::string& why, uint64 device, bool numbered = false) {
    if (m_reach.unknown.empty()) m_reach.unknown = why + "; write the listing elsewhere";
    m_reach.unknown_mounts.push_back(device);
    if (!numbered) untold(why);
    if (numbered && m_reach.numbered.empty()) m_reach.numbered = why;
  }

  const mount_table* table() {
    if (!m_asked) {
      m_asked = true;
      m_table = current_mount_table();
      if (!m_table) untold("cannot read the mount table");
    }
    return m_table.get();
  }

  // The place's mount, by mount ID; null and untold where the table has none.
  const mount_entry* mount_of(const place& p) {
    const mount_table* t = table();
    if (t == nullptr) return nullptr;
    uint64 id = 0;
    const bool by_id = mount_id_at(p.fd, p.open_by.empty() ? p.name : p.open_by, id);
    if (by_id)
      if (const mount_entry* m = t->by_id(id)) return m;
    // No mount ID (an old system), or a mount of another namespace (a file a
    // FUSE server there holds): the device number, where the run's own table
    // shows that file system; a btrfs subvolume's is on no line: untold.
    if (const mount_entry* m = t->by_device(static_cast<uint64>(p.st.st_dev))) return m;
    m_reach.unlisted = true;
    untold("cannot tell what " + p.name + " is stored on: its file system" +
           (by_id ? " (mount ID " + std::to_string(id) + ")" : std::string()) +
           " has no line in this process's mount table");
    return nullptr;
  }

  const fuse_server_list& servers() {
    if (!m_servers) m_servers = current_fuse_servers(m_table ? m_table->generation : 0);
    return *m_servers;
  }

  // The folders a FUSE mount is stored in: those its servers hold open, then
  // those its table entry names (mergerfs's branches, rclone's local folder),
  // by no handle; in `stores` the files and disks its servers hold open to
  // read, in `through` those in a named folder (a pass-through view's files, an
  // encrypting view's cipher files), each written only by its own name.
  std::vector<place> view_folders(const mount_entry& m, std::vector<fuse_held_file>& stores,
                                  std::vector<fuse_held_file>& through, fuse_servers_seen& seen) {
    std::vector<fuse_held_file> held;
    seen = servers().files_of(fuse_connection_of(m.device), held);
    std::vector<place> folders;
    for (const fuse_held_file& h : held)
      if (S_ISDIR(h.status.st_mode)) folders.push_back(held_place(h));
    // A folder whose own name holds a ':' is taken whole before a list, which
    // only mergerfs's entry is: to any other server it is a remote's name.
    shown_folders names{{std::string(), m.source}};
    shown_folders& branches = m_branches[m.id];  // asked of the pool once a check
    if (m.type == "fuse.mergerfs" && branches.empty()) add_mergerfs_folders(m, branches);
    names.insert(names.end(), branches.begin(), branches.end());
    for (const auto& shown : rclone_remote_folders(m)) names.push_back(shown);
    const size_t first_named = folders.size();
    for (const auto& name : names) {
      place f;
      f.name = name.second;
      f.shown_at = name.first;
      if (f.name.empty() || f.name[0] != '/' || ::stat(f.name.c_str(), &f.st) != 0 || !S_ISDIR(f.st.st_mode)) continue;
      folders.push_back(f);
      if (f.name == m.source) break;
    }
    for (fuse_held_file& h : held) {
      if (S_ISDIR(h.status.st_mode)) continue;
      bool in_named = false;
      for (size_t i = first_named; i < folders.size() && !in_named; ++i)
        in_named = h.name.compare(0, folders[i].name.size() + 1, folders[i].name + "/") == 0;
      (in_named ? through : stores).push_back(std::move(h));
    }
    return folders;
  }

  // What `p` on the mount `m` is seen as (an overlay layer's file, or that of
  // its path in a pass-through view's folder), added as `p` (self, stored on).
  void add_views(const place& p, const mount_entry& m, bool self, int depth) {
    std::vector<place> seen_as, made_in;
    std::string inner;
    const std::string via = "through the " + std::string(m.type == "overlay" ? "overlay" : "view") + " at " +
                            m.mount_point + " (" + m.type + ")";
    if (m.type == "overlay") {
      place layer;
      if (overlay_layer_file(p.name, p.st, m, layer.name, layer.st)) seen_as.push_back(layer);
    } else if (is_fuse(m)) {
      if (!inner_path(p.name, m, inner)) return;
      std::vector<fuse_held_file> held, through;
      fuse_servers_seen ignored;
      for (const place& folder : view_folders(m, held, through, ignored)) {
        // A folder shown below the top (a combine's upstream) holds what lies there.
        const std::string& at = folder.shown_at;
        if (inner.compare(0, at.size(), at) != 0 || (inner.size() > at.size() && inner[at.size()] != '/')) continue;
        place c;
        c.name = folder.name + inner.substr(at.size());
        c.open_by = (folder.open_by.empty() ? folder.name : folder.open_by) + inner.substr(at.size());
        c.view = self ? m.device : 0;
        // Only one the mount shows as it is: a working folder may hold its like.
        const bool found = ::lstat(c.open_by.c_str(), &c.st) == 0;
        if (found && c.st.st_dev == p.st.st_dev && c.st.st_ino == p.st.st_ino) continue;
        if (found && (c.st.st_mode & S_IFMT) == (p.st.st_mode & S_IFMT) &&
            (!S_ISREG(c.st.st_mode) || c.st.st_size == p.st.st_size)) {
          seen_as.push_back(c);
          continue;
        }
        // What the view makes, or writes anew from a cache of its own, lands
        // in the folder its table names, whatever that shows of it now.
        place in;
        in.name = c.name.substr(0, c.name.rfind('/'));
        if (folder.open_by.empty() && !inner.empty() && ::stat(in.name.c_str(), &in.st) == 0 && S_ISDIR(in.st.st_mode))
          made_in.push_back(in);
      }
    }
    // avfs shows the whole tree: what lies below its mount is the file of that path.
    if (m.type == "fuse.avfsd" && !inner.empty()) add_behind(inner);
    for (const place& in : made_in) add_under_folder(in, depth + 1, via);
    for (const place& c : seen_as) {
      add_behind(c);
      if (self) {
        add_self(c, depth + 1, via);
      } else if (S_ISDIR(c.st.st_mode)) {
        add_under_folder(c, depth + 1, via);
      } else {
        add_under_file(c, depth + 1, false, via);
      }
    }
  }

  // The file behind the loop device `number` in `p` (loop_file); false for
  // what is no bound loop device, or one whose file cannot be found (gone,
  // another namespace's, no device list in a sandbox): a layer nothing tells.
  bool loop_behind(uint64 number, place& p, std::string& via) {
    struct stat st;
    const bool found = loop_file(number, p.name, p.st);
    if (!found && (major(static_cast<dev_t>(number)) != LOOP_DEVICE_MAJOR ||
                   (p.name.empty() && ::stat(block_folder(number).c_str(), &st) == 0)))
      return false;
    std::string node = device_node_of(number);
    if (node.empty()) node = "/dev/loop" + std::to_string(minor(static_cast<dev_t>(number)));
    via = "through the loop device " + node;
    if (found) return true;
    unknown_layer("cannot tell what the loop device " + node + " is stored on: the file behind it" +
                      (p.name.empty() ? std::string() : " (" + p.name + ")") + " cannot be found",
                  number);
    return false;
  }

  // The disk `number`, those it is made on, and a loop device's file and its
  // store; `via` stays empty: a refusal looks up the node it names.
  void add_under_disk(uint64 number, int depth, bool container) {
    file_identity disk;
    disk.block_device = number;
    disk.container = container;
    if (!first_visit(m_reach.under, disk, std::string(), depth)) return;
    for (uint64 below : disks_under(number)) add_under_disk(below, depth + 1, false);
    place p;
    std::string via;
    if (loop_behind(number, p, via)) add_under_store(p, depth + 1, false, via);
  }

  void add_under_store(const place& p, int depth, bool container, const std::string& via) {
    if (S_ISBLK(p.st.st_mode)) add_under_disk(static_cast<uint64>(p.st.st_rdev), depth, container);
    if (S_ISREG(p.st.st_mode)) add_under_file(p, depth, container, via);
  }

  // A file something is stored in (an image; a `container` a FUSE server
  // holds), and what it is stored on and seen as through an overlay or view.
  void add_under_file(const place& p, int depth, bool container, const std::string& via) {
    file_identity id = identity_from(p.st, p.view);
    id.container = container;
    if (!first_visit(m_reach.under, id, via, depth)) return;
    if (!m_reach.in_file) m_reach.in_file = may_hold_source(p.open_by.empty() ? p.name : p.open_by);
    add_store_of(p, depth, true);
  }

  // What `p` is stored on (disk or mount) and, with `views`, seen as there.
  void add_store_of(const place& p, int depth, bool views) {
    if (on_a_disk(p)) {
      add_under_disk(static_cast<uint64>(p.st.st_dev), depth + 1, false);
    } else if (const mount_entry* m = p.mount != nullptr ? p.mount : mount_of(p)) {
      if (views) add_views(p, *m, false, depth);
      add_under_mount(m, depth + 1);
    }
  }

  // A folder a view shows, and what it is stored on.
  void add_under_folder(const place& p, int depth, const std::string& via) {
    if (!first_visit(m_reach.folders, identity_from(p.st), via, depth)) return;
    add_behind(p);
    add_store_of(p, depth, false);
  }

  // What the mount `m` is stored on: its disk, its source, an overlay's upper
  // folder, a FUSE mount's servers' files and named folders. Null: untold.
  void add_under_mount(const mount_entry* m, int depth) {
    if (m == nullptr || depth > MAX_HOLDER_DEPTH || !m_mounts.insert(m->id).second) return;
    const std::string mount =
        std::string("the ") + (is_fuse(*m) ? "FUSE " : "") + "mount at " + m->mount_point + " (" + m->type + ")";
    const std::string via = "through " + mount;
    if (major(static_cast<dev_t>(m->device)) != 0) add_under_disk(m->device, depth, false);
    // What the table entry names: a disk, or a file the mount is stored in.
    place named_file;
    named_file.name = m->source;
    const bool found = !m->source.empty() && m->source[0] == '/' && ::stat(m->source.c_str(), &named_file.st) == 0;
    const bool names_file = found && S_ISREG(named_file.st.st_mode);
    if (found && S_ISBLK(named_file.st.st_mode) && static_cast<uint64>(named_file.st.st_rdev) != m->device)
      add_under_disk(static_cast<uint64>(named_file.st.st_rdev), depth + 1, false);
    if (m->type == "overlay") {
      place upper;
      if (overlay_upper_folder(*m, upper.name) && ::stat(upper.name.c_str(), &upper.st) == 0)
        add_under_folder(upper, depth + 1, via);
      return;
    }
    if (!is_fuse(*m)) {
      if (share_type(m->type)) shared(*m);
      if (names_file) add_under_file(named_file, depth + 1, false, via);
      return;
    }
    // A FUSE mount's store is what its servers hold and what its table entry
    // names, where even an unreadable server's (another user's) image is.
    std::vector<fuse_held_file> held, through;
    fuse_servers_seen seen;
    const std::vector<place> folders = view_folders(*m, held, through, seen);
    m_reach.view_followed = m_reach.view_followed || (depth == 1 && !folders.empty());
    bool named = found;
    for (const place& folder : folders) named = named || folder.open_by.empty();
    // A server that holds its store open to write writes its mount's files
    // in place; one that holds it only to read while its mount takes writes
    // (fuse-zip, archivemount) writes it anew whole, sources and all. A file
    // held both ways is written in place: the writer is met first.
    std::stable_partition(held.begin(), held.end(), [](const fuse_held_file& h) { return h.writable; });
    for (const fuse_held_file& h : held) add_under_store(held_place(h, m->device), depth + 1, !h.writable, via);
    // A file passed through is no store of the view, but is stored on one.
    for (const fuse_held_file& h : through) {
      first_visit(m_reach.passed, identity_from(h.status, m->device), via, depth);
      add_store_of(held_place(h), depth + 1, true);
    }
    for (const place& folder : folders) add_under_folder(folder, depth + 1, via);
    // After what the servers hold, which says how the file is held.
    if (names_file) add_under_file(named_file, depth + 1, false, via);
    const bool remote = share_type(m->type) || (m->type != "fuse.mergerfs" && remote_address(m->source));
    if (remote) shared(*m);
    // What the process runs on is its own to trust: a container's root. The
    // kernel opens a fuseblk mount's device itself: that is its store.
    if (m->mount_point == "/" || m->type == "fuseblk") return;
    if (!seen.exact && !(seen.counted && seen.complete)) {
      const std::string why = "cannot tell what " + mount + " is stored on: its server cannot be found or read";
      if (remote || named) {
        untold(why);
      } else {
        struct stat top;
        unknown_layer(why + ", and its table entry (\"" + m->source + "\") names no share and nothing here",
                      m->device, ::stat(m->mount_point.c_str(), &top) == 0 && top.st_ino == 5);
      }
    } else if (!reads_any(held) && !reads_any(through) && folders.empty() && !names_file) {
      // A server reads what it serves: a file it only writes (its log, an
      // output handed down from whatever started it) tells nothing of that.
      untold("cannot tell what " + mount + " is stored on: its server holds no file and its table entry names none");
    }
  }

  output_reach& m_reach;
  std::deque<place> m_pending;
  bool m_asked = false;
  std::shared_ptr<const mount_table> m_table;
  std::shared_ptr<const fuse_server_list> m_servers;
  std::set<uint64> m_mounts;
  std::map<uint64, shown_folders> m_branches;  // by mount ID
};

}  // namespace

void add_loop_chain(file_identity id, file_identities& out) {
  struct stat st;
  std::string behind;
  for (int depth = 0; depth < MAX_HOLDER_DEPTH && loop_file(id.block_device, behind, st); ++depth)
    out.push_back(id = identity_from(st));
}

std::string descriptor_path(int fd) {
  char text[4096];
  const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), text, sizeof text);
  return n > 0 && static_cast<size_t>(n) < sizeof text ? std::string(text, static_cast<size_t>(n)) : std::string();
}

void reach_of(int fd, const struct stat& st, output_reach& r) {
  reach_builder builder(r);
  builder.add_self(place{fd, descriptor_path(fd), std::string(), st}, 0);
  builder.add_under_self();
}

namespace {

// Kept for the life of the process: a volume may close as it ends. The lock
// is held again by a volume that opens another while it answers.
struct volume_hooks {
  std::recursive_mutex lock;
  std::map<void*, volume_question> open;
};
volume_hooks& hooks() {
  static volume_hooks* const kept = new volume_hooks;
  return *kept;
}

// Whether a layer nothing tells under `r` is unanswered, so refuses a stream:
// no source's volume is open, or a source is read through that very layer.
bool unknown_unanswered(const output_reach& r, const file_identities& sources) {
  return std::none_of(sources.begin(), sources.end(), [](const file_identity& s) { return s.volume != nullptr; }) ||
         std::any_of(sources.begin(), sources.end(), [&r](const file_identity& s) {
           return s.block_device == 0 && std::count(r.unknown_mounts.begin(), r.unknown_mounts.end(), s.device) > 0;
         });
}

// The layer a match came through; a disk's node is looked up only to refuse.
std::string layer_of(const file_identity& id) {
  if (!id.via.empty() || id.block_device == 0) return id.via;
  const std::string node = device_node_of(id.block_device);
  return "through the disk " + (node.empty() ? device_text(id.block_device) : node);
}

// Why writing `out` (an element of what an output reaches: itself, or with
// `stored` what it is stored on) writes the source that `s` stands for.
std::string source_why(const file_identity& out, const file_identity& s, bool stored) {
  const std::string evidence = s.name.empty() ? "the evidence" : "the evidence " + s.name;
  std::string layer = layer_of(out);
  // The output is the file itself; the layer is the source's own (the file
  // behind the loop device it is, the folder's file behind its view).
  const bool own_layer = layer.empty() && !stored;
  if (own_layer) layer = layer_of(s);
  if (!layer.empty()) layer = " " + layer;
  if (own_layer && !s.holder && !layer.empty()) return "it is what " + evidence + " reads" + layer;
  if (!stored) return (s.holder ? "it is what " + evidence + " is stored on" : "it is " + evidence) + layer;
  return (s.holder ? "it is stored in what holds " : "it is stored in ") + evidence + layer;
}

// Whether `id` (of what an output reaches: itself with `self`) is the source
// `s` only as a file a view's server holds, and shows, for one opened through
// it: the output itself, or a source read through it (held only to read).
bool shown_by_view(const file_identity& id, const file_identity& s, bool self, const file_identities& sources) {
  if (id.view == 0 || self) return id.view != 0 && s.holder && s.view == id.view;
  return id.container && std::any_of(sources.begin(), sources.end(), [&id](const file_identity& t) {
           return !t.holder && t.view == id.view && same_file(t, id);
         });
}

reach_answer said(std::string& why, const std::string& text, reach_answer answer) {
  why = text;
  return answer;
}

}  // namespace

void volume_opened(void* volume, volume_question ask) {
  const std::lock_guard<std::recursive_mutex> held(hooks().lock);
  hooks().open.emplace(volume, ask);
}

void volume_closed(void* volume) {
  const std::lock_guard<std::recursive_mutex> held(hooks().lock);
  hooks().open.erase(volume);
}

void ask_volumes(int fd, const file_identities& sources, output_reach& r) {
  std::vector<std::string> paths(1, descriptor_path(fd));
  paths.insert(paths.end(), r.behind.begin(), r.behind.end());
  const std::lock_guard<std::recursive_mutex> held(hooks().lock);
  // A copy: a volume that answers may open others, which join the list. Each
  // is asked once, whichever of its sources names it first.
  std::map<void*, volume_question> open = hooks().open;
  for (const file_identity& s : sources) {
    const auto h = open.find(s.volume);
    if (s.volume == nullptr || h == open.end()) continue;
    for (const std::string& path : paths) {
      std::string where;
      uint64 record = 0;
      const bool first = &path == &paths[0];
      const volume_word word = h->second(s.volume, first ? fd : -1, path, first && r.view_followed, where, record);
      if (word == volume_word::own) {
        r.own = "it is " + where + " of the evidence " + s.name + " (record " + std::to_string(record) + ")";
        r.own_untold = false;
        return;
      }
      // A check that could not finish is no answer: unless another says it is the volume's, refused.
      if (word == volume_word::untold && r.own.empty()) {
        r.own = "cannot tell whether it is a file of the evidence " + s.name + ": " + where;
        r.own_untold = true;
      }
    }
    open.erase(h);
  }
}

reach_answer reaches_source(const output_reach& r, const file_identities& sources, reach_use use, std::string& why) {
  why.clear();
  if (sources.empty() && (use != reach_use::stream_before_volume || r.volume_layer.empty())) return reach_answer::clear;
  for (const file_identity& s : sources) {
    if (s.unsure)
      return said(why, "memory ran out while the evidence's identities were gathered", reach_answer::untold);
    for (const file_identities* reached : {&r.self, &r.under, &r.folders})
      for (const file_identity& id : *reached)
        if (same_file(id, s) && (reached == &r.self || !s.holder || s.container) &&
            !shown_by_view(id, s, reached == &r.self, sources))
          return said(why, source_why(id, s, reached != &r.self), reach_answer::source);
  }
  if (!r.own.empty()) return said(why, r.own, r.own_untold ? reach_answer::untold : reach_answer::source);
  const bool stream = use == reach_use::stream || use == reach_use::stream_before_volume;
  const bool unknown = !r.unknown.empty() && unknown_unanswered(r, sources) && !r.unlisted;
  if (stream ? r.unlisted || unknown : !r.why.empty())
    return unknown ? said(why, r.unknown, reach_answer::unknown) : said(why, r.why, reach_answer::untold);
  if (!stream && !r.numbered.empty() && unknown_unanswered(r, sources))
    return said(why, r.numbered, reach_answer::untold);
  if (use == reach_use::stream_before_volume && !r.volume_layer.empty())
    return said(why, r.volume_layer, reach_answer::unknown);
  if (use == reach_use::existing || r.in_file)
    for (const file_identity& s : sources)
      if (s.untold) return said(why, s.why, reach_answer::untold);
  return reach_answer::clear;
}

}  // namespace uni
