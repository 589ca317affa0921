#!/bin/bash
# Runs bench/output_check_bench.cpp (one open_output, descriptor_reach, the
# walker's copies) with its outputs in a plain folder, on an ntfs-3g
# mount of another image and on one of an image named with a comma (whose
# serving process the guard must find), each on the machine as it is, in a
# private mount namespace holding 2,000 bind mounts more (with ntfs-3g
# mounts of its own), and beside one process holding 12,000 descriptors.
# Prints one table: the time of each check, and the walker's time per copy
# net of the walk itself (the walk without copies taken away), with how
# often the copies read the mount table and list /proc, per copy (strace,
# the machine as it is). A copy that lists /proc pays for every process's
# descriptors: the column with 12,000 descriptors shows it.
#
# Usage (root, FUSE, unshare): bench/output-check.sh
# Environment: MOUNTS (the bind mounts, default 2000).
set -euo pipefail
export LC_ALL=C
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/bench/guard-setups.sh"
build=$top/build/release
bench=$build/bench/output_check_bench
mounts=${MOUNTS:-2000}
fuse_at=mnt

# run_bench JSON [FILTER]: the benchmark's figures into JSON.
run_bench() {
  QUOR_BENCH_FUSE=$guard_work/$fuse_at QUOR_BENCH_FUSE_COMMA=$guard_work/$fuse_at-comma \
    "$bench" --benchmark_format=json --benchmark_out_format=json --benchmark_out="$1" \
    --benchmark_filter="${2:-.}" >/dev/null 2>"$guard_work/bench.err" ||
    { cat "$guard_work/bench.err" >&2; return 1; }
}

# Inside the private mount namespace: the bind mounts, and ntfs-3g mounts
# of images of its own whose servers run in it as the benchmark does; then
# the benchmark.
if [ "${1:-}" = --in-namespace ]; then
  guard_work=$GUARD_WORK
  trap guard_release EXIT
  fuse_at=mnt-ns
  guard_binds_and_mounts binds "$mounts" ns "$fuse_at"
  run_bench "$2"
  exit
fi

[ "$(id -u)" -eq 0 ] || { echo "$0: needs root (mounts)" >&2; exit 2; }
for tool in ntfs-3g mkntfs unshare python3; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is needed" >&2; exit 2; }
done
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j4 --target output_check_bench >/dev/null
[ -x "$bench" ] || { echo "$0: no $bench (is Google Benchmark installed?)" >&2; exit 2; }

guard_begin
guard_mount_ntfs out.img "$fuse_at"
guard_mount_ntfs "out,comma.img" "$fuse_at-comma"

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
echo "machine: $cpu, $(nproc) cores, $(uname -sr); load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "date:    $(date -u '+%Y-%m-%d %H:%M UTC'); quor $(git -C "$top" rev-parse --short HEAD 2>/dev/null || echo '?')"
echo

run_bench "$guard_work/plain.json"
counts=()
if command -v strace >/dev/null; then
  for where in fuse fuse_comma; do
    trace="$guard_work/strace.$where"
    QUOR_BENCH_FUSE=$guard_work/$fuse_at QUOR_BENCH_FUSE_COMMA=$guard_work/$fuse_at-comma \
      strace -f -qq -e trace=openat,open -o "$trace" "$bench" --benchmark_format=json \
      --benchmark_filter="^BM_WalkerCopies/$where/" >"$guard_work/strace.$where.json" 2>/dev/null
    reads=$(grep -c '/proc/self/mountinfo"' "$trace" || true)
    listings=$(grep -c '"/proc", ' "$trace" || true)
    counts+=("$where $reads $listings $guard_work/strace.$where.json")
  done
fi
GUARD_WORK=$guard_work MOUNTS=$mounts unshare -m --propagation private bash "$0" --in-namespace "$guard_work/mounts.json"
guard_hold_descriptors 12000
run_bench "$guard_work/descriptors.json"

python3 - "$mounts" "$guard_work/plain.json" "$guard_work/mounts.json" "$guard_work/descriptors.json" \
  "${counts[@]}" <<'PY'
import json, sys
mounts, files, counts = sys.argv[1], sys.argv[2:5], sys.argv[5:]
runs = []
for f in files:
    by_name = {}
    for b in json.load(open(f))["benchmarks"]:
        by_name[b["name"].split("/real_time")[0]] = b
    runs.append(by_name)
heads = ["as it is", "%s bind mounts" % mounts, "12,000 descriptors"]
print("%-44s" % "" + "".join("%20s" % h for h in heads))
places = [("plain", "plain folder"), ("fuse", "ntfs-3g mount"), ("fuse_comma", "ntfs-3g, comma")]
def unit(b):
    return {"us": 1e-6, "ms": 1e-3, "ns": 1e-9, "s": 1.0}[b.get("time_unit", "ns")]
for check in ("BM_OpenOutput", "BM_DescriptorReach"):
    for key, label in places:
        cells = []
        for run in runs:
            b = run.get("%s/%s" % (check, key))
            ok = b is not None and not b.get("error_occurred")
            cells.append("%.1f us" % (b["real_time"] * unit(b) * 1e6) if ok else "skipped")
        name = "open_output" if check == "BM_OpenOutput" else "descriptor_reach"
        print("%-44s" % ("%s, %s" % (name, label)) + "".join("%20s" % c for c in cells))
for key, label in places:
    cells = []
    for run in runs:
        walk = run.get("BM_WalkerNoCopies/200/iterations:5")
        b = run.get("BM_WalkerCopies/%s/200/iterations:5" % key)
        if b is None or b.get("error_occurred") or walk is None or not b.get("copies"):
            cells.append("skipped")
            continue
        net = (b["real_time"] * unit(b) - walk["real_time"] * unit(walk)) / b["copies"]
        cells.append("%.2f ms" % (net * 1e3))
    print("%-44s" % ("walker, per copy (net), %s" % label) + "".join("%20s" % c for c in cells))
print()
for entry in counts:
    where, reads, listings, out = entry.split(" ", 3)
    copies = 0
    for b in json.load(open(out))["benchmarks"]:
        copies += b.get("copies", 0) * b.get("iterations", 0)
    if copies:
        print("copies on the %s: %.2f mount table reads and %.2f /proc listings a copy (%d copies, strace)"
              % (dict(places)[where], int(reads) / copies, int(listings) / copies, copies))
PY
