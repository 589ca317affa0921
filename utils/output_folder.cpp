#include "utils/output_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "utils/mount_sources.h"
#include "utils/output_reach.h"

namespace uni {

namespace {

const int FOLDER_FLAGS = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// The folder `part` in `here`, made when missing: `here` is checked first
// (unless `here_checked`), and the folder made is opened without following a
// link and checked again. -1, `why` set (`reason` for a refusal), when it
// cannot be entered; `checked`: the folder entered was checked.
int enter(const held_descriptor& here, bool& here_checked, const std::string& part, const file_identities& sources,
          bool& checked, folder_result& why, std::string& reason) {
  why = folder_result::failed;
  checked = false;
  // Someone may make the name between our open and our mkdir: the second
  // round takes what is there then, as mkdir -p would.
  for (int round = 0; round < 2; ++round) {
    const int existing = ::openat(here.fd, part.c_str(), FOLDER_FLAGS);
    if (existing >= 0 || errno != ENOENT) return existing;
    if (!here_checked && folder_descriptor_reach(here.fd, sources, reason) != reach_answer::clear) {
      why = folder_result::is_source;
      return -1;
    }
    here_checked = true;
    if (::mkdirat(here.fd, part.c_str(), 0777) != 0) {
      if (errno == EEXIST) continue;
      return -1;
    }
    const int made = ::openat(here.fd, part.c_str(), FOLDER_FLAGS | O_NOFOLLOW);
    if (made < 0) return -1;
    if (folder_descriptor_reach(made, sources, reason) != reach_answer::clear) {
      ::close(made);
      why = folder_result::is_source;
      return -1;
    }
    checked = true;
    return made;
  }
  return -1;
}

}  // namespace

folder_result make_output_folder(const std::string& path, const file_identities& sources, int& dirfd) {
  dirfd = -1;
  if (path.empty() || path.find('\0') != std::string::npos) return folder_result::failed;
  // Asked of the path as a whole first, so that a refusal further down
  // leaves no folder made on the way there.
  if (folder_writes_source(path, sources)) return folder_result::is_source;
  held_descriptor here(::open(path[0] == '/' ? "/" : ".", FOLDER_FLAGS));
  if (here.fd < 0) return folder_result::failed;
  bool here_checked = false;
  for (const std::string& part : split(path, '/')) {
    if (part.empty() || part == ".") continue;
    bool checked = false;
    folder_result why = folder_result::failed;
    std::string reason;
    const int next = enter(here, here_checked, part, sources, checked, why, reason);
    if (next < 0) {
      if (why == folder_result::is_source)
        std::fprintf(stderr, "refused to write: %s: %s\n", path.c_str(), reason.c_str());
      return why;
    }
    here.reset(next);
    here_checked = checked;
  }
  // A folder that was there already takes the files made in it.
  std::string reason;
  if (!here_checked && folder_descriptor_reach(here.fd, sources, reason) != reach_answer::clear) {
    std::fprintf(stderr, "refused to write: %s: %s\n", path.c_str(), reason.c_str());
    return folder_result::is_source;
  }
  dirfd = here.release();
  return folder_result::made;
}

std::string held_folder_name(int dirfd, const std::string& path) {
  const std::string held = "/proc/self/fd/" + std::to_string(dirfd);
  struct stat open_st, named_st;
  if (dirfd >= 0 && ::fstat(dirfd, &open_st) == 0 && ::stat(held.c_str(), &named_st) == 0 &&
      open_st.st_dev == named_st.st_dev && open_st.st_ino == named_st.st_ino)
    return held;
  return path;
}

}  // namespace uni
