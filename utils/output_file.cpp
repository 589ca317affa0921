#include "utils/output_file.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "utils/file_streams.h"
#include "utils/mount_sources.h"

namespace uni {

namespace {

file_identity identity_from(const struct stat& st) {
  file_identity id;
  id.device = static_cast<uint64>(st.st_dev);
  id.inode = static_cast<uint64>(st.st_ino);
  id.block_device = S_ISBLK(st.st_mode) ? static_cast<uint64>(st.st_rdev) : 0;
  return id;
}

bool same_file(const file_identity& a, const file_identity& b) {
  return (a.device == b.device && a.inode == b.inode) || (a.block_device != 0 && a.block_device == b.block_device);
}

void say_refused(const std::string& name) {
  std::fprintf(stderr, "refused to write to the evidence: %s\n", name.c_str());
}

void say_no_reader(const std::string& name) { std::fprintf(stderr, "no reader: %s\n", name.c_str()); }

// Loop devices stacked on loop devices end somewhere; the bound only keeps
// an answer that led round in a circle from holding the check for ever.
const int MAX_LOOP_DEPTH = 16;

// The file behind the loop device open at `fd`, as the kernel reports it,
// and the name it was bound by; false for anything that is no bound loop
// device.
bool loop_backing(int fd, file_identity& out, std::string& name) {
  struct loop_info64 info;
  std::memset(&info, 0, sizeof info);
  if (::ioctl(fd, LOOP_GET_STATUS64, &info) != 0) return false;
  out.device = info.lo_device;
  out.inode = info.lo_inode;
  // The kernel accepts only regular files and block devices behind a loop
  // device, so a device number here is a block device's.
  out.block_device = info.lo_rdevice;
  const char* text = reinterpret_cast<const char*>(info.lo_file_name);
  name.assign(text, strnlen(text, LO_NAME_SIZE));
  return true;
}

// The node /dev gives the block device `number`, as the system's device
// list names it; "" when it names none.
std::string device_node_of(uint64 number) {
  const dev_t dev = static_cast<dev_t>(number);
  const std::string uevent =
      "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev)) + "/uevent";
  std::FILE* f = std::fopen(uevent.c_str(), "re");
  if (f == nullptr) return "";
  char line[256];
  std::string node;
  while (node.empty() && std::fgets(line, sizeof line, f) != nullptr)
    if (std::strncmp(line, "DEVNAME=", 8) == 0) {
      node = line + 8;
      while (!node.empty() && (node.back() == '\n' || node.back() == '\r')) node.pop_back();
      if (!node.empty()) node = "/dev/" + node;
    }
  std::fclose(f);
  return node;
}

// Opens, for reading only, a node of the block device `number`: the name it
// was bound by when that still leads to it, else the node the system's
// device list gives. -1 when neither does.
int open_block_device(uint64 number, const std::string& bound_name) {
  for (const std::string& name : {bound_name, device_node_of(number)}) {
    struct stat st;
    if (name.empty() || ::stat(name.c_str(), &st) != 0 || !S_ISBLK(st.st_mode) ||
        static_cast<uint64>(st.st_rdev) != number)
      continue;
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    if (::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode) && static_cast<uint64>(st.st_rdev) == number) return fd;
    ::close(fd);
  }
  return -1;
}

// Adds the files behind the loop device open at `fd` (whose identity is
// `id`), following a loop device over a loop device to the end; nothing
// for any other file. `fd` stays open.
void add_loop_chain(int fd, file_identity id, file_identities& out) {
  int current = fd;
  for (int depth = 0; depth < MAX_LOOP_DEPTH && id.block_device != 0; ++depth) {
    std::string bound_name;
    const bool bound = loop_backing(current, id, bound_name);
    if (current != fd) ::close(current);
    if (!bound) break;
    out.push_back(id);
    if (id.block_device == 0) break;
    current = open_block_device(id.block_device, bound_name);
    if (current < 0) break;
  }
}

// Adds the block device `number` and, when it is a loop device, the files
// behind it. Only a loop device is opened to ask what is behind it: opening
// any other disk could have effects of its own and tells nothing more.
void add_disk(uint64 number, file_identities& out) {
  file_identity disk;
  disk.block_device = number;
  out.push_back(disk);
  const std::string node = device_node_of(number);
  if (node.compare(0, 9, "/dev/loop") != 0) return;
  const int held = open_block_device(number, node);
  if (held < 0) return;
  add_loop_chain(held, disk, out);
  ::close(held);
}

bool any_one_of(const file_identities& ids, const file_identities& sources) {
  for (const file_identity& id : ids)
    if (is_one_of(id, sources)) return true;
  return false;
}

// The disk that holds the folder `name` would be made in, and what is
// behind it: asked before the open, whose O_CREAT already writes there.
void holder_of_folder(const std::string& name, file_identities& out) {
  const size_t slash = name.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  identities_of_holder(fd, out);
  ::close(fd);
}

// True when something made in the folder `folder` would write one of
// `sources`. What is no folder takes nothing made in it.
bool folder_holds_source(const std::string& folder, const file_identities& sources) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool holds = folder_descriptor_writes_source(fd, sources);
  ::close(fd);
  return holds;
}

std::string path_below(const std::string& folder, const std::string& name) {
  return folder == "/" ? folder + name : folder + "/" + name;
}

output_result refuse(std::ofstream& stream, output_result why) {
  if (stream.is_open()) stream.close();
  stream.setstate(std::ios_base::failbit);
  return why;
}

// A file made here and not handed out is not left behind under its name.
void forget_made(const std::string& name, const file_identity& id, output_open how) {
  struct stat st;
  if (how == output_open::create_new && ::lstat(name.c_str(), &st) == 0 && same_file(identity_from(st), id))
    ::unlink(name.c_str());
}

}  // namespace

bool identity_of_descriptor(int fd, file_identity& out) {
  out = file_identity();
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) return false;
  out = identity_from(st);
  return true;
}

bool identities_of_descriptor(int fd, file_identities& out) {
  file_identity id;
  if (!identity_of_descriptor(fd, id)) return false;
  out.push_back(id);
  add_loop_chain(fd, id, out);
  return true;
}

bool identities_of_source(int fd, file_identities& out) { return identities_of_descriptor(fd, out); }

bool identities_of_holder(int fd, file_identities& out) {
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)) return false;
  const size_t known = out.size();
  const uint64 device = static_cast<uint64>(st.st_dev);
  if (major(st.st_dev) != 0) add_disk(device, out);
  // A FUSE file system (ntfs-3g over an image or a loop device) has a device
  // number of its own that no disk stands for: what it writes to is named
  // only by its mount's source.
  std::vector<std::string> mounted_from;
  mount_sources_of(device, mounted_from);
  for (const std::string& name : mounted_from) {
    struct stat from;
    if (name.empty() || name[0] != '/' || ::stat(name.c_str(), &from) != 0) continue;
    if (S_ISREG(from.st_mode)) {
      out.push_back(identity_from(from));
    } else if (S_ISBLK(from.st_mode) && static_cast<uint64>(from.st_rdev) != device) {
      add_disk(static_cast<uint64>(from.st_rdev), out);
    }
  }
  return out.size() > known;
}

bool is_one_of(const file_identity& id, const file_identities& sources) {
  for (const file_identity& s : sources)
    if (same_file(id, s)) return true;
  return false;
}

bool folder_descriptor_writes_source(int dirfd, const file_identities& sources) {
  struct stat st;
  if (dirfd < 0 || ::fstat(dirfd, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  file_identities ids;
  identities_of_descriptor(dirfd, ids);
  identities_of_holder(dirfd, ids);
  return any_one_of(ids, sources);
}

bool descriptor_is_source(int fd, const file_identities& sources) {
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) return false;
  file_identities output;
  if (!identities_of_descriptor(fd, output)) return false;
  identities_of_holder(fd, output);
  return any_one_of(output, sources);
}

namespace {

// The check and the open of the descriptor forms. With `empty_now` false a
// file to truncate is left whole, for a caller that empties it only once it
// holds the file its own way.
output_result open_checked(int& fd, const std::string& path, const file_identities& sources, output_open how,
                           bool readable, bool empty_now, uint32 permission) {
  fd = -1;
  std::string name;
  if (!path_to_utf8(name, path)) return output_result::failed;
  file_identities folder;
  holder_of_folder(name, folder);
  if (any_one_of(folder, sources)) {
    say_refused(name);
    return output_result::is_source;
  }
  // Without O_NONBLOCK a FIFO nobody reads would hold the open for ever.
  const int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | (how == output_open::create_new ? O_EXCL : 0);
  int checked = ::open(name.c_str(), flags, static_cast<mode_t>(permission & 07777));
  if (checked < 0) {
    const int err = errno;
    struct stat st;
    if (err == ENXIO && ::stat(name.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
      say_no_reader(name);
      return output_result::no_reader;
    }
    const bool taken = err == EEXIST && how == output_open::create_new;
    return taken ? output_result::exists : output_result::failed;
  }
  file_identities ids;
  if (!identities_of_descriptor(checked, ids)) {
    ::close(checked);
    return output_result::failed;
  }
  identities_of_holder(checked, ids);
  const file_identity id = ids.front();
  if (any_one_of(ids, sources)) {
    ::close(checked);
    say_refused(name);
    return output_result::is_source;
  }
  struct stat now;
  bool ok = ::fstat(checked, &now) == 0;
  // What is read back is the file just checked: opened again through the
  // descriptor's link under /proc, else by its name, which must still lead
  // there. A FIFO stays write-only: one also open for reading would never
  // see its reader go, and a write could then wait for ever.
  if (ok && readable && (S_ISREG(now.st_mode) || S_ISBLK(now.st_mode))) {
    int both = ::open(("/proc/self/fd/" + std::to_string(checked)).c_str(), O_RDWR | O_CLOEXEC);
    if (both < 0) both = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
    file_identity reopened;
    ok = both >= 0 && identity_of_descriptor(both, reopened) && same_file(reopened, id);
    if (both >= 0) {
      ::close(checked);
      checked = both;
    }
  }
  // The reader found by the check is there: from now on a write waits for
  // room in the pipe instead of failing.
  const int status = ok ? ::fcntl(checked, F_GETFL) : -1;
  const int appending = how == output_open::append ? O_APPEND : 0;
  ok = status != -1 && ::fcntl(checked, F_SETFL, (status & ~O_NONBLOCK) | appending) == 0;
  // Only a regular file has a length to cut; a device is written in place.
  if (ok && empty_now && how == output_open::truncate && S_ISREG(now.st_mode)) ok = ::ftruncate(checked, 0) == 0;
  if (ok) {
    fd = checked;
    return output_result::opened;
  }
  ::close(checked);
  forget_made(name, id, how);
  return output_result::failed;
}

}  // namespace

output_result open_output(int& fd, const std::string& path, const file_identities& sources, output_open how,
                          bool readable, uint32 permission) {
  return open_checked(fd, path, sources, how, readable, true, permission);
}

output_result open_output(int& fd, const std::wstring& path, const file_identities& sources, output_open how,
                          bool readable, uint32 permission) {
  std::string name;
  fd = -1;
  if (!path_to_utf8(name, path)) return output_result::failed;
  return open_output(fd, name, sources, how, readable, permission);
}

output_result open_output(std::ofstream& stream, const std::string& path, const file_identities& sources,
                          output_open how) {
  if (stream.is_open()) stream.close();
  stream.clear();
  int fd = -1;
  // Emptied only once the stream holds the file: a stream that cannot be
  // opened leaves it whole.
  const output_result checked = open_checked(fd, path, sources, how, false, false, 0666);
  if (checked != output_result::opened) return refuse(stream, checked);
  std::string name;
  path_to_utf8(name, path);
  file_identity id;
  struct stat now;
  if (!identity_of_descriptor(fd, id) || ::fstat(fd, &now) != 0) {
    ::close(fd);
    forget_made(name, id, how);
    return refuse(stream, output_result::failed);
  }
  // The stream opens, without truncation, the file the descriptor holds
  // (through its link under /proc), so a name switched to the evidence and
  // back meanwhile changes nothing. Where /proc is missing it opens the name
  // again, which must still lead to the file just checked. A FIFO is opened
  // for writing only: one also opened for reading would never see its
  // reader go, and a write could then wait for ever.
  const bool fifo = S_ISFIFO(now.st_mode);
  const std::ios_base::openmode mode =
      fifo ? std::ios_base::out | std::ios_base::binary
           : std::ios_base::out | std::ios_base::in | std::ios_base::binary;
  const std::string held = "/proc/self/fd/" + std::to_string(fd);
  // The stream's own open of a FIFO waits for a reader, and the one there
  // at the check may have gone since: a reader of our own, held while the
  // stream opens, keeps that open from waiting.
  int own_reader = fifo ? ::open(held.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
  stream.open(held, mode);
  bool ok = stream.is_open();
  if (!stream.is_open()) {
    stream.clear();
    if (fifo && own_reader < 0) own_reader = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    stream.open(name, mode);
    ok = stream.is_open() && ::stat(name.c_str(), &now) == 0 && same_file(identity_from(now), id);
  }
  if (own_reader >= 0) ::close(own_reader);
  // With our reader gone, is anyone left to read?
  if (ok && fifo) {
    const int probe = ::open(held.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (probe >= 0) {
      ::close(probe);
    } else if (errno == ENXIO) {
      ::close(fd);
      say_no_reader(name);
      return refuse(stream, output_result::no_reader);
    }
  }
  // A FIFO has no end to seek to: what is written follows what was.
  if (ok && how == output_open::append && !fifo) ok = static_cast<bool>(stream.seekp(0, std::ios_base::end));
  // The stream holds the file: now it may be emptied (a regular file only).
  if (ok && how == output_open::truncate && S_ISREG(now.st_mode)) ok = ::ftruncate(fd, 0) == 0;
  ::close(fd);
  if (ok) return output_result::opened;
  forget_made(name, id, how);
  return refuse(stream, output_result::failed);
}

output_result open_output(std::FILE*& file, const std::string& path, const file_identities& sources,
                          output_open how) {
  file = nullptr;
  int fd = -1;
  const output_result r = open_output(fd, path, sources, how, true);
  if (r != output_result::opened) return r;
  const bool both = (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDWR;
  const bool append = how == output_open::append;
  file = ::fdopen(fd, both ? (append ? "a+" : "w+") : (append ? "a" : "w"));
  if (file != nullptr) return output_result::opened;
  file_identity id;
  identity_of_descriptor(fd, id);
  ::close(fd);
  std::string name;
  path_to_utf8(name, path);
  forget_made(name, id, how);
  return output_result::failed;
}

output_result open_output(std::ofstream& stream, const std::wstring& path, const file_identities& sources,
                          output_open how) {
  std::string name;
  if (!path_to_utf8(name, path)) return refuse(stream, output_result::failed);
  return open_output(stream, name, sources, how);
}

rename_result rename_output(const std::string& from, const std::string& to) {
  std::string source, target;
  if (!path_to_utf8(source, from) || !path_to_utf8(target, to)) return rename_result::failed;
  bool renamed = ::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0;
  int err = renamed ? 0 : errno;
  if (!renamed && (err == EINVAL || err == ENOSYS)) {
    // A file system that cannot rename without replacing: the second name
    // is made as a link, which fails where a name is held, and the first
    // is dropped.
    renamed = ::link(source.c_str(), target.c_str()) == 0;
    err = renamed ? 0 : errno;
    if (renamed) ::unlink(source.c_str());
  }
  if (renamed) return rename_result::renamed;
  struct stat st;
  if (err == EEXIST && ::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return rename_result::taken;
  return rename_result::failed;
}

rename_result rename_output(const std::wstring& from, const std::wstring& to) {
  std::string source, target;
  if (!path_to_utf8(source, from) || !path_to_utf8(target, to)) return rename_result::failed;
  return rename_output(source, target);
}

bool names_source(const std::string& path, const file_identities& sources) {
  struct stat st;
  std::string name;
  if (!path_to_utf8(name, path) || ::lstat(name.c_str(), &st) != 0 || !is_one_of(identity_from(st), sources))
    return false;
  say_refused(name);
  return true;
}

bool names_source(const std::wstring& path, const file_identities& sources) {
  std::string name;
  return path_to_utf8(name, path) && names_source(name, sources);
}

bool folder_writes_source(const std::string& path, const file_identities& sources) {
  if (path.empty()) return false;
  // The folders things would be made in: for each stretch of missing
  // folders, the one already there that the first of them goes into.
  std::vector<std::string> made_in;
  std::string there = path[0] == '/' ? "/" : ".";
  size_t missing = 0;  // folders still to be made below `there`
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      // Out of a folder just made is back in the one it was made in.
      if (missing > 0) {
        --missing;
      } else {
        there = path_below(there, part);
      }
      continue;
    }
    struct stat st;
    if (missing == 0 && ::stat(path_below(there, part).c_str(), &st) == 0) {
      there = path_below(there, part);
      continue;
    }
    if (missing == 0) made_in.push_back(there);
    ++missing;
  }
  // A folder that is there already takes the files made in it.
  if (missing == 0) made_in.push_back(there);
  for (const std::string& folder : made_in)
    if (folder_holds_source(folder, sources)) {
      say_refused(path);
      return true;
    }
  return false;
}

}  // namespace uni
