#!/bin/bash
# What the output guard costs the directory walker's copies from a volume
# whose root holds ROOT_FILES files into a mergerfs view of a plain folder
# (a view that numbers files its own way, through which the volume's check
# looks the root's names up), for two builds of bench/output_check_bench
# side by side, OLD and NEW, each built from this bench source against its
# own libraries (for an older checkout: copy bench/output_check_bench.cpp
# into its bench/ and build its output_check_bench target). The rows: walks
# over the entries [1000, 1000 + 44) and [1000, 1000 + 264) of the volume,
# every one a file with data, each walk into a new copy folder in the view,
# and the same walks without copies; for each, the time of a walk and its
# CPU time, the copies it made, the time a copy (the walk shared among its
# copies) and a copy's time net of the walk without copies. The volume is
# made once, by mkntfs and ntfs-3g (about 70 s for 200,000 files). The
# builds take turns ROUNDS times after one turn each not counted, a turn 5
# walks a row; a cell is the median of the turns, with the lowest and
# highest.
#
# Prints one table: row, OLD, NEW, NEW/OLD (of the medians).
#
# Usage (root, FUSE): bench/walker-view-cost.sh OLD_BENCH NEW_BENCH
# Environment: ROOT_FILES (default 200000), ROUNDS (default 5).
set -euo pipefail
export LC_ALL=C
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/bench/guard-setups.sh"

[ $# -eq 2 ] || { echo "usage: $0 OLD_BENCH NEW_BENCH" >&2; exit 2; }
builds=("$(realpath "$1")" "$(realpath "$2")")
for bin in "${builds[@]}"; do
  [ -x "$bin" ] || { echo "$0: $bin is no program" >&2; exit 2; }
done
root_files=${ROOT_FILES:-200000}
rounds=${ROUNDS:-5}
[ "$(id -u)" -eq 0 ] || { echo "$0: needs root (mounts)" >&2; exit 2; }
for tool in mergerfs mkntfs ntfs-3g python3 mountpoint; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is needed" >&2; exit 2; }
done

guard_begin
volume=$guard_work/root.img
made=$(date +%s)
guard_root_volume "$volume" "$root_files"
echo "(the volume's $root_files files made through ntfs-3g in $(($(date +%s) - made)) s)" >&2
mkdir "$guard_work/branch"
guard_mergerfs "$guard_work/branch" "$guard_work/view"

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
describe() { git -C "$(dirname "$1")" describe --always --dirty 2>/dev/null || echo '?'; }
echo "machine: $cpu, $(nproc) cores, $(uname -sr); load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "date:    $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "OLD:     ${builds[0]} ($(describe "${builds[0]}"))"
echo "NEW:     ${builds[1]} ($(describe "${builds[1]}"))"
echo "sizes:   volume root $root_files files; $rounds turns of 5 walks a row"
echo

filter='^BM_Walker(NoCopies|Copies/view)/(44|264)/'
# Turn -1 warms the view, the volume's pages and each program; it is not counted.
for ((round = -1; round < rounds; round++)); do
  for i in 0 1; do
    QUOR_BENCH_SOURCE=$volume QUOR_BENCH_VIEW=$guard_work/view "${builds[$i]}" --benchmark_filter="$filter" \
      --benchmark_format=json >"$guard_work/turn-$round-$i.json" 2>"$guard_work/bench.err" ||
      { cat "$guard_work/bench.err" >&2; exit 1; }
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo

python3 - "$guard_work" "$rounds" <<'PY'
import json, statistics, sys
work, rounds = sys.argv[1], int(sys.argv[2])
UNIT = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}

# turns[build][name]: a dict a turn: "wall" and "cpu" (ms a walk) and
# "copies", or "error".
turns = [{}, {}]
for build in (0, 1):
    for r in range(rounds):
        for b in json.load(open("%s/turn-%d-%d.json" % (work, r, build)))["benchmarks"]:
            if b.get("run_type", "iteration") != "iteration":
                continue
            name = b["name"].split("/iterations")[0]
            if b.get("error_occurred"):
                cell = {"error": b.get("error_message", "error")}
            else:
                u = UNIT[b.get("time_unit", "ns")]
                cell = {"wall": b["real_time"] * u, "cpu": b["cpu_time"] * u, "copies": b.get("copies", 0)}
            turns[build].setdefault(name, []).append(cell)

# A row: `get(build)` gives the turns' values, or a reason there are none.
def row(label, get, fmt):
    cells, medians = [], []
    for build in (0, 1):
        got = get(build)
        if isinstance(got, str):
            cells.append(got[:26])
            medians.append(None)
            continue
        cells.append((fmt + " [" + fmt + "-" + fmt + "]") % (statistics.median(got), min(got), max(got)))
        medians.append(statistics.median(got))
    ratio = "%.2f" % (medians[1] / medians[0]) if None not in medians and medians[0] else "-"
    print("%-50s %26s %26s %8s" % (label, cells[0], cells[1], ratio))

def turns_of(build, name):
    cells = turns[build].get(name, [])
    errors = [c["error"] for c in cells if "error" in c]
    return errors[0] if errors else cells if len(cells) == rounds else "not run"

# The values `value(turn, base's turn)` of the benchmark `name`, each turn
# with the same turn of the benchmark `base` (None without one).
def of(name, value, base=None):
    def get(build):
        cells, bases = turns_of(build, name), turns_of(build, base) if base else [None] * rounds
        for got in (cells, bases):
            if isinstance(got, str):
                return got
        return [value(c, b) for c, b in zip(cells, bases)]
    return get

print("%-50s %26s %26s %8s" % ("row (median [lowest-highest] of the turns)", "OLD", "NEW", "NEW/OLD"))
for arg in (44, 264):
    walk, copies = "BM_WalkerNoCopies/%d" % arg, "BM_WalkerCopies/view/%d" % arg
    made = [c.get("copies", 0) for c in turns[1].get(copies, [])]
    row("walk of [1000, %d), no copies: ms a walk" % (1000 + arg), of(walk, lambda c, _: c["wall"]), "%.2f")
    row("walk of %d copies into the view: ms a walk" % (made[0] if made else arg),
        of(copies, lambda c, _: c["wall"]), "%.1f")
    row("   CPU ms a walk", of(copies, lambda c, _: c["cpu"]), "%.1f")
    row("   copies a walk", of(copies, lambda c, _: c["copies"]), "%.0f")
    row("   ms a copy", of(copies, lambda c, _: c["wall"] / c["copies"]), "%.2f")
    row("   ms a copy, net of the walk without copies",
        of(copies, lambda c, b: (c["wall"] - b["wall"]) / c["copies"], walk), "%.2f")
PY
