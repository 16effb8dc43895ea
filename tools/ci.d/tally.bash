# Counting for a CI step, sourced by the steps that report check by check:
#   . "$(dirname "$0")/tally.bash" NAME
# gives pass TEXT and fail TEXT (one line each, counted) and finish, which
# prints "NAME: N passed, N failed" (the line tools/test-all reads) and exits
# with 0 only when nothing failed.
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
