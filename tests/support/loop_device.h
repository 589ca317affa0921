#pragma once
// A loop device over a file (or over another loop device) for the tests of
// evidence reached through one. It is detached when the object goes, so a
// test that fails half-way leaves no device behind.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/fixture.h"
#include "tests/support/mount_guard.h"

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
class ext2_mount : public mount_guard {
 public:
  ext2_mount(const std::string& device, const std::string& at)
      : mount_guard(device.empty() ? std::string() : "mount -t ext2 '" + device + "' '" + at + "'", at) {}
};

// The NTFS volume of the image file `image` mounted read-write by ntfs-3g,
// a FUSE file system, at the folder `at` (made when missing) while the
// object lives; dir() is empty when it could not be mounted, and why() says
// why.
class ntfs3g_mount : public mount_guard {
 public:
  ntfs3g_mount(const std::string& image, const std::string& at)
      : mount_guard(have_program("ntfs-3g") && !image.empty() ? "ntfs-3g '" + image + "' '" + at + "'" : std::string(),
                    at, have_program("ntfs-3g") ? "ntfs-3g could not mount (no FUSE?)" : "ntfs-3g not installed") {}
};

}  // namespace quor_test
