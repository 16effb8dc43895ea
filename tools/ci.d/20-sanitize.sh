#!/usr/bin/env bash
# The whole test suite again, built with AddressSanitizer (its leak checker
# included) and UndefinedBehaviorSanitizer.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="${1:-$root/build}-asan"
cc=gcc; cxx=g++
command -v clang++ >/dev/null && { cc=clang; cxx=clang++; }
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLENVO_SANITIZE=ON \
      -DPLENVO_BUILD_BENCH=OFF -DCMAKE_C_COMPILER=$cc -DCMAKE_CXX_COMPILER=$cxx >/dev/null || exit 1
cmake --build "$build" -j2 >/dev/null 2>&1 || { cmake --build "$build" -j1 2>&1 | grep -E "error" | head -20; exit 1; }
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" -j2 --output-on-failure -E 'export_table' 2>&1 | tail -n 15
rc=${PIPESTATUS[0]}
exit "$rc"
