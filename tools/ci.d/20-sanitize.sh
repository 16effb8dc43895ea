#!/usr/bin/env bash
# The whole test suite again (fuzz replays, hostile inputs and limits
# included), built with AddressSanitizer (its leak checker included) and
# UndefinedBehaviorSanitizer. Any report fails the test that made it.
# Packages: clang libclang-rt-dev
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="${1:-$root/build}-asan"
cc=gcc; cxx=g++
command -v clang++ >/dev/null && { cc=clang; cxx=clang++; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLENVO_SANITIZE=ON \
        -DPLENVO_BUILD_BENCH=OFF -DCMAKE_C_COMPILER=$cc -DCMAKE_CXX_COMPILER=$cxx >"$log" 2>&1; then
    tail -n 30 "$log"
    echo "sanitizer build: configure failed"
    exit 1
fi
if ! cmake --build "$build" -j2 >"$log" 2>&1; then
    grep -E "error|Error" "$log" | head -n 30
    echo "sanitizer build: build failed"
    exit 1
fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" -j2 --output-on-failure -E 'export_table' >"$log" 2>&1
rc=$?
# Failures with their output, then the summary.
grep -E "\*\*\*Failed|\*\*\*Timeout|\*\*\*Exception|ERROR: |runtime error:" "$log" | head -n 40
tail -n 12 "$log"
summary=$(grep -E "tests passed, [0-9]+ tests failed out of" "$log")
if [[ $summary =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    echo "sanitizer tests: $((BASH_REMATCH[2] - BASH_REMATCH[1])) passed, ${BASH_REMATCH[1]} failed"
fi
exit "$rc"
