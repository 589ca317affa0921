# Sourced by bench/guard-startup.sh, bench/output-check.sh,
# bench/case-folder-cost.sh, bench/copy-check-cost.sh and
# bench/walker-view-cost.sh: a scratch folder, ntfs-3g mounts of new images
# in it, folders of many small files, a volume whose root holds many files,
# mergerfs views, a process holding many descriptors and idle processes, the
# machines the output guard's cost is measured on. Everything made here is undone by guard_cleanup, which
# guard_begin sets to run however the script ends.

guard_work=
guard_mounts=()
guard_servers=()
guard_children=()

guard_begin() {
  guard_work=$(mktemp -d "${TMPDIR:-/tmp}/quor-guard-bench.XXXXXX")
  trap guard_cleanup EXIT
  trap 'exit 130' INT TERM
}

# Ends the processes started here and unmounts the mounts made here.
guard_release() {
  local pid at
  for pid in "${guard_children[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${guard_children[@]}"; do wait "$pid" 2>/dev/null || true; done
  # A FUSE mount still busy for a moment after its last user is let go
  # lazily: the folder under it is removed below all the same, and with the
  # mount detached rm cannot reach into the image.
  for at in "${guard_mounts[@]}"; do
    umount "$at" 2>/dev/null || { sleep 1; umount "$at" 2>/dev/null; } || umount -l "$at" 2>/dev/null || true
  done
  for pid in "${guard_servers[@]}"; do wait "$pid" 2>/dev/null || true; done
}

guard_cleanup() {
  guard_release
  if [ -n "$guard_work" ]; then rm -rf "$guard_work"; fi
}

# guard_wait_mounted AT LOG: until AT is a mount point (20 s at most);
# else what LOG says, and false.
guard_wait_mounted() {
  for _ in $(seq 1 200); do mountpoint -q "$1" && return 0; sleep 0.1; done
  echo "$0: nothing mounted at $1" >&2
  if [ -f "$2" ]; then cat "$2" >&2; fi
  return 1
}

# guard_ntfs_3g IMG AT: IMG mounted by ntfs-3g at the folder AT, its
# server one of the scratch folder's.
guard_ntfs_3g() {
  ntfs-3g -o no_detach "$1" "$2" >"$2.log" 2>&1 &
  guard_servers+=("$!")
  guard_wait_mounted "$2" "$2.log"
  guard_mounts+=("$2")
}

# guard_mount_ntfs NAME AT: a new 64 MiB NTFS image NAME in the scratch
# folder, mounted by ntfs-3g at the new folder AT there.
guard_mount_ntfs() {
  local img="$guard_work/$1" at="$guard_work/$2"
  mkdir "$at"
  truncate -s 64M "$img"
  mkntfs -F -Q -q "$img" >/dev/null 2>&1
  guard_ntfs_3g "$img" "$at"
}

# guard_fill FOLDER COUNT [PREFIX]: FOLDER (made if need be) with COUNT
# small files in it, named PREFIX (default "note") and a number.
guard_fill() {
  mkdir -p "$1"
  python3 - "$1" "$2" "${3:-note}" <<'PY'
import os, sys
folder, count, prefix = sys.argv[1], int(sys.argv[2]), sys.argv[3]
for i in range(count):
    with open(os.path.join(folder, "%s%06d.txt" % (prefix, i)), "w") as f:
        f.write("case note %d\n" % i)
PY
}

# guard_root_volume IMG COUNT [PREFIX]: a new NTFS image IMG whose root
# holds COUNT small files (guard_fill's), written through ntfs-3g, whose
# server has ended (the image whole) when this returns.
guard_root_volume() {
  local at="$guard_work/fill.$$"
  # A record of 1 KiB and some 100 bytes of index a file, with room.
  truncate -s $((64 * 1048576 + $2 * 2048)) "$1"
  mkntfs -F -Q -q -L root "$1" >/dev/null 2>&1
  mkdir "$at"
  guard_ntfs_3g "$1" "$at"
  guard_fill "$at" "$2" "${3:-note}"
  umount "$at"
  wait "${guard_servers[-1]}" || true
  unset 'guard_servers[-1]' 'guard_mounts[-1]'
  rmdir "$at"
}

# guard_mergerfs BRANCH AT [OPTION...]: a mergerfs view of the folder
# BRANCH at the new folder AT.
guard_mergerfs() {
  mkdir "$2"
  mergerfs "${@:3}" "$1" "$2" 2>"$2.log"
  guard_wait_mounted "$2" "$2.log"
  guard_mounts+=("$2")
}

# guard_binds_and_mounts BINDS COUNT NAME AT: COUNT bind mounts in the
# folder BINDS of the scratch folder, and ntfs-3g mounts of the new images
# NAME.img at AT and "NAME,comma.img" (whose table entry ntfs-3g cuts at
# the comma) at AT-comma.
guard_binds_and_mounts() {
  local binds="$guard_work/$1" count=$2 i
  mkdir -p "$binds/from"
  for ((i = 0; i < count; i++)); do
    mkdir "$binds/$i"
    mount --bind "$binds/from" "$binds/$i"
  done
  guard_mount_ntfs "$3.img" "$4"
  guard_mount_ntfs "$3,comma.img" "$4-comma"
}

# guard_hold_descriptors COUNT: one process holding COUNT descriptors open
# (of /dev/null) until the end.
guard_hold_descriptors() {
  local ready="$guard_work/holder.${#guard_children[@]}"
  python3 - "$1" "$ready" <<'PY' &
import os, resource, signal, sys
count, ready = int(sys.argv[1]), sys.argv[2]
resource.setrlimit(resource.RLIMIT_NOFILE, (count + 64, count + 64))
held = [os.open("/dev/null", os.O_RDONLY) for _ in range(count)]
open(ready, "w").close()
signal.pause()
PY
  guard_children+=("$!")
  for _ in $(seq 1 100); do [ -e "$ready" ] && return 0; sleep 0.1; done
  echo "$0: no process holds $1 descriptors" >&2
  return 1
}

# guard_idle_processes COUNT: COUNT more processes that wait until the end.
guard_idle_processes() {
  local i
  for ((i = 0; i < $1; i++)); do
    sleep 86400 &
    guard_children+=("$!")
  done
}

# guard_proc_counts OUTPUT COMMAND...: how often COMMAND, its standard
# output on OUTPUT, reads the mount table and lists /proc: "READS WALKS".
guard_proc_counts() {
  local out=$1 trace="$guard_work/strace.txt"
  shift
  strace -f -qq -e trace=openat,open -o "$trace" "$@" >"$out" 2>/dev/null || true
  echo "$(grep -c '/proc/self/mountinfo"' "$trace") $(grep -c '"/proc", ' "$trace")"
}
