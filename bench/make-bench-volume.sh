#!/bin/bash
# Makes a large volume for timing quor against The Sleuth Kit (not
# committed): DIRS folders (default 5,000, in 50 groups) of FILES files each
# (default 20: 100,000 files), named and filled as the fixture kit's
# "varied" style, then in every folder file i is deleted when i % 3 == 0 and
# renamed to "<name>.old" when i % 3 == 1 (tests/fixtures/README.md).
# Beside OUT it writes OUT.listing and OUT.deleted in the kit's formats,
# checked against fls.
#
# Usage (root, FUSE mount):
#   bench/make-bench-volume.sh [-size MIB] OUT.img [DIRS] [FILES]
#   bench/make-bench-volume.sh [-size MIB] -one-folder OUT.img
# -size makes the volume MIB MiB (default: just large enough for the files);
# -one-folder makes one folder of 200,000 files instead (DIRS 1, FILES
# 200000: a third deleted, a third renamed), the shape that tests memory.
# Then, for example:
#   time build/release/quor -image OUT.img -all -csv >/dev/null
#   time fls -r -p -m C: OUT.img >/dev/null
set -euo pipefail
export LC_ALL=C
usage() { echo "usage: $0 [-size MIB] [-one-folder] OUT.img [DIRS] [FILES]" >&2; exit 2; }
size_mib=
one_folder=
while [ $# -gt 0 ]; do
  case $1 in
    -size) [ $# -ge 2 ] || usage; size_mib=$2; shift 2 ;;
    -one-folder) one_folder=1; shift ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || usage
out=$1
dirs=${2:-5000}
files=${3:-20}
if [ -n "$one_folder" ]; then dirs=1; files=200000; fi
tool="$(cd "$(dirname "$0")/../tests/fixtures" && pwd)/fxtool.py"
work=$(mktemp -d "${TMPDIR:-/tmp}/quor-bench.XXXXXX")
mnt="$work/mnt"
pid=
cleanup() {
  if [ -n "$pid" ]; then umount "$mnt" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$mnt"
export FX_MNT="$mnt" FX_DELETED="$work/deleted.log"
: >"$FX_DELETED"

start=$(date +%s)
rm -f "$out"
# 1 KiB per MFT record and about 4 KiB of index per folder, with room.
bytes=$(( (dirs * files * 2 + dirs * 12 + 64 * 1024) * 1024 ))
if [ -n "$size_mib" ]; then
  (( size_mib * 1048576 >= bytes )) || { echo "$0: -size $size_mib is too small" >&2; exit 2; }
  bytes=$(( size_mib * 1048576 ))
fi
truncate -s "$bytes" "$out"
mkntfs -F -Q -T -q -L bench "$out" >/dev/null 2>&1
ntfs-3g -o no_detach "$out" "$mnt" >"$work/ntfs-3g.log" 2>&1 &
pid=$!
for _ in $(seq 1 100); do mountpoint -q "$mnt" && break; sleep 0.1; done
mountpoint -q "$mnt" || { cat "$work/ntfs-3g.log" >&2; exit 1; }

python3 - "$tool" "$mnt" "$dirs" "$files" <<'PY'
import os, sys
sys.path.insert(0, os.path.dirname(sys.argv[1]))
import fxtool
root, dirs, files = sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
for d in range(dirs):
    folder = os.path.join(root, "g%02d" % (d % 50), "dir%05d" % d)
    fxtool.populate(folder, files, "varied")
    fxtool.thin(folder, files, "varied", 3)
PY
find "$mnt" -mindepth 1 -printf '%i\t%y\t%s\t%P\n' >"$work/mount.list"
sync
umount "$mnt"
wait "$pid" || true
pid=
made=$(date +%s)

python3 "$tool" listing "$out" "$work/mount.list" "$out.listing"
python3 "$tool" deleted "$FX_DELETED" "$out.deleted"
: >"$work/empty.content"
python3 "$tool" check "$out" "$out.listing" "$work/empty.content"
echo "$out: $(wc -l <"$out.listing") live entries, $(grep -c deleted "$out.deleted") deleted," \
  "$(grep -c renamed "$out.deleted") renamed; made in $((made - start)) s," \
  "listed and checked in $(( $(date +%s) - made )) s"
