#pragma once
// A mount made by a shell command for the tests of evidence reached through
// it (an overlay, an ext4 on a loop device, ntfs-3g over an image named
// with a comma), undone when the object goes, so that a test that fails
// half-way leaves nothing mounted.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/fixture.h"

namespace quor_test {

// How long a wait for a FUSE server to let go is given: a server ends some
// time after its unmount, later still on a loaded machine or while a copy
// of its mount, made meanwhile by a namespace another test (or anything
// on the machine) creates, keeps it serving.
const std::chrono::seconds kServerEndBound(60);

// Waits, a minute at most, until no process holds the file `path` open: a
// FUSE process ends some time after its unmount, and may still write the
// image as it goes. True when none holds it.
inline bool wait_until_unheld(const std::string& path) {
  struct stat want;
  if (::stat(path.c_str(), &want) != 0) return true;
  const auto deadline = std::chrono::steady_clock::now() + kServerEndBound;
  for (;;) {
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
    if (std::chrono::steady_clock::now() > deadline) return false;
    ::usleep(30000);
  }
}

// The kernel's number of the FUSE connection behind the mount at `at`: its
// device number in the kernel's own form (the minor in the low 20 bits), as
// /proc/<pid>/fdinfo shows it beside each /dev/fuse its server holds. 0
// when `at` is no FUSE mount.
inline unsigned long long fuse_connection_at(const std::string& at) {
  struct statfs fs;
  struct stat st;
  const unsigned long long kFuseMagic = 0x65735546;
  if (::statfs(at.c_str(), &fs) != 0 || static_cast<unsigned long long>(fs.f_type) != kFuseMagic ||
      ::stat(at.c_str(), &st) != 0)
    return 0;
  return (static_cast<unsigned long long>(major(st.st_dev)) << 20) | minor(st.st_dev);
}

// The loop device under the mount at `at` that goes when that mount goes
// (one `mount -o loop` attached, with autoclear), as "major:minor", and
// the file behind it; both "" for any other mount.
inline void autoclear_loop_at(const std::string& at, std::string& device, std::string& backing) {
  device.clear();
  backing.clear();
  struct stat st;
  const unsigned kLoopMajor = 7;
  if (::stat(at.c_str(), &st) != 0 || major(st.st_dev) != kLoopMajor) return;
  const std::string sys =
      "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev)) + "/loop/";
  std::string autoclear;
  std::ifstream(sys + "autoclear") >> autoclear;
  std::ifstream in(sys + "backing_file");
  if (autoclear != "1" || !std::getline(in, backing)) {
    backing.clear();
    return;
  }
  device = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
}

// Waits, a minute at most, until the loop device `device` no longer has
// `backing` behind it: the kernel lets it go with the last copy of its
// mount, which a namespace another test made meanwhile may hold, and only
// then writes the file system's last state into the file. True when gone.
inline bool wait_until_loop_gone(const std::string& device, const std::string& backing) {
  if (device.empty()) return true;
  const auto deadline = std::chrono::steady_clock::now() + kServerEndBound;
  for (;;) {
    std::ifstream in("/sys/dev/block/" + device + "/loop/backing_file");
    std::string now;
    if (!std::getline(in, now) || now != backing) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    ::usleep(30000);
  }
}

// A process by its id and start time: an id taken again by another process
// is not it.
struct process_mark {
  std::string pid, start;
};

// The start time of the process `pid` (from /proc/<pid>/stat); "" once it
// has ended, even while its parent has not yet reaped it.
inline std::string process_start(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/stat");
  std::string text;
  std::getline(in, text);
  const size_t name_end = text.rfind(')');
  if (name_end == std::string::npos) return "";
  std::istringstream fields(text.substr(name_end + 1));
  std::string state, field;
  fields >> state;
  if (state == "Z" || state == "X") return "";
  // The start time is the 22nd field; the state is the 3rd.
  for (int n = 4; n <= 22; ++n)
    if (!(fields >> field)) return "";
  return field;
}

// The processes that hold /dev/fuse for `connection`: the mount's server.
inline std::vector<process_mark> fuse_servers_of(unsigned long long connection) {
  std::vector<process_mark> servers;
  if (connection == 0) return servers;
  DIR* processes = ::opendir("/proc");
  if (processes == nullptr) return servers;
  while (const struct dirent* p = ::readdir(processes)) {
    if (p->d_name[0] < '1' || p->d_name[0] > '9') continue;
    const std::string pid = p->d_name, fds = "/proc/" + pid + "/fd";
    DIR* listing = ::opendir(fds.c_str());
    if (listing == nullptr) continue;
    bool serves = false;
    while (const struct dirent* e = ::readdir(listing)) {
      struct stat st;
      if (serves || e->d_name[0] == '.' || ::stat((fds + "/" + e->d_name).c_str(), &st) != 0 || !S_ISCHR(st.st_mode) ||
          major(st.st_rdev) != 10 || minor(st.st_rdev) != 229)
        continue;
      std::ifstream info("/proc/" + pid + "/fdinfo/" + e->d_name);
      for (std::string line; std::getline(info, line);)
        if (line.compare(0, 16, "fuse_connection:") == 0 && std::strtoull(line.c_str() + 16, nullptr, 10) == connection)
          serves = true;
    }
    ::closedir(listing);
    if (serves) servers.push_back({pid, process_start(pid)});
  }
  ::closedir(processes);
  return servers;
}

// Waits, a minute at most, until each of `servers` has ended: only then is
// what it wrote back (an image, an archive) final. True when all have.
inline bool wait_until_ended(const std::vector<process_mark>& servers) {
  const auto deadline = std::chrono::steady_clock::now() + kServerEndBound;
  for (;;) {
    bool running = false;
    for (const process_mark& s : servers) {
      const std::string now = process_start(s.pid);
      running = running || (!now.empty() && now == s.start);
    }
    if (!running) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    ::usleep(30000);
  }
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
    m_connection = fuse_connection_at(at);
  }
  // Unmounted again; a mount still busy (a FUSE process over a file in it
  // that has not ended yet) is waited for a while, then let go lazily. A
  // FUSE mount's server is waited for until it ends.
  ~mount_guard() {
    if (m_dir.empty()) return;
    const std::vector<process_mark> servers = fuse_servers_of(m_connection);
    std::string ignored;
    bool gone = false;
    for (int tick = 0; tick < 50 && !gone; ++tick) {
      gone = run_command("umount '" + m_dir + "' 2>/dev/null", ignored) == 0;
      if (!gone) ::usleep(100000);
    }
    if (!gone) run_command("umount -l '" + m_dir + "'", ignored);
    wait_until_ended(servers);
  }
  mount_guard(const mount_guard&) = delete;
  mount_guard& operator=(const mount_guard&) = delete;

  const std::string& dir() const { return m_dir; }
  const std::string& why() const { return m_why; }

 private:
  std::string m_dir;
  std::string m_why;
  unsigned long long m_connection = 0;
};

}  // namespace quor_test
