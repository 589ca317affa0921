#!/usr/bin/env bash
# Makes the speed-comparison volume (not committed): about 100,000 entries in
# 5,000 directories, a third of the files deleted, written through an ntfs-3g
# mount. Then times an all-directories `quor -all -csv` against The Sleuth
# Kit's `fls -r -p -m C:` on the same image, side by side, and reports quor's
# peak memory.
#
# Usage: bench/make-speed-volume.sh [work-dir]   (root: FUSE mount)
# Needs: mkntfs, ntfs-3g, fls, hyperfine, /usr/bin/time, a Release quor in
# build/release (scripts/run-sample.sh builds it).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$(mktemp -d "${TMPDIR:-/tmp}/quor-speed.XXXXXX")}
img="$work/speed.img"
mnt="$work/mnt"
quor="$top/build/release/quor"
mkdir -p "$mnt"

if [ ! -f "$img" ]; then
  truncate -s 1G "$img"
  mkntfs -F -Q -q -L speed "$img" >/dev/null
  ntfs-3g -o no_detach "$img" "$mnt" &
  pid=$!
  for _ in $(seq 1 100); do mountpoint -q "$mnt" && break; sleep 0.1; done
  # 5,000 directories of 20 files each; every third file is deleted again.
  python3 - "$mnt" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(5000):
    top = os.path.join(root, "t%02d" % (d % 50))
    os.makedirs(top, exist_ok=True)
    path = os.path.join(top, "dir%05d" % d)
    os.mkdir(path)
    for f in range(20):
        with open(os.path.join(path, "file-%05d-%02d.txt" % (d, f)), "w") as out:
            out.write("x" * (f * 7))
    for f in range(0, 20, 3):
        os.remove(os.path.join(path, "file-%05d-%02d.txt" % (d, f)))
PY
  sync
  umount "$mnt"
  wait "$pid" || true
fi

echo "volume: $img"
hyperfine --warmup 1 --runs 5 \
  "$quor -image $img -all -csv > /dev/null 2>&1" \
  "fls -r -p -m C: $img > /dev/null"
/usr/bin/time -f "quor peak memory: %M KiB" "$quor" -image "$img" -all -csv >/dev/null 2>"$work/quor.err" || true
tail -n 1 "$work/quor.err"
