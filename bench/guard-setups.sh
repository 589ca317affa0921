# Sourced by bench/guard-startup.sh, bench/output-check.sh and
# bench/case-folder-cost.sh: a scratch
# folder, ntfs-3g mounts of new images in it, a process holding many
# descriptors and idle processes, the machines the output guard's cost is
# measured on. Everything made here is undone by guard_cleanup, which
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

# guard_mount_ntfs NAME AT: a new 64 MiB NTFS image NAME in the scratch
# folder, mounted by ntfs-3g at the new folder AT there.
guard_mount_ntfs() {
  local img="$guard_work/$1" at="$guard_work/$2"
  mkdir "$at"
  truncate -s 64M "$img"
  mkntfs -F -Q -q "$img" >/dev/null 2>&1
  ntfs-3g -o no_detach "$img" "$at" >"$at.log" 2>&1 &
  guard_servers+=("$!")
  for _ in $(seq 1 100); do mountpoint -q "$at" && break; sleep 0.1; done
  mountpoint -q "$at" || { cat "$at.log" >&2; return 1; }
  guard_mounts+=("$at")
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
