#include "utils/output_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "utils/mount_sources.h"
#include "utils/output_reach.h"

namespace uni {

namespace {

const int FOLDER_FLAGS = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Enters the folder `part` of `here`, made when missing after `here` is
// checked (unless `checked` says it was), opened without following a link
// and checked too; `checked` then says whether it was. Refusals name `path`.
folder_result enter(held_descriptor& here, bool& checked, const std::string& part, const std::string& path,
                    const file_identities& sources) {
  std::string why;
  // A name made between our open and mkdir is taken next round, as by mkdir -p.
  for (int round = 0; round < 2; ++round) {
    const int existing = ::openat(here.fd, part.c_str(), FOLDER_FLAGS);
    if (existing >= 0 || errno != ENOENT) {
      here.reset(existing);
      checked = false;
      return existing >= 0 ? folder_result::made : folder_result::failed;
    }
    if (!checked && said_refused(folder_descriptor_reach(here.fd, sources, why), path, why))
      return folder_result::is_source;
    checked = true;
    if (::mkdirat(here.fd, part.c_str(), 0777) != 0) {
      if (errno == EEXIST) continue;
      return folder_result::failed;
    }
    here.reset(::openat(here.fd, part.c_str(), FOLDER_FLAGS | O_NOFOLLOW));
    if (here.fd < 0) return folder_result::failed;
    const bool refused = said_refused(folder_descriptor_reach(here.fd, sources, why), path, why);
    return refused ? folder_result::is_source : folder_result::made;
  }
  return folder_result::failed;
}

}  // namespace

folder_result make_output_folder(const std::string& path, const file_identities& sources, int& dirfd) {
  dirfd = -1;
  if (path.empty() || path.find('\0') != std::string::npos) return folder_result::failed;
  // The whole path is asked first, so a refusal deep down leaves nothing made.
  if (folder_writes_source(path, sources)) return folder_result::is_source;
  held_descriptor here(::open(path[0] == '/' ? "/" : ".", FOLDER_FLAGS));
  if (here.fd < 0) return folder_result::failed;
  bool checked = false;
  for (const std::string& part : split(path, '/')) {
    if (part.empty() || part == ".") continue;
    const folder_result entered = enter(here, checked, part, path, sources);
    if (entered != folder_result::made) return entered;
  }
  // A folder that was there already takes the files made in it.
  std::string why;
  if (!checked && said_refused(folder_descriptor_reach(here.fd, sources, why), path, why))
    return folder_result::is_source;
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
