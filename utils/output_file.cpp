#include "utils/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>

#include "utils/binary_head.h"
#include "utils/file_streams.h"
#include "utils/mount_sources.h"
#include "utils/output_reach.h"

namespace uni {

namespace {

void say_refused(const std::string& path, const std::string& why) {
  std::fprintf(stderr, "refused to write: %s: %s\n", path.c_str(), why.c_str());
}

output_result said_no_reader(const std::string& name) {
  std::fprintf(stderr, "no reader: %s\n", name.c_str());
  return output_result::no_reader;
}

const char* const MEMORY_WHY = "memory ran out while what it is stored on was looked for";

// `why` gets the text where memory allows; its answer stands either way.
void set_why(std::string& why, const char* text) {
  try {
    why.assign(text);
  } catch (const std::exception&) {
    why.clear();
  }
}

bool any_untold(const file_identities& sources) {
  return std::any_of(sources.begin(), sources.end(), [](const file_identity& s) { return s.untold; });
}

// The answer for `fd`, whose status is `st`; where nothing is evidence,
// nothing is asked. Memory that runs out throws std::bad_alloc.
reach_answer answer_for(int fd, const struct stat& st, const file_identities& sources, reach_use use,
                        std::string& why) {
  why.clear();
  if (sources.empty() && use != reach_use::stream_before_volume) return reach_answer::clear;
  output_reach r;
  reach_of(fd, st, r);
  ask_volumes(fd, sources, r);
  return reaches_source(r, sources, use, why);
}

// descriptor_reach's answer, or with `folder` folder_descriptor_reach's,
// with memory that runs out answered `untold`.
reach_answer answer_or_untold(int fd, const file_identities& sources, reach_use use, bool folder, std::string& why) {
  why.clear();
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || !(folder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
    return reach_answer::clear;
  try {
    return answer_for(fd, st, sources, use, why);
  } catch (const std::exception&) {
    set_why(why, MEMORY_WHY);
  }
  return reach_answer::untold;
}

// The same for the folder named `folder`: what is no folder takes nothing.
reach_answer folder_holds_source(const std::string& folder, const file_identities& sources, std::string& why) {
  const held_descriptor held(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat st;
  if (held.fd < 0 || ::fstat(held.fd, &st) != 0) return reach_answer::clear;
  return answer_for(held.fd, st, sources, reach_use::made, why);
}

std::string path_below(const std::string& folder, const std::string& name) {
  return folder == "/" ? folder + name : folder + "/" + name;
}

bool appends(output_open how) { return how == output_open::append || how == output_open::extend; }

output_result refuse(std::ofstream& stream, output_result why) {
  if (stream.is_open()) stream.close();
  stream.setstate(std::ios_base::failbit);
  return why;
}

// Closes a descriptor not handed out, and unlinks a file made with it where
// the name still leads there: an early end (memory too) leaves nothing behind.
class opened_file {
 public:
  opened_file(const std::string& name, int fd, bool made) : m_name(name), m_held(fd) {
    m_made = identity_of_descriptor(fd, m_id) && made;
  }
  ~opened_file() {
    if (m_held.fd < 0) return;
    m_held.reset(-1);
    struct stat st;
    if (m_made && ::lstat(m_name.c_str(), &st) == 0 && same_file(identity_from(st), m_id))
      ::unlink(m_name.c_str());
  }

  void replace(int fd) { m_held.reset(fd); }
  int fd() const { return m_held.fd; }
  const file_identity& id() const { return m_id; }
  int release() { return m_held.release(); }

 private:
  const std::string& m_name;
  held_descriptor m_held;
  bool m_made;
  file_identity m_id;
};

// The check and open of the descriptor forms. With `empty_now` false, a file
// to truncate is left whole for a caller that empties it once it holds it.
output_result open_checked(int& fd, const std::string& path, const file_identities& sources, output_open how,
                           bool readable, bool empty_now, uint32 permission) {
  fd = -1;
  try {
    std::string name;
    if (!path_to_utf8(name, path)) return output_result::failed;
    // The folder is asked before the open, whose O_CREAT writes there.
    const size_t slash = name.rfind('/');
    std::string why;
    const reach_answer in_folder =
        folder_holds_source(slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash), sources, why);
    if (said_refused(in_folder, name, why))
      return in_folder == reach_answer::source ? output_result::is_source : output_result::untold;
    // Without O_NONBLOCK a FIFO nobody reads would hold the open for ever.
    const bool create_new = how == output_open::create_new;
    const int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | (create_new ? O_EXCL : 0);
    const mode_t mode = static_cast<mode_t>(permission & 07777);
    // Where a source is read through a layer that cannot be told, a file that
    // was there may be it: the open itself says whether it makes the file.
    int checked = !create_new && any_untold(sources) ? ::open(name.c_str(), flags | O_EXCL, mode) : -1;
    const bool existing = !create_new && checked < 0;
    if (checked < 0) checked = ::open(name.c_str(), flags, mode);
    if (checked < 0) {
      const int err = errno;
      struct stat st;
      if (err == ENXIO && ::stat(name.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) return said_no_reader(name);
      return err == EEXIST && create_new ? output_result::exists : output_result::failed;
    }
    opened_file file(name, checked, !existing);
    struct stat now;
    if (::fstat(file.fd(), &now) != 0) return output_result::failed;
    const bool stored = S_ISREG(now.st_mode) || S_ISBLK(now.st_mode);
    const reach_answer answer =
        answer_for(file.fd(), now, sources, existing && stored ? reach_use::existing : reach_use::made, why);
    if (said_refused(answer, name, why))
      return answer == reach_answer::source ? output_result::is_source : output_result::untold;
    // Whatever identity says, quor writes text: a head holding anything else
    // may be evidence no layer above showed. The general file utilities write
    // what they are handed; a file edited in place holds what it held.
    std::string what;
    const bool by_content = how != output_open::rewrite && how != output_open::extend;
    if (by_content && content_of(file.fd(), what) == head_content::binary) {
      std::fputs(binary_refusal(name, what).c_str(), stderr);
      return output_result::binary;
    }
    bool ok = true;
    // What is read back is the file just checked, reopened as open_stream
    // opens it; a FIFO stays write-only, or a write could wait for ever.
    if (readable && stored) {
      int both = ::open(("/proc/self/fd/" + std::to_string(file.fd())).c_str(), O_RDWR | O_CLOEXEC);
      if (both < 0) both = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
      file_identity reopened;
      ok = both >= 0 && identity_of_descriptor(both, reopened) && same_file(reopened, file.id());
      if (both >= 0) file.replace(both);
    }
    // A reader is there now: a write waits for room in the pipe, not fails.
    const int status = ok ? ::fcntl(file.fd(), F_GETFL) : -1;
    ok = status != -1 && ::fcntl(file.fd(), F_SETFL, (status & ~O_NONBLOCK) | (appends(how) ? O_APPEND : 0)) == 0;
    // Only a regular file has a length to cut; a device is written in place.
    if (ok && empty_now && !appends(how) && S_ISREG(now.st_mode)) ok = ::ftruncate(file.fd(), 0) == 0;
    if (!ok) return output_result::failed;
    fd = file.release();
    return output_result::opened;
  } catch (const std::exception&) {
    return output_result::failed;
  }
}

// The stream form past the check: the stream takes the file opened at `fd`
// by `name` (found whole); any failure closes it and forgets a file made.
output_result open_stream(std::ofstream& stream, const std::string& name, output_open how, int fd) {
  opened_file file(name, fd, how == output_open::create_new);
  struct stat now;
  if (::fstat(file.fd(), &now) != 0) return refuse(stream, output_result::failed);
  // The stream opens, untruncated, the descriptor's file by its /proc link,
  // so a name switched to the evidence and back meanwhile changes nothing;
  // else the name, which must still lead there; a FIFO write-only, as before.
  const bool fifo = S_ISFIFO(now.st_mode);
  const std::ios_base::openmode mode =
      std::ios_base::out | std::ios_base::binary | (fifo ? std::ios_base::openmode() : std::ios_base::in);
  const std::string held = "/proc/self/fd/" + std::to_string(file.fd());
  // A reader of our own, held while the stream opens, keeps its open of a
  // FIFO from waiting for one: the reader there at the check may be gone.
  bool ok = false;
  {
    const held_descriptor own_reader(fifo ? ::open(held.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1);
    stream.open(held, mode);
    ok = stream.is_open();
    if (!stream.is_open()) {
      stream.clear();
      const held_descriptor by_name(fifo && own_reader.fd < 0 ? ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                                                               : -1);
      stream.open(name, mode);
      ok = stream.is_open() && ::stat(name.c_str(), &now) == 0 && same_file(identity_from(now), file.id());
    }
  }
  // With our reader gone, is anyone left to read?
  if (ok && fifo) {
    const held_descriptor probe(::open(held.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (probe.fd < 0 && errno == ENXIO) return refuse(stream, said_no_reader(name));
  }
  // A FIFO has no end to seek to: what is written follows what was.
  if (ok && appends(how) && !fifo) ok = static_cast<bool>(stream.seekp(0, std::ios_base::end));
  // The stream holds the file: now it may be emptied (a regular file only).
  if (ok && !appends(how) && S_ISREG(now.st_mode)) ok = ::ftruncate(file.fd(), 0) == 0;
  if (!ok) return refuse(stream, output_result::failed);
  ::close(file.release());
  return output_result::opened;
}

// link()'s answers where there are no second names (FAT, davfs2; rclone: EIO).
bool links_unsupported(int err) {
  return err == EPERM || err == EOPNOTSUPP || err == ENOTSUP || err == ENOSYS || err == EIO;
}

template <class Path>
rename_result rename_without_replacing(const Path& from, const Path& to) try {
  std::string source, target;
  if (!path_to_utf8(source, from) || !path_to_utf8(target, to)) return rename_result::failed;
  int err = ::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
  struct stat st;
  if (err == EINVAL || err == ENOSYS) {
    // A file system that cannot rename without replacing: a link, which
    // fails where the name is held, makes the second name; the first goes.
    err = ::link(source.c_str(), target.c_str()) == 0 ? 0 : errno;
    if (err == 0) ::unlink(source.c_str());
    if (links_unsupported(err)) {
      // Neither is had: a plain rename once the name is found free; what takes
      // it between is replaced, a race open only where nothing better is.
      err = ::lstat(target.c_str(), &st) == 0 ? EEXIST : errno;
      if (err == ENOENT) err = ::rename(source.c_str(), target.c_str()) == 0 ? 0 : errno;
    }
  }
  if (err == 0) return rename_result::renamed;
  if (err == EEXIST && ::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return rename_result::taken;
  return rename_result::failed;
} catch (const std::exception&) {
  return rename_result::failed;
}

// Where things would be made as `path` is made with the folders missing above
// it: for each stretch of missing folders, the existing one the first goes in.
std::vector<std::string> folders_made_in(const std::string& path) {
  std::vector<std::string> made_in;
  std::string there = path[0] == '/' ? "/" : ".";
  size_t missing = 0;  // folders still to be made below `there`
  for (const std::string& part : split(path, '/')) {
    if (part.empty() || part == ".") continue;
    struct stat st;
    // Out of a folder just made is back in the one it was made in.
    if (part == ".." && missing > 0) {
      --missing;
    } else if (missing == 0 && (part == ".." || ::stat(path_below(there, part).c_str(), &st) == 0)) {
      there = path_below(there, part);
    } else {
      if (missing == 0) made_in.push_back(there);
      ++missing;
    }
  }
  // A folder that is there already takes the files made in it.
  if (missing == 0) made_in.push_back(there);
  return made_in;
}

}  // namespace

bool said_refused(reach_answer answer, const std::string& path, const std::string& why) {
  if (answer != reach_answer::clear) say_refused(path, why);
  return answer != reach_answer::clear;
}

bool identity_of_descriptor(int fd, file_identity& out) {
  out = file_identity();
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) return false;
  out = identity_from(st);
  return true;
}

bool identities_of_descriptor(int fd, file_identities& out) {
  try {
    file_identity id;
    if (!identity_of_descriptor(fd, id)) return false;
    out.push_back(id);
    add_loop_chain(id, out);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool identities_of_source(int fd, file_identities& out) {
  try {
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) return false;
    output_reach r;
    reach_of(fd, st, r);
    const std::string name = descriptor_path(fd);
    out.reserve(out.size() + r.self.size() + r.under.size() + r.passed.size());
    const size_t first = out.size();
    for (const file_identities* reached : {&r.self, &r.under, &r.passed})
      for (file_identity id : *reached) {
        id.holder = reached != &r.self;
        id.name = name;
        out.push_back(id);
      }
    // A file that is there already may be this source, seen by another way;
    // so may any, whatever a server holds for it, of a share's.
    if (!r.why.empty() || !r.share.empty()) {
      out[first].untold = true;
      out[first].why = "it may be the evidence " + name + ": " + (r.share.empty() ? r.why : r.share);
    }
    return true;
  } catch (const std::exception&) {
    // Even a set memory left empty says so, or nothing would be checked at all.
    if (out.empty()) out.emplace_back();
    out.back().unsure = true;
    return false;
  }
}

reach_answer folder_descriptor_reach(int dirfd, const file_identities& sources, std::string& why) {
  return answer_or_untold(dirfd, sources, reach_use::made, true, why);
}

reach_answer descriptor_reach(int fd, const file_identities& sources, std::string& why) {
  return answer_or_untold(fd, sources, reach_use::made, false, why);
}

reach_answer stream_reach(int fd, const file_identities& sources, std::string& why, bool volume_to_come) {
  return answer_or_untold(fd, sources, volume_to_come ? reach_use::stream_before_volume : reach_use::stream, false,
                          why);
}

output_result open_output(int& fd, const std::string& path, const file_identities& sources, output_open how,
                          bool readable, uint32 permission) {
  return open_checked(fd, path, sources, how, readable, true, permission);
}

output_result open_output(std::ofstream& stream, const std::string& path, const file_identities& sources,
                          output_open how) {
  if (stream.is_open()) stream.close();
  stream.clear();
  int fd = -1;
  // Emptied only once the stream holds it, so a failed open leaves it whole.
  const output_result checked = open_checked(fd, path, sources, how, false, false, 0666);
  if (checked != output_result::opened) return refuse(stream, checked);
  try {
    return open_stream(stream, path, how, fd);
  } catch (const std::exception&) {
    return refuse(stream, output_result::failed);
  }
}

output_result open_output(std::FILE*& file, const std::string& path, const file_identities& sources,
                          output_open how) {
  file = nullptr;
  int fd = -1;
  const output_result r = open_output(fd, path, sources, how, true);
  if (r != output_result::opened) return r;
  const bool both = (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDWR;
  file = ::fdopen(fd, appends(how) ? (both ? "a+" : "a") : (both ? "w+" : "w"));
  if (file != nullptr) return output_result::opened;
  // The name the check opened it by, found whole.
  const opened_file made(path, fd, how == output_open::create_new);
  return output_result::failed;
}

output_result open_output(std::ofstream& stream, const std::wstring& path, const file_identities& sources,
                          output_open how) {
  try {
    std::string name;
    if (!path_to_utf8(name, path)) return refuse(stream, output_result::failed);
    return open_output(stream, name, sources, how);
  } catch (const std::exception&) {
    return refuse(stream, output_result::failed);
  }
}

rename_result rename_output(const std::string& from, const std::string& to) {
  return rename_without_replacing(from, to);
}

rename_result rename_output(const std::wstring& from, const std::wstring& to) {
  return rename_without_replacing(from, to);
}

bool names_source(const std::string& path, const file_identities& sources, const std::string& shown) {
  struct stat st;
  std::string why;
  try {
    std::string name;
    if (!path_to_utf8(name, path) || ::lstat(name.c_str(), &st) != 0) return false;
    const file_identity id = identity_from(st);
    const file_identities::const_iterator s =
        std::find_if(sources.begin(), sources.end(), [&](const file_identity& e) { return same_file(e, id); });
    if (s == sources.end()) return false;
    why = s->name.empty() ? "it is the evidence" : "it is the evidence " + s->name;
  } catch (const std::exception&) {
    // Unsure: the name is refused.
    set_why(why, MEMORY_WHY);
  }
  say_refused(shown.empty() ? path : shown, why);
  return true;
}

bool folder_writes_source(const std::string& path, const file_identities& sources) {
  if (path.empty()) return false;
  try {
    std::string why;
    for (const std::string& folder : folders_made_in(path))
      if (said_refused(folder_holds_source(folder, sources, why), path, why)) return true;
    return false;
  } catch (const std::exception&) {
    say_refused(path, MEMORY_WHY);
    return true;
  }
}

}  // namespace uni
