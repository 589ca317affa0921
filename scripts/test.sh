#!/usr/bin/env bash
# Builds quor and runs every test. With "sanitize" as the first argument the
# build uses AddressSanitizer and UndefinedBehaviorSanitizer; with "m32" it is
# a 32-bit x86 build.
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
  # A 32-bit x86 build, where long and size_t are 32 bits wide and floating
  # point may run on the x87; GoogleTest is built for it from Debian's source.
  m32)
    dir="$top/build/m32"
    [ -f /usr/lib/gcc/x86_64-linux-gnu/12/32/libstdc++.so ] || {
      sudo_cmd=""; [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
      $sudo_cmd apt-get update && DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y g++-multilib; }
    if [ ! -f "$dir/gtest/lib/libgtest.a" ]; then
      cmake -S /usr/src/googletest -B "$dir/gtest-build" -DBUILD_GMOCK=OFF -DCMAKE_CXX_FLAGS=-m32 \
        -DCMAKE_INSTALL_PREFIX="$dir/gtest" >/dev/null
      cmake --build "$dir/gtest-build" -j "$jobs" >/dev/null
      cmake --install "$dir/gtest-build" >/dev/null
    fi
    flags=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-m32 -DCMAKE_EXE_LINKER_FLAGS=-m32
           -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON "-DCMAKE_PREFIX_PATH=$dir/gtest") ;;
  *) echo "usage: $0 [release|sanitize|m32]" >&2; exit 2 ;;
esac
cmake -S "$top" -B "$dir" "${flags[@]}" >/dev/null
cmake --build "$dir" -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$dir" --output-on-failure -j "$jobs"
