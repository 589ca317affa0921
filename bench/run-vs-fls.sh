#!/bin/bash
# Times quor against The Sleuth Kit's `fls -r -p -m C:` over every folder of
# a volume, in every output form, and checks the targets:
#   -all -csv      at most 0.4 x fls      -all -bodyfile  at most 0.3 x fls
#   -all -csvl2t   at most 0.6 x fls      -all (text)     at most 0.6 x fls
# on two volumes of 5,000 folders of 20 files (one just large enough, one of
# 2 GiB), and a peak resident set of at most 100 MiB for -all -csv on one
# folder of 200,000 files with a third deleted.
#
# Each form is timed in PAIRS alternating pairs (fls, then quor, then fls...)
# after one warm-up run of each, so that both read from the page cache and a
# machine busy with other work slows both alike; the ratio shown is the
# median of the pairs' ratios. Peak is the largest maximum resident set of
# the form's runs. Exits 1 when a target is missed.
#
# Usage: bench/run-vs-fls.sh [FOLDERS_IMAGE [LARGE_IMAGE [ONE_FOLDER_IMAGE]]]
#   Images that are absent are made by bench/make-bench-volume.sh (root, FUSE
#   mount) into ${TMPDIR:-/tmp}/quor-bench-volume and kept for the next run.
# Environment: QUOR (default build/release/quor, built when missing),
#   PAIRS (default 7), ONE_FOLDER_PAIRS (default 1: fls takes most of a
#   minute on that volume).
set -euo pipefail
export LC_ALL=C
top=$(cd "$(dirname "$0")/.." && pwd)
pairs=${PAIRS:-7}
one_pairs=${ONE_FOLDER_PAIRS:-1}
quor=${QUOR:-$top/build/release/quor}
most_kib=$((100 * 1024))

for tool in fls /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is needed" >&2; exit 2; }
done
if [ ! -x "$quor" ]; then
  cmake -S "$top" -B "$top/build/release" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$top/build/release" -j"$(nproc)" --target quor >/dev/null
fi

dir=${TMPDIR:-/tmp}/quor-bench-volume
folders=${1:-$dir/bench.img}
large=${2:-$dir/large.img}
one=${3:-$dir/one-folder.img}
mkdir -p "$dir"
[ -f "$folders" ] || "$top/bench/make-bench-volume.sh" "$folders"
[ -f "$large" ] || "$top/bench/make-bench-volume.sh" -size 2048 "$large"
[ -f "$one" ] || "$top/bench/make-bench-volume.sh" -one-folder "$one"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quor-vs-fls.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# One timed run: prints "<microseconds> <peak KiB>".
run_once() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -o "$scratch/time" -f "%M" "$@" >"$scratch/out" 2>/dev/null
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000 )) $(cat "$scratch/time")"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
mem=$(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)
echo "machine: $cpu, $(nproc) cores, $mem RAM, $(uname -sr); load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "date:    $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "pairs:   median of $pairs alternating (fls, quor) pairs per form, after a warm-up of each"
echo

status=0
# measure VOLUME LABEL PAIRS FORM LIMIT [MOST_KIB]: one line of figures.
measure() {
  local img=$1 label=$2 n=$3 form=$4 limit=$5 most=${6:-}
  local args=(-image "$img" -all)
  [ "$form" = text ] || args+=("$form")
  run_once fls -r -p -m C: "$img" >/dev/null
  run_once "$quor" "${args[@]}" >/dev/null
  local i fus fkib qus qkib ratios=() fls_times=() quor_times=() peak=0 fls_peak=0
  for ((i = 0; i < n; i++)); do
    read -r fus fkib < <(run_once fls -r -p -m C: "$img")
    read -r qus qkib < <(run_once "$quor" "${args[@]}")
    ratios+=("$(awk "BEGIN { print $qus / $fus }")")
    fls_times+=("$fus")
    quor_times+=("$qus")
    (( qkib > peak )) && peak=$qkib
    (( fkib > fls_peak )) && fls_peak=$fkib
  done
  local ratio fls_s quor_s verdict=ok
  ratio=$(printf '%s\n' "${ratios[@]}" | median)
  fls_s=$(printf '%s\n' "${fls_times[@]}" | median)
  quor_s=$(printf '%s\n' "${quor_times[@]}" | median)
  if awk "BEGIN { exit !($ratio > $limit) }"; then verdict="MISSED (target $limit)"; status=1; fi
  if [ -n "$most" ] && (( peak > most )); then verdict="MISSED (peak above $((most / 1024)) MiB)"; status=1; fi
  printf '%-12s %-9s fls %7.3f s %7d KiB   quor %7.3f s %7d KiB   ratio %.2f  %s\n' "$label" "$form" \
    "$(awk "BEGIN { print $fls_s / 1e6 }")" "$fls_peak" "$(awk "BEGIN { print $quor_s / 1e6 }")" "$peak" \
    "$ratio" "$verdict"
}

for vol in "$folders:folders" "$large:2-GiB"; do
  img=${vol%:*}
  label=${vol##*:}
  echo "$label: $img ($(( $(stat -c %s "$img") / 1048576 )) MiB)"
  measure "$img" "$label" "$pairs" -csv 0.4
  measure "$img" "$label" "$pairs" -bodyfile 0.3
  measure "$img" "$label" "$pairs" -csvl2t 0.6
  measure "$img" "$label" "$pairs" text 0.6
done
echo "one-folder: $one ($(( $(stat -c %s "$one") / 1048576 )) MiB)"
measure "$one" one-folder "$one_pairs" -csv 1000 "$most_kib"
exit $status
