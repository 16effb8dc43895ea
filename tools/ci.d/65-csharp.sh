#!/usr/bin/env bash
# The C# example (examples/csharp) compiled with Mono's C# 7 compiler and run
# under Mono against the Linux shared library of the build ($1): fits, scales
# and queries generated PDFs (file names in Greek, Chinese and with an emoji
# included), checks the written page sizes with pdfinfo when present, and the
# library's messages on failure. Installs mono-mcs and mono-runtime when
# missing.
# Packages: mono-mcs mono-runtime poppler-utils
set -uo pipefail
build=$(cd "${1:?usage: 65-csharp.sh BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1"; }
finish() {
    echo "csharp: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

missing=()
command -v mcs >/dev/null || missing+=(mono-mcs)
command -v mono >/dev/null || missing+=(mono-runtime)
if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    { $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"; } \
        >"$tmp/apt.log" 2>&1 || { cat "$tmp/apt.log"; fail "installing ${missing[*]}"; finish; }
fi
[ -e "$build/libplenvo.so" ] || { fail "no libplenvo.so in $build"; finish; }

# C# 7 (what Debian's compiler takes), every warning an error.
if mcs -langversion:7 -warn:4 -warnaserror+ -out:"$tmp/example.exe" "$root"/examples/csharp/*.cs \
        >"$tmp/mcs.log" 2>&1; then
    pass "mcs compiles examples/csharp"
else
    cat "$tmp/mcs.log"
    fail "mcs compiles examples/csharp"
    finish
fi

# example ARGS...: runs the example; its output in $tmp/out, its errors in $tmp/err.
export LD_LIBRARY_PATH="$build${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" LANG=C.UTF-8 LC_ALL=C.UTF-8
example() {
    (cd "$tmp/work" && mono "$tmp/example.exe" "$@") >"$tmp/out" 2>"$tmp/err"
}
# expect NAME STATUS OUT ERR ARGS...: the run's exit status, output and errors.
expect() {
    local name=$1 status=$2 out=$3 err=$4
    shift 4
    example "$@"
    local rc=$?
    if [ "$rc" = "$status" ] && [ "$(cat "$tmp/out")" = "$out" ] && [ "$(cat "$tmp/err")" = "$err" ]; then
        pass "$name"
    else
        fail "$name: exit $rc (want $status)"
        echo "     out: $(cat "$tmp/out")"; echo "     want $out"
        echo "     err: $(cat "$tmp/err")"; echo "     want $err"
    fi
}
# page_size FILE PAGE: "W x H" as pdfinfo reads it from the file (or nothing).
page_size() {
    command -v pdfinfo >/dev/null || return 0
    pdfinfo -f "$2" -l "$2" "$1" 2>/dev/null | sed -nE 's/^Page +[0-9]+ size: +([0-9.]+ x [0-9.]+) pts.*/\1/p'
}
# expect_pages NAME FILE "W x H"...: pdfinfo's size of each page, when pdfinfo is there.
expect_pages() {
    local name=$1 file=$2
    shift 2
    command -v pdfinfo >/dev/null || return 0
    local i=1 want got
    for want in "$@"; do
        got=$(page_size "$tmp/work/$file" "$i")
        [ "$got" = "$want" ] || { fail "$name: page $i is [$got], want [$want] (pdfinfo)"; return; }
        i=$((i + 1))
    done
    pass "$name (pdfinfo)"
}

mkdir -p "$tmp/work"
python3 "$root/tools/make-sample.py" "$tmp/work/in.pdf" >/dev/null || { fail "make-sample.py"; finish; }
greek="Ελληνικά 中文 📄.pdf"
cp "$tmp/work/in.pdf" "$tmp/work/$greek"
printf '%%PDF-1.4\nno objects in here\n' >"$tmp/work/junk.pdf"

expect "size of the sample's rotated page" 0 '{"width_pt":792,"height_pt":612,"page":2,"size":"Letter"}' "" \
    size in.pdf 2
expect "fit to A4" 0 "" "" fit in.pdf a4.pdf a4
expect "size of the fitted page" 0 '{"width_pt":595.2800,"height_pt":841.8900,"page":3,"size":"A4"}' "" \
    size a4.pdf 3
expect_pages "every fitted page is A4" a4.pdf "595.28 x 841.89" "595.28 x 841.89" "595.28 x 841.89" \
    "595.28 x 841.89"
# 12.5 is exact as a 32-bit float: the factor arrives unchanged.
expect "scale by 12.5 percent" 0 "" "" percent in.pdf small.pdf 12.5
expect_pages "scaled pages are an eighth of each side" small.pdf "76.5 x 99" "99 x 76.5" "67.5 x 90"
expect "fit to a custom size" 0 "" "" fit in.pdf custom.pdf 500 700.5
expect_pages "custom size" custom.pdf "500 x 700.5" "500 x 700.5"
expect "non-ASCII input and output names" 0 "" "" fit "$greek" "résultat 结果.pdf" Legal
expect "size of a non-ASCII name" 0 '{"width_pt":612,"height_pt":1008,"page":1,"size":"Legal"}' "" \
    size "résultat 结果.pdf"
expect_pages "non-ASCII output" "résultat 结果.pdf" "612 x 1008"

# Failures: the library's message (UTF-8, the path as given), exit 1.
expect "missing input" 1 "" "plenvo: cannot open missing.pdf" fit missing.pdf o.pdf A4
expect "missing non-ASCII input" 1 "" "plenvo: cannot open λείπει.pdf" size "λείπει.pdf"
expect "not a PDF (a message with a dash)" 1 "" "plenvo: no PDF objects found — not a PDF: junk.pdf" \
    percent junk.pdf o.pdf 50
expect "argument refused" 1 "" "plenvo: percent must be > 0 (got -2.5)" percent in.pdf o.pdf -2.5
expect "page past the end" 1 "" "plenvo: page 5 out of range (document has 4 pages)" size in.pdf 5
[ ! -e "$tmp/work/o.pdf" ] && pass "no output after a failure" || fail "o.pdf written by a failed call"
example fit in.pdf o.pdf B5
[ $? -eq 2 ] && grep -q "unknown paper B5" "$tmp/err" && pass "usage error" || fail "usage error: $(cat "$tmp/err")"
finish
