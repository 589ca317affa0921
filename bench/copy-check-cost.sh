#!/bin/bash
# What the output guard costs each output a walk makes (a walker copy, an
# extract) where it lies on a view that numbers files its own way, for two
# builds of bench/output_check_bench side by side, OLD and NEW, each built
# from this bench source against its own libraries (for an older checkout:
# copy bench/output_check_bench.cpp into its bench/ and build its
# output_check_bench target): one open_output into the view with the source
# open as a volume, which a build whose volumes answer for outputs asks of
# the view too. The view is a mergerfs pool of a plain folder holding each
# of COUNTS files (made before it is mounted, so that no cache holds them);
# the source is the kit's default volume, and then a volume whose root
# holds ROOT_FILES files (mkntfs and ntfs-3g). The builds take turns ROUNDS
# times; a cell is the median of the turns. Prints one table: row, OLD, NEW
# (microseconds a check), NEW/OLD.
#
# Usage (root, FUSE): bench/copy-check-cost.sh OLD_BENCH NEW_BENCH
# Environment: COUNTS (default "0 10000 50000"), ROOT_FILES (default 20000),
# ROOT_PREFIX (the volume's files' names, default "note"; "case" gives them
# the case folder's names, which the check must then look up), ROUNDS
# (default 3).
set -euo pipefail
export LC_ALL=C
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/bench/guard-setups.sh"
old=$1
new=$2
counts=${COUNTS:-0 10000 50000}
root_files=${ROOT_FILES:-20000}
rounds=${ROUNDS:-3}
for tool in mergerfs mkntfs ntfs-3g python3; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done
guard_begin

# per_check BENCH FILTER [VAR=VALUE ...]: microseconds a check, as the
# benchmark measures it.
per_check() {
  local bench=$1 filter=$2
  shift 2
  env "$@" "$bench" --benchmark_filter="$filter" --benchmark_format=json --benchmark_min_time=0.5 2>/dev/null |
    python3 -c 'import json, sys
b = [r for r in json.load(sys.stdin)["benchmarks"] if r.get("run_type", "iteration") == "iteration"]
print("%.1f" % b[0]["real_time"] if b else "skipped")'
}

volume=$guard_work/root.img
guard_root_volume "$volume" "$root_files" "${ROOT_PREFIX:-note}"

echo "load $(cut -d' ' -f1-3 /proc/loadavg); $rounds turns a row"
printf '%-68s %10s %10s %8s\n' "row (one check, us)" OLD NEW NEW/OLD
for count in $counts; do
  branch=$guard_work/branch-$count view=$guard_work/view-$count
  guard_fill "$branch" "$count" case
  guard_mergerfs "$branch" "$view" -o allow_other
  for source in default root; do
    extra=()
    [ "$source" = root ] && extra=("QUOR_BENCH_SOURCE=$volume")
    a=() b=()
    for ((round = 0; round < rounds; round++)); do
      a+=("$(per_check "$old" 'BM_OpenOutputBesideVolume/view/real_time$' QUOR_BENCH_VIEW="$view" "${extra[@]}")")
      b+=("$(per_check "$new" 'BM_OpenOutputBesideVolume/view/real_time$' QUOR_BENCH_VIEW="$view" "${extra[@]}")")
    done
    read -r a b ratio < <(python3 -c 'import statistics, sys
half = (len(sys.argv) - 1) // 2
def median(cells):
    try: return statistics.median(float(c) for c in cells)
    except ValueError: return None
m = [median(sys.argv[1:1 + half]), median(sys.argv[1 + half:])]
print(*["%.1f" % v if v is not None else "skipped" for v in m],
      "%.2f" % (m[1] / m[0]) if None not in m and m[0] else "-")' "${a[@]}" "${b[@]}")
    label="into a view of a folder of $count files"
    [ "$source" = root ] && label="$label, from a root of $root_files files"
    printf '%-68s %10s %10s %8s\n' "$label" "$a" "$b" "$ratio"
  done
done
