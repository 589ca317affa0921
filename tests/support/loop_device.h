#pragma once
// A loop device over a file (or over another loop device) for the tests of
// evidence reached through one. It is detached when the object goes, so a
// test that fails half-way leaves no device behind.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/fixture.h"

namespace quor_test {

class loop_device {
 public:
  // Attaches the first free loop device over `backing`, read-only when
  // asked. path() is empty when that cannot be done, and why() says why.
  loop_device(const std::string& backing, bool read_only) {
    if (::geteuid() != 0) {
      m_why = "loop devices need root";
      return;
    }
    if (!have_program("losetup")) {
      m_why = "losetup not installed";
      return;
    }
    std::string shown;
    const std::string cmd =
        std::string("losetup -f --show") + (read_only ? " -r" : "") + " '" + backing + "' 2>/dev/null";
    if (backing.empty() || run_command(cmd, shown) != 0 || shown.compare(0, 5, "/dev/") != 0) {
      m_why = "no loop device could be attached";
      return;
    }
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == ' ')) shown.pop_back();
    m_path = shown;
  }
  ~loop_device() {
    std::string ignored;
    if (!m_path.empty()) run_command("losetup -d '" + m_path + "'", ignored);
  }
  loop_device(const loop_device&) = delete;
  loop_device& operator=(const loop_device&) = delete;

  const std::string& path() const { return m_path; }
  const std::string& why() const { return m_why; }

 private:
  std::string m_path;
  std::string m_why;
};

// The ext2 file system of `device` mounted at the folder `at` (made when
// missing) while the object lives; dir() is empty when it could not be
// mounted. Unmounted before the loop device under it is detached, when
// declared after it.
class ext2_mount {
 public:
  ext2_mount(const std::string& device, const std::string& at) {
    std::string ignored;
    ::mkdir(at.c_str(), 0700);
    if (!device.empty() && run_command("mount -t ext2 '" + device + "' '" + at + "' 2>/dev/null", ignored) == 0)
      m_dir = at;
  }
  ~ext2_mount() {
    std::string ignored;
    if (!m_dir.empty()) run_command("umount '" + m_dir + "'", ignored);
  }
  ext2_mount(const ext2_mount&) = delete;
  ext2_mount& operator=(const ext2_mount&) = delete;

  const std::string& dir() const { return m_dir; }

 private:
  std::string m_dir;
};

// The NTFS volume of the image file `image` mounted read-write by ntfs-3g,
// a FUSE file system, at the folder `at` (made when missing) while the
// object lives; dir() is empty when it could not be mounted, and why() says
// why.
class ntfs3g_mount {
 public:
  ntfs3g_mount(const std::string& image, const std::string& at) {
    if (::geteuid() != 0) {
      m_why = "mounting needs root";
      return;
    }
    if (!have_program("ntfs-3g")) {
      m_why = "ntfs-3g not installed";
      return;
    }
    std::string ignored;
    ::mkdir(at.c_str(), 0700);
    if (image.empty() || run_command("ntfs-3g '" + image + "' '" + at + "' 2>/dev/null", ignored) != 0) {
      m_why = "ntfs-3g could not mount (no FUSE?)";
      return;
    }
    m_dir = at;
  }
  ~ntfs3g_mount() {
    std::string ignored;
    if (!m_dir.empty()) run_command("umount '" + m_dir + "'", ignored);
  }
  ntfs3g_mount(const ntfs3g_mount&) = delete;
  ntfs3g_mount& operator=(const ntfs3g_mount&) = delete;

  const std::string& dir() const { return m_dir; }
  const std::string& why() const { return m_why; }

 private:
  std::string m_dir;
  std::string m_why;
};

}  // namespace quor_test
