#!/usr/bin/env bash
# Installs the build and test tools that are missing on a Debian machine.
set -euo pipefail
need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
command -v gzip >/dev/null 2>&1 || need+=(gzip)
# The oracles that tests compare against (fls, istat, icat, mactime, ntfsinfo,
# ntfscat, qemu-img, sfdisk, setfattr, losetup, mkfs.ext2, and strace to slow a
# writer down in a race test), asked for with --oracles; tests that need one
# skip when it is absent.
if [ "${1:-}" = "--oracles" ]; then
command -v fls >/dev/null 2>&1 || need+=(sleuthkit)
command -v ntfsinfo >/dev/null 2>&1 || need+=(ntfs-3g)
command -v qemu-img >/dev/null 2>&1 || need+=(qemu-utils)
command -v sfdisk >/dev/null 2>&1 || need+=(fdisk)
command -v setfattr >/dev/null 2>&1 || need+=(attr)
command -v losetup >/dev/null 2>&1 || need+=(mount)
command -v mkfs.ext2 >/dev/null 2>&1 || need+=(e2fsprogs)
command -v strace >/dev/null 2>&1 || need+=(strace)
fi
if [ ${#need[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y "${need[@]}"
fi
