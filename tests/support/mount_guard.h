#pragma once
// A mount made by a shell command for the tests of evidence reached through
// it (an overlay, an ext4 on a loop device, ntfs-3g over an image named
// with a comma), undone when the object goes, so that a test that fails
// half-way leaves nothing mounted.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/fixture.h"

namespace quor_test {

// Waits, a few seconds at most, until no process holds the file `path`
// open: a FUSE process ends some time after its unmount, and may still
// write the image as it goes. True when none holds it.
inline bool wait_until_unheld(const std::string& path) {
  struct stat want;
  if (::stat(path.c_str(), &want) != 0) return true;
  for (int tick = 0; tick < 100; ++tick) {
    bool held = false;
    if (DIR* processes = ::opendir("/proc")) {
      while (const struct dirent* p = ::readdir(processes)) {
        const std::string fds = std::string("/proc/") + p->d_name + "/fd";
        DIR* listing = p->d_name[0] >= '1' && p->d_name[0] <= '9' ? ::opendir(fds.c_str()) : nullptr;
        if (listing == nullptr) continue;
        while (const struct dirent* e = ::readdir(listing)) {
          struct stat st;
          if (e->d_name[0] != '.' && ::stat((fds + "/" + e->d_name).c_str(), &st) == 0 && st.st_dev == want.st_dev &&
              st.st_ino == want.st_ino)
            held = true;
        }
        ::closedir(listing);
      }
      ::closedir(processes);
    }
    if (!held) return true;
    ::usleep(30000);
  }
  return false;
}

class mount_guard {
 public:
  // Runs `command` (as root only), which mounts something at the folder
  // `at` (made when missing). dir() is empty when it failed (or `command`
  // is empty), and why() says why: `failure` when given.
  mount_guard(const std::string& command, const std::string& at, const std::string& failure = std::string()) {
    if (::geteuid() != 0) {
      m_why = "mounting needs root";
      return;
    }
    std::string ignored;
    if (!command.empty()) ::mkdir(at.c_str(), 0700);
    if (command.empty() || run_command(command + " 2>/dev/null", ignored) != 0) {
      m_why = !failure.empty() ? failure : "could not mount: " + command;
      return;
    }
    m_dir = at;
  }
  // Unmounted again; a mount still busy (a FUSE process over a file in it
  // that has not ended yet) is waited for a while, then let go lazily.
  ~mount_guard() {
    if (m_dir.empty()) return;
    std::string ignored;
    for (int tick = 0; tick < 50; ++tick) {
      if (run_command("umount '" + m_dir + "' 2>/dev/null", ignored) == 0) return;
      ::usleep(100000);
    }
    run_command("umount -l '" + m_dir + "'", ignored);
  }
  mount_guard(const mount_guard&) = delete;
  mount_guard& operator=(const mount_guard&) = delete;

  const std::string& dir() const { return m_dir; }
  const std::string& why() const { return m_why; }

 private:
  std::string m_dir;
  std::string m_why;
};

}  // namespace quor_test
