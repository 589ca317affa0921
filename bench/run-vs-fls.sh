#!/bin/bash
# Times quor against The Sleuth Kit's `fls -r -p -m C:` on one large volume,
# in one run: `quor -all -csv` and `quor -all -bodyfile` over every folder,
# each against the same fls listing. Reports the median wall-clock time of
# RUNS runs (after one warm-up run of each, so all read from the page cache),
# the peak resident memory, the ratio quor / fls, and the machine. Exits 1
# when a ratio is above 1.0.
#
# Usage: bench/run-vs-fls.sh [IMAGE]
#   IMAGE   the volume to read; when absent it is made by
#           bench/make-bench-volume.sh (root, FUSE mount) into a temporary
#           folder and kept there for the next run.
# Environment: QUOR (default build/release/quor, built when missing),
#   RUNS (default 5).
set -euo pipefail
export LC_ALL=C
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-5}
quor=${QUOR:-$top/build/release/quor}

for tool in fls /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is needed" >&2; exit 2; }
done
if [ ! -x "$quor" ]; then
  cmake -S "$top" -B "$top/build/release" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$top/build/release" -j"$(nproc)" --target quor >/dev/null
fi

img=${1:-${TMPDIR:-/tmp}/quor-bench-volume/bench.img}
if [ ! -f "$img" ]; then
  mkdir -p "$(dirname "$img")"
  "$top/bench/make-bench-volume.sh" "$img"
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quor-vs-fls.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# One timed run: prints "<seconds> <peak KiB>"; the output goes to $scratch/out.
run_once() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -o "$scratch/time" -f "%M" "$@" >"$scratch/out" 2>/dev/null
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000 )) $(cat "$scratch/time")"
}

# Median microseconds and largest peak KiB of $runs runs, after a warm-up.
measure() {
  run_once "$@" >/dev/null
  local i times=() peak=0 us kib
  for ((i = 0; i < runs; i++)); do
    read -r us kib < <(run_once "$@")
    times+=("$us")
    (( kib > peak )) && peak=$kib
  done
  us=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")
  echo "$us $peak $(wc -l <"$scratch/out")"
}

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
mem=$(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)
echo "machine: $cpu, $(nproc) cores, $mem RAM, $(uname -sr)"
echo "volume:  $img ($(( $(stat -c %s "$img") / 1048576 )) MiB)"
echo "runs:    median of $runs after one warm-up; peak = largest maximum resident set"
echo

read -r fls_us fls_kib fls_lines < <(measure fls -r -p -m C: "$img")
printf '%-28s %9.3f s %8d KiB %8d lines\n' "fls -r -p -m C:" "$(awk "BEGIN { print $fls_us / 1e6 }")" \
  "$fls_kib" "$fls_lines"

status=0
for form in -csv -bodyfile; do
  read -r us kib lines < <(measure "$quor" -image "$img" -all "$form")
  ratio=$(awk "BEGIN { print $us / $fls_us }")
  printf '%-28s %9.3f s %8d KiB %8d lines   ratio %.2f\n' "quor -all $form" \
    "$(awk "BEGIN { print $us / 1e6 }")" "$kib" "$lines" "$ratio"
  if awk "BEGIN { exit !($us > $fls_us) }"; then status=1; fi
done
exit $status
