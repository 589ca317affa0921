#!/usr/bin/env bash
# Builds quor (Release, build/release) and runs it on the committed sample
# volume: every directory, live entries and those carved from INDX slack.
# Extra arguments are passed to quor, e.g. "-csv" or "-path \\docs".
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# Standard output is quor's alone (run-sample.sh -csv > out.csv): the install
# and the build report on standard error.
bash "$top/scripts/install-deps.sh" >&2
dir="$top/build/release"
cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=Release >&2
cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)" --target quor >&2
work=$(mktemp -d "${TMPDIR:-/tmp}/quor-sample.XXXXXX")
trap 'rm -rf "$work"' EXIT
gzip -dc "$top/tests/fixtures/sample.img.gz" >"$work/sample.img"
"$dir/quor" -image "$work/sample.img" -all "$@"
