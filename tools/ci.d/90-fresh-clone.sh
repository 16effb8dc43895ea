#!/usr/bin/env bash
# The README's two commands on a fresh clone of this checkout's commit, in
# the README's order and then the other way round:
#   1. tools/run-sample   (fresh: builds build-sample/, fits the sample to A4)
#   2. tools/test-all     (fresh build/, after run-sample)
#   3. tools/run-sample   (after test-all)
# each must exit 0. Each command owns its build folder; the step also checks
# that test-all writes nothing into build-sample/ or samples/ and run-sample
# nothing into build/, so neither order can break the other command.
#
# test-all runs with PLENVO_TEST_ALL_SMOKE=1: packages, configuration and
# warning check as always, then only the command-line program and its tests
# (the full suite already runs in the test-all around this step, and a
# second full build and run would double the time of CI). run-sample runs
# in full. ../shared (the corpus) is linked beside the clone when present.
# Uncommitted changes are not in the clone.
#
#   tools/ci.d/90-fresh-clone.sh [BUILD_DIR]   (BUILD_DIR is not used)
# Packages: git
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1"; }
finish() {
    echo "fresh-clone: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

if ! git -C "$root" rev-parse --verify -q HEAD >/dev/null; then
    fail "$root is not a git checkout"
    finish
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
clone=$tmp/plenvo
if git clone -q "$root" "$clone" 2>"$tmp/clone.log"; then
    pass "clone $(git -C "$clone" rev-parse --short HEAD)"
else
    cat "$tmp/clone.log"
    fail "clone $root"
    finish
fi
changes=$(git -C "$root" status --porcelain --untracked-files=no | wc -l)
[ "$changes" -gt 0 ] && echo "note: $changes uncommitted changes are not in the clone"
[ -d "$root/../shared" ] && ln -s "$(cd "$root/../shared" && pwd)" "$tmp/shared"

# run CMD NAME: runs a README command in the clone (its own environment, not
# this run's build folders); its output in $tmp/NAME.log, shown on failure.
run() {
    local cmd=$1 name=$2
    local start=$SECONDS
    (cd "$clone" && env -u BUILD_DIR -u SAMPLE_BUILD_DIR -u PLENVO_CORPUS PLENVO_TEST_ALL_SMOKE=1 \
        "tools/$cmd") >"$tmp/$name.log" 2>&1 </dev/null
    local rc=$?
    if [ $rc -eq 0 ]; then
        pass "$name: tools/$cmd exits 0 ($((SECONDS - start)) s)"
    else
        tail -n 40 "$tmp/$name.log"
        fail "$name: tools/$cmd exits $rc"
    fi
    return $rc
}

# written_under MARK DIR...: the files under DIR... changed since MARK was made.
written_under() {
    local mark=$1
    shift
    (cd "$clone" && find "$@" -newer "$mark" 2>/dev/null | head -n 5)
}

# 1. run-sample on the fresh clone: four A4 pages written.
if run run-sample "1 run-sample"; then
    a4=$(sed -n '/^wrote samples\/out\/sample-A4.pdf/,$p' "$tmp/1 run-sample.log" | grep -c '"size":"A4"')
    [ "$a4" -eq 4 ] && pass "run-sample printed four A4 pages" \
        || { cat "$tmp/1 run-sample.log"; fail "run-sample printed $a4 A4 pages, not 4"; }
fi

# 2. test-all after it: tests found and passed, run-sample's files untouched.
touch "$tmp/mark2"
if run test-all "2 test-all"; then
    summary=$(grep -E '^test-all \(smoke\): [0-9]+ passed, 0 failed' "$tmp/2 test-all.log")
    if [[ $summary =~ :\ ([0-9]+)\ passed ]] && [ "${BASH_REMATCH[1]}" -gt 0 ]; then
        pass "test-all ran tests ($summary)"
    else
        tail -n 20 "$tmp/2 test-all.log"
        fail "test-all ran no tests"
    fi
fi
touched=$(written_under "$tmp/mark2" build-sample samples)
[ -z "$touched" ] && pass "test-all left build-sample/ and samples/ alone" \
    || fail "test-all wrote into run-sample's files: $(echo "$touched" | tr '\n' ' ')"

# 3. run-sample after test-all, which must not touch build/.
touch "$tmp/mark3"
run run-sample "3 run-sample"
touched=$(written_under "$tmp/mark3" build)
[ -z "$touched" ] && pass "run-sample left build/ alone" \
    || fail "run-sample wrote into test-all's build/: $(echo "$touched" | tr '\n' ' ')"
finish
