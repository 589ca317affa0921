#!/bin/bash
# Times the start-up of a small run, `quor -image sample.img -mft 5 -csv`
# (the kit's sample volume, one folder), with hyperfine, its standard output
# a file in a plain folder, on an ntfs-3g mount of another image, and on an
# ntfs-3g mount of an image named with a comma (ntfs-3g cuts the name there
# in the mount table, so the guard must find the process serving the
# mount). Each is timed on the machine as it is; in a private mount
# namespace holding 2,000 and 4,000 bind mounts more (made in the scratch
# folder, gone with the namespace, which has ntfs-3g mounts of its own);
# with one process holding 12,000 descriptors; and with 300 idle processes
# besides. Before each timing one
# run is checked to write the whole listing. Prints a table of mean times
# and their ratio to the machine as it is, how often a run reads the mount
# table and lists /proc, and checks the target: with 2,000 bind mounts,
# within twice the start-up on the machine as it is. Exits 1 when missed.
#
# Usage (root, FUSE, unshare): bench/guard-startup.sh
# Environment: QUOR (default build/release/quor, built when missing), RUNS
#   (hyperfine runs of each, default 20), MOUNTS (the bind mount counts,
#   default "2000 4000"; the first is the one the target is for).
set -euo pipefail
export LC_ALL=C
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/bench/guard-setups.sh"
quor=${QUOR:-$top/build/release/quor}
runs=${RUNS:-20}

# The run timed, as words and as hyperfine's command line; and the files
# its standard output goes to.
fuse_at=mnt
set_run() {
  run=("$quor" -image "$guard_work/sample.img" -mft 5 -csv)
  run_line=$(printf '%q ' "${run[@]}")
  outputs=("$guard_work/plain/out.csv" "$guard_work/$fuse_at/out.csv" "$guard_work/$fuse_at-comma/out.csv")
}

# time_outputs LABEL: one line "LABEL|MEAN SD|..." (seconds) of every output
# into the results.
time_outputs() {
  local line=$1 out json="$guard_work/hyperfine.json" lines
  for out in "${outputs[@]}"; do
    rm -f "$out"
    "${run[@]}" >"$out" 2>/dev/null || { echo "$0: $1: quor failed writing to $out" >&2; return 1; }
    lines=$(wc -l <"$out")
    [ "$lines" -eq "$(wc -l <"$guard_work/reference.csv")" ] ||
      { echo "$0: $1: $out holds $lines lines, not the whole listing" >&2; return 1; }
    hyperfine -N --warmup 3 --runs "$runs" --output "$out" --export-json "$json" "$run_line" >/dev/null 2>&1
    line+="|$(python3 -c 'import json, sys
r = json.load(open(sys.argv[1]))["results"][0]
print(r["mean"], r["stddev"])' "$json")"
  done
  echo "$line" >>"$guard_work/results"
}

# Inside the private mount namespace: COUNT bind mounts, and ntfs-3g mounts
# of images of its own whose servers run in it as quor does; then the
# timing.
if [ "${1:-}" = --in-namespace ]; then
  count=$2
  guard_work=$GUARD_WORK
  trap guard_release EXIT
  fuse_at=mnt-$count
  guard_binds_and_mounts "binds-$count" "$count" "$count" "$fuse_at"
  set_run
  time_outputs "$count bind mounts"
  exit
fi

[ "$(id -u)" -eq 0 ] || { echo "$0: needs root (mounts)" >&2; exit 2; }
for tool in hyperfine ntfs-3g mkntfs unshare python3; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is needed" >&2; exit 2; }
done
if [ ! -x "$quor" ]; then
  cmake -S "$top" -B "$top/build/release" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$top/build/release" -j4 --target quor >/dev/null
fi

guard_begin
gzip -dc "$top/tests/fixtures/sample.img.gz" >"$guard_work/sample.img"
mkdir "$guard_work/plain"
guard_mount_ntfs out.img "$fuse_at"
guard_mount_ntfs "out,comma.img" "$fuse_at-comma"
set_run
"${run[@]}" >"$guard_work/reference.csv" 2>/dev/null
: >"$guard_work/results"

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
echo "machine: $cpu, $(nproc) cores, $(uname -sr); load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "date:    $(date -u '+%Y-%m-%d %H:%M UTC'); quor $(git -C "$top" rev-parse --short HEAD 2>/dev/null || echo '?')"
echo "run:     quor -image sample.img -mft 5 -csv >OUTPUT; mean ± sd of $runs hyperfine runs, ms"
echo

time_outputs "machine as it is"
counts=""
if command -v strace >/dev/null; then
  for out in "${outputs[@]}"; do counts+="|$(guard_proc_counts "$out" "${run[@]}")"; done
fi
read -r -a mount_counts <<<"${MOUNTS:-2000 4000}"
for count in "${mount_counts[@]}"; do
  GUARD_WORK=$guard_work QUOR=$quor RUNS=$runs unshare -m --propagation private bash "$0" --in-namespace "$count"
done
guard_hold_descriptors 12000
time_outputs "a process with 12,000 descriptors"
guard_idle_processes 300
time_outputs "and 300 more processes"

status=0
python3 - "$guard_work/results" "$counts" "${mount_counts[0]}" <<'PY' || status=$?
import sys
rows = [line.rstrip("\n").split("|") for line in open(sys.argv[1])]
heads = ["plain folder", "ntfs-3g mount", "ntfs-3g, comma"]
print("%-36s" % "setup" + "".join("%26s" % h for h in heads))
base = [float(cell.split()[0]) for cell in rows[0][1:]]
for row in rows:
    cells = []
    for i, cell in enumerate(row[1:]):
        mean, sd = (float(v) for v in cell.split())
        cells.append("%7.1f ± %5.1f (%5.1fx)" % (mean * 1e3, sd * 1e3, mean / base[i]))
    print("%-36s" % row[0] + "".join("%26s" % c for c in cells))
if sys.argv[2]:
    counts = sys.argv[2].strip("|").split("|")
    print("%-36s" % "mount table reads / /proc listings" + "".join("%26s" % c.replace(" ", " / ") for c in counts))
target = "%s bind mounts" % sys.argv[3]
missed = []
for row in rows:
    if row[0] != target:
        continue
    for i, cell in enumerate(row[1:]):
        if float(cell.split()[0]) > 2 * base[i]:
            missed.append(heads[i])
print()
if missed:
    print("target MISSED: with %s, start-up above twice the machine's as it is (%s)" % (target, ", ".join(missed)))
    sys.exit(1)
print("target met: with %s, start-up within twice the machine's as it is" % target)
PY
exit $status
