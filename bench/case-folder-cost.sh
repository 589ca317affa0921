#!/bin/bash
# What the output guard costs two quor builds, OLD and NEW, side by side,
# where the case folder is large or the output lies on a FUSE view:
#  1. one listing, `quor -image sample.img -all -csv > out/listing.csv`,
#     into an sshfs share (-o dir_cache=no) of a local folder, served by a
#     private sshd of this machine on 127.0.0.1 (a throwaway host key and an
#     authorized key made in the scratch folder), whose out/ holds
#     SHARE_FILES small files (each count in turn);
#  2. a run with a copy folder, `-action_copy_files <folder>`, into a
#     mergerfs pool of a plain folder and into `rclone mount :local:<folder>`
#     (--vfs-cache-mode writes), the copy folder holding each of COPY_FILES
#     files, beside the same run without a copy folder. The quor command
#     makes and checks the copy folder and writes the listing; the copies
#     themselves are the library walker's (bench/output-check.sh times
#     those), so a row here is the time of one whole run, not of a copy;
#  3. the same into the mergerfs pool from a volume whose root holds
#     ROOT_FILES files (made here by mkntfs and ntfs-3g), `-mft 5 -csv`;
#  4. one listing of that volume, `-all -csv`, onto a mergerfs view of a
#     plain folder and onto a local folder, and the ratio view / local.
# Every row is timed by hyperfine (mean ± sd of RUNS runs after WARMUP) and
# its peak resident set taken by /usr/bin/time -v (one run). Before each is
# timed, one run of each build is checked to end with status 0 and write
# the whole listing (as many lines as the same build writes into a local
# folder); a run that does not is shown as failed, its message below the
# table. The files of the case folders are made in the folders under the
# views before mounting, so that no view's cache holds them.
#
# Prints one table: row, OLD, NEW, NEW/OLD (for the ratio rows of 4, each
# build's ratio view / local and the ratio of the two). A row whose tools
# are missing is said to be skipped, with the tool.
#
# The defaults are the full sizes: a run of them takes 1.5 to 4 minutes on
# a shared 8-core machine, about one of them timing the rows, the rest
# making and removing the case folders' 360,000 files and the volume's
# 20,000 (through ntfs-3g); the rows grow with what the guard reads of the
# case folders. A quick one:
#   SHARE_FILES=2000 COPY_FILES="0 500" ROOT_FILES=500 RUNS=3 bench/case-folder-cost.sh OLD NEW
#
# Usage (root, FUSE, unshare): bench/case-folder-cost.sh OLD_QUOR NEW_QUOR
# Environment: SHARE_FILES (default "200000 100000"), COPY_FILES (default
#   "0 10000 50000"), ROOT_FILES (default 20000), RUNS (default 5), WARMUP
#   (default 1).
set -euo pipefail
export LC_ALL=C
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/bench/guard-setups.sh"

[ $# -eq 2 ] || { echo "usage: $0 OLD_QUOR NEW_QUOR" >&2; exit 2; }
builds=("$(realpath "$1")" "$(realpath "$2")")
names=(OLD NEW)
for bin in "${builds[@]}"; do
  [ -x "$bin" ] || { echo "$0: $bin is no program" >&2; exit 2; }
done
read -r -a share_files <<<"${SHARE_FILES:-200000 100000}"
read -r -a copy_files <<<"${COPY_FILES:-0 10000 50000}"
root_files=${ROOT_FILES:-20000}
runs=${RUNS:-5}
warmup=${WARMUP:-1}

[ "$(id -u)" -eq 0 ] || { echo "$0: needs root (mounts)" >&2; exit 2; }
for tool in hyperfine python3 gzip mountpoint; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is needed" >&2; exit 2; }
done

# has TOOL...: whether every TOOL is here; the first missing one in $missing.
missing=
has() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null; then
      missing=$tool
      return 1
    fi
  done
}
skipped=()
skip() { skipped+=("row $1 skipped: no $missing"); }
timer=
[ -x /usr/bin/time ] && timer=/usr/bin/time
sshd=$(command -v sshd || true)
[ -n "$sshd" ] || { [ -x /usr/sbin/sshd ] && sshd=/usr/sbin/sshd; } || true

# The results, one line a cell: "LABEL|BUILD|MEAN SD|PEAK_KIB|NOTE", and
# the order of the labels.
results=
labels=()
notes=()

# first_message ERR: the first line quor wrote to ERR besides its status
# lines, which it rubs out by backspaces.
first_message() {
  { tr '\b\r' '\n\n' <"$1" | sed 's/^ *//' | grep -v '^$\|pls wait\|^parsing:\|^analyzing' | head -n 1; } || true
}

# measure LABEL OUT REFERENCE ARGS...: the run `quor ARGS... >OUT` of each
# build, checked against the number of lines in REFERENCE.<build> (none
# when REFERENCE is empty), timed and its peak taken.
measure() {
  local label=$1 out=$2 reference=$3 i bin status lines want json="$guard_work/hyperfine.json" mean peak
  shift 3
  labels+=("$label")
  for i in 0 1; do
    bin=${builds[$i]}
    rm -f "$out"
    status=0
    "$bin" "$@" >"$out" 2>"$guard_work/err" || status=$?
    if [ "$status" -ne 0 ]; then
      notes+=("$label, ${names[$i]}: status $status: $(first_message "$guard_work/err")")
      echo "$label|$i|||failed ($status)" >>"$results"
      continue
    fi
    if [ -n "$reference" ]; then
      lines=$(wc -l <"$out")
      want=$(wc -l <"$reference.$i")
      if [ "$lines" -ne "$want" ]; then
        notes+=("$label, ${names[$i]}: $lines lines written, not $want")
        echo "$label|$i|||short listing" >>"$results"
        continue
      fi
    fi
    hyperfine -N --warmup "$warmup" --runs "$runs" --output "$out" --export-json "$json" \
      "$(printf '%q ' "$bin" "$@")" >/dev/null 2>&1
    mean=$(python3 -c 'import json, sys
r = json.load(open(sys.argv[1]))["results"][0]
print(r["mean"], r["stddev"] or 0)' "$json")
    peak=
    if [ -n "$timer" ]; then
      "$timer" -v -o "$guard_work/time.txt" "$bin" "$@" >"$out" 2>/dev/null || true
      peak=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$guard_work/time.txt")
    fi
    echo "$label|$i|$mean|$peak|" >>"$results"
  done
}

# reference NAME ARGS...: each build's `quor ARGS...` into the local file
# NAME.<build>, what a run onto a view must match.
reference() {
  local name=$1 i
  shift
  for i in 0 1; do
    "${builds[$i]}" "$@" >"$name.$i" 2>/dev/null || true
  done
}

guard_begin
results=$guard_work/results
: >"$results"
mkdir "$guard_work/local"
sample=$guard_work/sample.img
gzip -dc "$top/tests/fixtures/sample.img.gz" >"$sample"
reference "$guard_work/local/sample" -image "$sample" -all -csv

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
describe() { git -C "$(dirname "$1")" describe --always --dirty 2>/dev/null || echo '?'; }
echo "machine: $cpu, $(nproc) cores, $(uname -sr); load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "date:    $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "OLD:     ${builds[0]} ($(describe "${builds[0]}"))"
echo "NEW:     ${builds[1]} ($(describe "${builds[1]}"))"
echo "sizes:   share ${share_files[*]}, copy folders ${copy_files[*]}, volume root $root_files files;" \
  "hyperfine $runs runs after $warmup"
echo
started=$(date +%s)

# 1. A listing into an sshfs share of this machine whose folder is large.
if [ -z "$sshd" ]; then
  missing=sshd
  skip 1
elif ! has sshfs ssh-keygen unshare; then
  skip 1
else
  ssh=$guard_work/ssh
  mkdir -m 700 "$ssh"
  ssh-keygen -q -t ed25519 -N '' -f "$ssh/host"
  ssh-keygen -q -t ed25519 -N '' -f "$ssh/id"
  cp "$ssh/id.pub" "$ssh/authorized"
  port=$(python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')
  printf '%s\n' "Port $port" 'ListenAddress 127.0.0.1' "HostKey $ssh/host" \
    "AuthorizedKeysFile $ssh/authorized" 'PermitRootLogin prohibit-password' 'StrictModes no' \
    'UsePAM no' 'PidFile none' 'Subsystem sftp internal-sftp' >"$ssh/sshd_config"
  # Its privilege separation folder on a tmpfs of its own mount namespace,
  # so that nothing of the machine's /run is touched.
  unshare -m --propagation private sh -c \
    "mount -t tmpfs tmpfs /run && mkdir -p /run/sshd && exec $sshd -D -e -f $ssh/sshd_config" \
    >"$ssh/sshd.log" 2>&1 &
  guard_children+=("$!")
  for _ in $(seq 1 100); do grep -q 'listening on' "$ssh/sshd.log" && break; sleep 0.1; done
  grep -q 'listening on' "$ssh/sshd.log" || { cat "$ssh/sshd.log" >&2; exit 1; }
  for count in "${share_files[@]}"; do
    guard_fill "$guard_work/served/$count/out" "$count"
  done
  mkdir "$guard_work/share"
  sshfs -p "$port" -o "IdentityFile=$ssh/id,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null" \
    -o BatchMode=yes,dir_cache=no "root@127.0.0.1:$guard_work/served" "$guard_work/share" \
    2>"$ssh/sshfs.log"
  guard_wait_mounted "$guard_work/share" "$ssh/sshfs.log"
  guard_mounts+=("$guard_work/share")
  for count in "${share_files[@]}"; do
    measure "1. listing into sshfs, out/ holding $count files" "$guard_work/share/$count/out/listing.csv" \
      "$guard_work/local/sample" -image "$sample" -all -csv
  done
fi

# 2. A copy folder in a mergerfs pool and in rclone's view of a folder.
copy_rows() {
  local view=$1 name=$2 count
  measure "2. $name: no copy folder (the same run)" "$guard_work/local/listing.csv" \
    "$guard_work/local/sample" -image "$sample" -all -csv
  for count in "${copy_files[@]}"; do
    measure "2. $name: copy folder holding $count files" "$guard_work/local/listing.csv" \
      "$guard_work/local/sample" -image "$sample" -all -csv -action_copy_files "$view/copies-$count"
  done
}
pool=
if has mergerfs; then
  for count in "${copy_files[@]}"; do guard_fill "$guard_work/branch/copies-$count" "$count"; done
  pool=$guard_work/pool
  guard_mergerfs "$guard_work/branch" "$pool"
  copy_rows "$pool" "mergerfs pool"
else
  skip "2 (mergerfs)"
fi
if has rclone; then
  for count in "${copy_files[@]}"; do guard_fill "$guard_work/remote/copies-$count" "$count"; done
  view=$guard_work/rclone
  mkdir "$view"
  rclone mount --config /dev/null --daemon --vfs-cache-mode writes --cache-dir "$guard_work/rclone-cache" \
    ":local:$guard_work/remote" "$view" 2>"$view.log"
  guard_wait_mounted "$view" "$view.log"
  guard_mounts+=("$view")
  copy_rows "$view" "rclone :local: view"
else
  skip "2 (rclone)"
fi

# 3 and 4. A volume whose root holds many files.
volume=$guard_work/root.img
if ! has mkntfs ntfs-3g; then
  skip 3
  skip 4
elif [ -z "$pool" ]; then
  missing=mergerfs
  skip 3
  skip 4
else
  made=$(date +%s)
  guard_root_volume "$volume" "$root_files"
  echo "(the volume's $root_files files made through ntfs-3g in $(($(date +%s) - made)) s)" >&2
  mkdir "$pool/from-root"
  reference "$guard_work/local/root" -image "$volume" -mft 5 -csv
  measure "3. copy run from a root of $root_files files into mergerfs" "$guard_work/local/listing.csv" \
    "$guard_work/local/root" -image "$volume" -mft 5 -csv -action_copy_files "$pool/from-root"

  reference "$guard_work/local/root-all" -image "$volume" -all -csv
  mkdir "$pool/listing"
  measure "4. listing of that volume onto a local folder" "$guard_work/local/listing.csv" \
    "$guard_work/local/root-all" -image "$volume" -all -csv
  measure "4. listing of that volume onto mergerfs" "$pool/listing/listing.csv" \
    "$guard_work/local/root-all" -image "$volume" -all -csv
  labels+=("ratio|4. listing, mergerfs / local|4. listing of that volume onto mergerfs|4. listing of that volume onto a local folder")
fi

echo
python3 - "$results" "${labels[@]}" <<'PY'
import sys
cells = {}
for line in open(sys.argv[1]):
    label, build, mean, peak, note = line.rstrip("\n").split("|")
    cells[(label, int(build))] = (mean, peak, note)

def ratio(a, b):
    return "%.2f" % (a / b) if a is not None and b else "-"

def row(name, texts, values):
    print("%-64s %18s %18s %8s" % (name, texts[0], texts[1], ratio(values[1], values[0])))

def seconds(label, build):
    mean, _, _ = cells.get((label, build), ("", "", ""))
    return float(mean.split()[0]) if mean else None

def kib(label, build):
    _, peak, _ = cells.get((label, build), ("", "", ""))
    return float(peak) if peak else None

print("%-64s %18s %18s %8s" % ("row (wall: mean ± sd; peak RSS)", "OLD", "NEW", "NEW/OLD"))
for label in sys.argv[2:]:
    if label.startswith("ratio|"):
        _, name, view, local = label.split("|")
        for what, get, unit in (("wall", seconds, ""), ("peak RSS", kib, "")):
            values = []
            for build in (0, 1):
                a, b = get(view, build), get(local, build)
                values.append(a / b if a is not None and b else None)
            row("%s, %s" % (name, what), ["%.2f" % v if v is not None else "-" for v in values], values)
        continue
    texts, values, peaks = [], [], []
    for build in (0, 1):
        mean, peak, note = cells[(label, build)]
        if note:
            texts.append(note)
            values.append(None)
        else:
            m, sd = (float(v) for v in mean.split())
            texts.append("%.1f ± %.1f ms" % (m * 1e3, sd * 1e3))
            values.append(m)
        peaks.append(float(peak) if peak else None)
    row(label, texts, values)
    row("   peak RSS", ["%.1f MiB" % (p / 1024) if p is not None else "-" for p in peaks], peaks)
PY
for line in "${skipped[@]}" "${notes[@]}"; do echo "$line"; done
echo
echo "rows timed in $(($(date +%s) - started)) s"
