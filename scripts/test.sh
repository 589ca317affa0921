#!/usr/bin/env bash
# Builds quor and runs every test. With "sanitize" as the first argument the
# build uses AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh" --oracles
mode=${1:-release}
jobs=$(nproc 2>/dev/null || echo 2)
case "$mode" in
  release)  dir="$top/build/release";  flags=(-DCMAKE_BUILD_TYPE=Release) ;;
  # -O1 with line tables: the sanitizers' usual level, with assertions on, and
  # half the compile time of an optimised build with full debug information.
  sanitize) dir="$top/build/sanitize"; flags=(-DCMAKE_BUILD_TYPE=None "-DCMAKE_CXX_FLAGS=-O1 -g1" -DQUOR_SANITIZE=ON) ;;
  *) echo "usage: $0 [release|sanitize]" >&2; exit 2 ;;
esac
cmake -S "$top" -B "$dir" "${flags[@]}" >/dev/null
cmake --build "$dir" -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$dir" --output-on-failure -j "$jobs"
