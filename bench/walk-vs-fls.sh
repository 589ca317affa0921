#!/bin/bash
# The directory walker's bodyfile against `fls -r -m C:` on one large volume,
# in one run of bench/walk_bench.cpp (five runs of each, wall-clock, after
# the page cache holds the volume). Prints both mean times and the ratio
# walker / fls; exits 1 when the ratio is above 1.0.
#
# Usage: bench/walk-vs-fls.sh [IMAGE]
#   IMAGE   the volume; when absent it is made by bench/make-bench-volume.sh
#           (root, FUSE mount) into ${TMPDIR:-/tmp}/quor-bench-volume/.
set -euo pipefail
export LC_ALL=C
top=$(cd "$(dirname "$0")/.." && pwd)
command -v fls >/dev/null || { echo "$0: fls is needed" >&2; exit 2; }
build=$top/build/release
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j3 --target walk_bench >/dev/null

img=${1:-${TMPDIR:-/tmp}/quor-bench-volume/bench.img}
if [ ! -f "$img" ]; then
  mkdir -p "$(dirname "$img")"
  "$top/bench/make-bench-volume.sh" "$img"
fi
cat "$img" >/dev/null  # into the page cache, for both tools alike

QUOR_BENCH_VOLUME=$img "$build/bench/walk_bench" --benchmark_format=csv 2>/dev/null |
  awk -F, '/^"BM_WalkerBodyfile/ {w = $3} /^"BM_FlsBodyfile/ {f = $3}
    END {
      if (w == "" || f == "") { print "no timings"; exit 2 }
      printf "walker bodyfile %.1f ms, fls -r -m C: %.1f ms, ratio %.2f\n", w, f, w / f
      exit (w / f > 1.0) ? 1 : 0
    }'
