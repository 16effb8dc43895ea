# Counting for a CI step, sourced by the steps that report check by check:
#   . "$(dirname "$0")/tally.bash" NAME
# gives pass TEXT and fail TEXT (one line each, counted), count LOG (adds the
# totals line of a sub-run's log; a log without one counts as one failure) and
# finish, which prints "NAME: N passed, N failed" (the line tools/test-all
# reads) and exits with 0 only when nothing failed.
tally_name=${1:?usage: . tally.bash NAME}
passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1"; }
finish() {
    echo "$tally_name: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}
count() {
    local line
    line=$(grep -E '^[a-z-]+: [0-9]+ passed, [0-9]+ failed$' "$1" | tail -1)
    if [ -z "$line" ]; then
        failed=$((failed + 1))
        return
    fi
    passed=$((passed + $(echo "$line" | sed -E 's/.*: ([0-9]+) passed.*/\1/')))
    failed=$((failed + $(echo "$line" | sed -E 's/.* ([0-9]+) failed$/\1/')))
}
