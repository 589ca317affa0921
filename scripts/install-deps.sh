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
# What a zip archive a view wrote back is listed with.
command -v unzip >/dev/null 2>&1 || need+=(unzip)
# The layers the evidence guard is tried through: container views (EWF, AFF,
# squashfs), encrypted folders, archive views, pass-through views, a share
# of this machine over ssh, btrfs, xfs, an ext4 served by FUSE, a remote
# over HTTP and a split VMDK.
command -v ewfmount >/dev/null 2>&1 || need+=(ewf-tools)
command -v xmount >/dev/null 2>&1 || need+=(xmount)
command -v affuse >/dev/null 2>&1 || need+=(afflib-tools)
command -v squashfuse >/dev/null 2>&1 || need+=(squashfuse)
command -v mksquashfs >/dev/null 2>&1 || need+=(squashfs-tools)
command -v bindfs >/dev/null 2>&1 || need+=(bindfs)
command -v mergerfs >/dev/null 2>&1 || need+=(mergerfs)
command -v unionfs >/dev/null 2>&1 || need+=(unionfs-fuse)
command -v fuse-zip >/dev/null 2>&1 || need+=(fuse-zip)
command -v archivemount >/dev/null 2>&1 || need+=(archivemount)
command -v gocryptfs >/dev/null 2>&1 || need+=(gocryptfs)
command -v encfs >/dev/null 2>&1 || need+=(encfs)
command -v rclone >/dev/null 2>&1 || need+=(rclone)
command -v sshfs >/dev/null 2>&1 || need+=(sshfs)
[ -x /usr/sbin/sshd ] || need+=(openssh-server)
[ -x /usr/lib/openssh/sftp-server ] || need+=(openssh-sftp-server)
command -v ssh-keygen >/dev/null 2>&1 || need+=(openssh-client)
command -v mkfs.btrfs >/dev/null 2>&1 || need+=(btrfs-progs)
command -v mkfs.xfs >/dev/null 2>&1 || need+=(xfsprogs)
command -v fuse2fs >/dev/null 2>&1 || need+=(fuse2fs)
command -v httpfs2 >/dev/null 2>&1 || need+=(httpfs2)
command -v vmdkmount >/dev/null 2>&1 || need+=(libvmdk-utils)
command -v zip >/dev/null 2>&1 || need+=(zip)
# avfs views, a WebDAV share in the kernel, a sandbox of its own PID
# namespace.
command -v mountavfs >/dev/null 2>&1 || need+=(avfs)
command -v mount.davfs >/dev/null 2>&1 || need+=(davfs2)
command -v bwrap >/dev/null 2>&1 || need+=(bubblewrap)
# A disk image mounted by libguestfs's appliance, a block export of
# qemu's storage daemon, a FAT image served by FUSE, an overlay served by
# FUSE.
command -v guestmount >/dev/null 2>&1 || need+=(libguestfs-tools)
command -v qemu-storage-daemon >/dev/null 2>&1 || need+=(qemu-system-common)
command -v fusefat >/dev/null 2>&1 || need+=(fusefat)
command -v mkfs.vfat >/dev/null 2>&1 || need+=(dosfstools)
command -v fuse-overlayfs >/dev/null 2>&1 || need+=(fuse-overlayfs)
# The benchmark scripts' timers: hyperfine, and GNU time for peak memory.
command -v hyperfine >/dev/null 2>&1 || need+=(hyperfine)
[ -x /usr/bin/time ] || need+=(time)
fi
if [ ${#need[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y "${need[@]}"
fi
