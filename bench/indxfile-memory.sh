#!/bin/bash
# Peak memory and run time of -indxfile on a large file of INDX records, and,
# given a second quor binary, whether both write the same bytes.
#
# The file is made here from the kit's volumes: the $I30 allocations of
# bigdir.img's /d20000 and /d2000 and default.img's /names (two names that
# differ only in letter case) with icat, repeated until it reaches SIZE_MB
# (default 200). Repetition is what an extracted
# allocation of a large, busy folder looks like to the carver: the same live
# names again (kept once) and many carved copies.
#
# Targets: with -all -csv a peak resident set of at most 100 MiB; with -valid
# a peak that does not grow with the file (measured at a quarter of the size
# and at the whole, it may differ by at most 8 MiB).
#
# Usage: bench/indxfile-memory.sh [OTHER_QUOR]
#   OTHER_QUOR: another build to compare against (byte for byte, every
#   selection and output form, then its peaks and times beside this one's).
# Environment: QUOR (default build/release/quor), SIZE_MB (default 200),
#   RUNS (hyperfine runs, default 3), COMPARE (default 1; 0 skips the
#   byte-for-byte comparison).
# Exits 1 when a target is missed or the outputs differ.
set -euo pipefail
export LC_ALL=C
top=$(cd "$(dirname "$0")/.." && pwd)
quor=${QUOR:-$top/build/release/quor}
other=${1:-}
size_mb=${SIZE_MB:-200}
runs=${RUNS:-3}

for tool in icat ifind /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is needed" >&2; exit 2; }
done
if [ ! -x "$quor" ]; then
  cmake -S "$top" -B "$top/build/release" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$top/build/release" -j3 --target quor >/dev/null
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quor-indxfile.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

zcat "$top/tests/fixtures/bigdir.img.gz" >"$scratch/bigdir.img"
zcat "$top/tests/fixtures/default.img.gz" >"$scratch/default.img"
for piece in bigdir:/d20000 bigdir:/d2000 default:/names; do
  img=$scratch/${piece%%:*}.img
  icat "$img" "$(ifind -n "${piece#*:}" "$img")-160" >>"$scratch/unit.i30"
done
unit_bytes=$(stat -c %s "$scratch/unit.i30")
# make FILE MB: the unit repeated to at least MB megabytes.
make_file() {
  : >"$1"
  while [ "$(stat -c %s "$1")" -lt $(($2 * 1000000)) ]; do cat "$scratch/unit.i30" >>"$1"; done
}
make_file "$scratch/big.i30" "$size_mb"
make_file "$scratch/quarter.i30" $((size_mb / 4))

echo "machine: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(nproc) cores;" \
  "load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "date:    $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "file:    $(stat -c %s "$scratch/big.i30") bytes ($unit_bytes-byte unit repeated), quarter" \
  "$(stat -c %s "$scratch/quarter.i30") bytes"
echo

# The output without what names the run: its time and the binary's path
# (the run time line and the command-line echo of CSV).
body() { sed -e '2d' -e '/^\[[0-9/]* [0-9:.]* UTC\] : /d'; }

status=0
if [ -n "$other" ] && [ "${COMPARE:-1}" != 0 ]; then
  for sel in "" -valid -slack -all "-all -slack" "-valid -nodups" "-slack -nodups" "-all -nodups"; do
    for form in "" -csv -csvl2t -bodyfile "-csv -base10"; do
      # shellcheck disable=SC2086
      "$quor" -indxfile "$scratch/big.i30" $sel $form 2>/dev/null | body | md5sum >"$scratch/a"
      # shellcheck disable=SC2086
      "$other" -indxfile "$scratch/big.i30" $sel $form 2>/dev/null | body | md5sum >"$scratch/b"
      if cmp -s "$scratch/a" "$scratch/b"; then same=same; else same=DIFFERENT; status=1; fi
      printf '%-16s %-14s %s\n' "${sel:-default}" "${form:-text}" "$same"
    done
  done
  echo
fi

# peak BINARY FILE ARGS...: the maximum resident set in KiB.
peak() {
  local bin=$1 file=$2
  shift 2
  /usr/bin/time -o "$scratch/time" -f "%M" "$bin" -indxfile "$file" "$@" >/dev/null 2>&1
  cat "$scratch/time"
}

mib() { awk "BEGIN { printf \"%.1f MiB\", $1 / 1024 }"; }

report() {
  local label=$1 bin=$2
  local all valid valid_q rows_all rows_valid
  all=$(peak "$bin" "$scratch/big.i30" -all -csv)
  valid=$(peak "$bin" "$scratch/big.i30" -valid -csv)
  valid_q=$(peak "$bin" "$scratch/quarter.i30" -valid -csv)
  rows_all=$("$bin" -indxfile "$scratch/big.i30" -all -csv 2>/dev/null | tail -n +6 | grep -c .)
  rows_valid=$("$bin" -indxfile "$scratch/big.i30" -valid -csv 2>/dev/null | tail -n +6 | grep -c .)
  echo "$label: -all -csv $rows_all rows, peak $(mib "$all");" \
    "-valid -csv $rows_valid rows, peak $(mib "$valid") (quarter file $(mib "$valid_q"))"
  if [ "$label" = quor ]; then
    [ "$all" -le $((100 * 1024)) ] || { echo "  MISSED: -all peak above 100 MiB"; status=1; }
    [ $((valid - valid_q)) -le $((8 * 1024)) ] || { echo "  MISSED: -valid peak grows with the file"; status=1; }
  fi
}

report quor "$quor"
[ -z "$other" ] || report other "$other"
echo

if command -v hyperfine >/dev/null; then
  for sel in -valid -all; do
    cmds=("$quor -indxfile $scratch/big.i30 $sel -csv")
    [ -z "$other" ] || cmds+=("$other -indxfile $scratch/big.i30 $sel -csv")
    hyperfine -N --style basic --warmup 1 --runs "$runs" --output=null "${cmds[@]}" 2>&1 |
      grep -E "Benchmark|Time|Range"
  done
else
  echo "hyperfine absent: no times"
fi
exit $status
