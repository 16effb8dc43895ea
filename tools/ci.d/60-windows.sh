#!/usr/bin/env bash
# The Windows build: cross-compiles plenvo.dll (with its import library) and
# plenvo.exe with mingw-w64, checks the DLL's export and import tables, runs
# tests/windows/host.c against the DLL under wine and against the Linux
# shared library, and compares their transcripts and output PDFs byte for byte.
#
#   tools/ci.d/60-windows.sh LINUX_BUILD_DIR
#
# The cross build fails on any warning. Run alone, the step installs
# g++-mingw-w64-x86-64 and wine64 when missing (as root; otherwise it names
# them and stops). Works in WINDOWS_BUILD_DIR (default
# LINUX_BUILD_DIR/windows), wine prefix included.
# Packages: g++-mingw-w64-x86-64 wine64 python3
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 LINUX_BUILD_DIR"; exit 2; }
linux_build=$(cd "$1" && pwd) || exit 2
work=${WINDOWS_BUILD_DIR:-$linux_build/windows}
mkdir -p "$work"
work=$(cd "$work" && pwd)
win_build=$work/build
triplet=x86_64-w64-mingw32

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1"; }
finish() {
    echo "windows: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

# ---- tools ----
find_wine() {
    if [ -x /usr/lib/wine/wine64 ]; then echo /usr/lib/wine/wine64
    elif command -v wine64 >/dev/null; then command -v wine64
    elif command -v wine >/dev/null; then command -v wine
    fi
}
missing=()
command -v $triplet-g++ >/dev/null || missing+=(g++-mingw-w64-x86-64)
[ -n "$(find_wine)" ] || missing+=(wine64)
if [ ${#missing[@]} -gt 0 ]; then
    "$root/tools/need-packages" 60-windows.sh "${missing[@]}" || { fail "missing: ${missing[*]}"; finish; }
fi
wine=$(find_wine)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
host_cc=$(command -v gcc || command -v cc)
for tool in "$host_cc" python3 $triplet-objdump; do
    command -v "$tool" >/dev/null || { fail "missing tool: $tool"; finish; }
done
mingw_cc=$(command -v $triplet-gcc-posix || command -v $triplet-gcc)

# ---- cross build: plenvo.dll, libplenvo.dll.a, plenvo.exe ----
# A build tree configured from another checkout is started afresh.
if [ -f "$win_build/CMakeCache.txt" ] \
        && ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$root" "$win_build/CMakeCache.txt"; then
    rm -rf "$win_build"
fi
if cmake -S "$root" -B "$win_build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
        -DPLENVO_BUILD_TESTS=OFF -DPLENVO_BUILD_BENCH=OFF >"$work/configure.log" 2>&1; then
    pass "configure the mingw-w64 build"
else
    tail -20 "$work/configure.log"
    fail "configure the mingw-w64 build"
    finish
fi
if cmake --build "$win_build" -j2 --target plenvo >"$work/build-dll.log" 2>&1; then
    pass "build plenvo.dll"
else
    grep -E "error|Error" "$work/build-dll.log" | head -20
    fail "build plenvo.dll"
    finish
fi
dll=$win_build/plenvo.dll
[ -f "$win_build/libplenvo.dll.a" ] && pass "import library libplenvo.dll.a" || fail "import library libplenvo.dll.a"

exe=""
if [ -f "$root/cli/CMakeLists.txt" ]; then
    if cmake --build "$win_build" -j2 --target plenvo_cli >"$work/build-cli.log" 2>&1 \
            && [ -f "$win_build/cli/plenvo.exe" ]; then
        exe=$win_build/cli/plenvo.exe
        pass "build plenvo.exe"
    else
        grep -E "error|Error" "$work/build-cli.log" | head -20
        fail "build plenvo.exe"
    fi
fi
# Compiler warnings stop the build above; this catches the linker's.
if grep -h -A4 "warning:" "$work"/build-*.log | head -20 | grep .; then
    fail "the cross build printed warnings"
else
    pass "the cross build printed no warning"
fi

# ---- export and import tables ----
# Export names: the rows of the "[Ordinal/Name Pointer] Table" section.
exports_of() {
    $triplet-objdump -p "$1" | awk '
        /^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
        on && /^\t\[ *[0-9]+\] / { print $NF; next }
        on { on = 0 }'
}
want_exports="plenvo_cleanup plenvo_custom plenvo_init plenvo_last_error plenvo_page_size plenvo_percent plenvo_to_size"
got_exports=$(exports_of "$dll" | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$got_exports" = "$want_exports" ]; then
    pass "plenvo.dll exports exactly the seven plain names"
else
    fail "plenvo.dll export table: got [$got_exports], want [$want_exports]"
fi
# The export directory: its name, and as many addresses and names as exports.
export_head=$($triplet-objdump -p "$dll" | awk '
    /^The Export Tables/ { on = 1 }
    on && /^Name[ \t]/ { print "name=" $NF }
    on && /^Number in:/ { n = 2; next }
    n > 0 { sub(/^\t/, ""); gsub(/[ \t]+/, " "); print; n-- }
    /^Export Address Table --/ { exit }')
want_head="name=plenvo.dll
Export Address Table 00000007
[Name Pointer/Ordinal] Table 00000007"
[ "$export_head" = "$want_head" ] && pass "export directory: plenvo.dll, 7 addresses, 7 names" \
    || fail "export directory: got [$(echo "$export_head" | tr '\n' ';')]"

# Imports: only DLLs that every Windows installation has.
check_imports() {
    local bad
    bad=$($triplet-objdump -p "$1" | awk '/DLL Name:/ { print $3 }' \
          | grep -viE '^(kernel32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$' | tr '\n' ' ')
    if [ -z "$bad" ]; then pass "$(basename "$1") needs no DLL beyond the system's"
    else fail "$(basename "$1") imports non-system DLLs: $bad"; fi
}
check_imports "$dll"
[ -n "$exe" ] && check_imports "$exe"

# ---- host programs ----
if $mingw_cc -std=c99 -O2 -Wall -Wextra -Werror -static -s -o "$work/host.exe" \
        "$root/tests/windows/host.c" >"$work/host-build.log" 2>&1; then
    pass "build host.exe"
else
    cat "$work/host-build.log"; fail "build host.exe"; finish
fi
if "$host_cc" -std=c99 -O2 -Wall -Wextra -Werror -o "$work/host-linux" \
        "$root/tests/windows/host.c" -ldl >"$work/host-linux-build.log" 2>&1; then
    pass "build the Linux host"
else
    cat "$work/host-linux-build.log"; fail "build the Linux host"; finish
fi
# Linked through the header and the import library, placed beside the DLL.
if $mingw_cc -std=c99 -O2 -Wall -Wextra -Werror -I"$root/include" -o "$win_build/linked.exe" \
        "$root/tests/windows/linked.c" -L"$win_build" -lplenvo >"$work/linked-build.log" 2>&1; then
    pass "link a C program against libplenvo.dll.a"
else
    cat "$work/linked-build.log"; fail "link a C program against libplenvo.dll.a"
fi

# ---- inputs: the same generated files for both runs ----
rm -rf "$work/inputs" "$work/run-linux" "$work/run-windows"
if ! python3 "$root/tests/windows/make_inputs.py" "$work/inputs"; then
    fail "generate input PDFs"; finish
fi
for side in run-linux run-windows; do
    mkdir -p "$work/$side/out"
    cp -r "$work/inputs" "$work/$side/in"
done

# ---- Linux run ----
linux_lib=$linux_build/libplenvo.so
if [ ! -e "$linux_lib" ]; then
    cmake --build "$linux_build" --target plenvo >/dev/null 2>&1
fi
summary() { grep -E '^host: [0-9]+ passed' "$1" | tail -1; }
add_host_counts() {
    local line p f
    line=$(summary "$1")
    p=$(echo "$line" | sed -nE 's/^host: ([0-9]+) passed.*/\1/p')
    f=$(echo "$line" | sed -nE 's/.* ([0-9]+) failed.*/\1/p')
    passed=$((passed + ${p:-0}))
    failed=$((failed + ${f:-0}))
}
(cd "$work/run-linux" && "$work/host-linux" "$linux_lib") >"$work/host-linux.log" 2>&1
rc=$?
grep -E '^(FAIL|note|skip)' "$work/host-linux.log"
add_host_counts "$work/host-linux.log"
if [ $rc -eq 0 ]; then pass "host on Linux ($(summary "$work/host-linux.log"))"
else tail -3 "$work/host-linux.log"; fail "host on Linux exited with $rc"; fi

# ---- Windows run under wine ----
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko installer prompts
export HOME=${HOME:-$work}
unset DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 300 "$wine" wineboot -i >"$work/wineboot.log" 2>&1 \
        || { tail -5 "$work/wineboot.log"; fail "create the wine prefix"; finish; }
fi
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
(cd "$work/run-windows" && timeout 300 "$wine" "$work/host.exe" "$(winpath "$dll")") \
    >"$work/host-windows.log" 2>&1 </dev/null
rc=$?
grep -E '^(FAIL|note|skip)' "$work/host-windows.log" | tr -d '\r'
add_host_counts "$work/host-windows.log"
if [ $rc -eq 0 ]; then pass "host under wine ($(summary "$work/host-windows.log" | tr -d '\r'))"
else tail -3 "$work/host-windows.log"; fail "host under wine exited with $rc"; fi

# The real-world PDFs, when present: every call on each, on both systems.
corpus=${PLENVO_CORPUS:-$root/../shared/corpus}
corpus_files=()
if [ -d "$corpus" ]; then
    corpus=$(cd "$corpus" && pwd)
    for f in "$corpus"/*.pdf; do [ -f "$f" ] && corpus_files+=("corpus/$(basename "$f")"); done
fi
if [ ${#corpus_files[@]} -gt 0 ]; then
    for side in corpus-linux corpus-windows; do
        rm -rf "$work/$side"
        mkdir -p "$work/$side/out"
        ln -s "$corpus" "$work/$side/corpus"
    done
    (cd "$work/corpus-linux" && "$work/host-linux" "$linux_lib" "${corpus_files[@]}") \
        >"$work/corpus-linux.log" 2>&1
    rc_linux=$?
    (cd "$work/corpus-windows" && timeout 600 "$wine" "$work/host.exe" "$(winpath "$dll")" "${corpus_files[@]}") \
        >"$work/corpus-windows.log" 2>&1 </dev/null
    rc_windows=$?
    for side in linux windows; do
        grep -E '^FAIL' "$work/corpus-$side.log" | tr -d '\r' | head -10
    done
    add_host_counts "$work/corpus-linux.log"
    add_host_counts "$work/corpus-windows.log"
    [ $rc_linux -eq 0 ] && [ $rc_windows -eq 0 ] \
        && pass "host on ${#corpus_files[@]} corpus files, Linux and wine" \
        || fail "host on the corpus exited with $rc_linux (Linux) and $rc_windows (wine)"
fi

if [ -f "$win_build/linked.exe" ]; then
    (cd "$win_build" && timeout 120 "$wine" ./linked.exe) >"$work/linked.log" 2>&1 </dev/null
    rc=$?
    [ $rc -eq 0 ] && pass "linked.exe under wine" \
        || { tr -d '\r' <"$work/linked.log" | head; fail "linked.exe under wine exited with $rc"; }
fi
if [ -n "$exe" ]; then
    (cd "$work/run-windows" && timeout 120 "$wine" "$exe" --version) >"$work/cli-version.log" 2>&1 </dev/null
    rc=$?
    [ $rc -eq 0 ] && grep -q "[0-9]\.[0-9]" "$work/cli-version.log" && pass "plenvo.exe --version under wine" \
        || { tr -d '\r' <"$work/cli-version.log" | head -5; fail "plenvo.exe --version under wine (exit $rc)"; }
fi
# The command-line program on both systems: the same files written, the same
# answers printed (Windows ends its lines with CR LF).
linux_cli=$linux_build/cli/plenvo
cli_inputs=(letter.pdf rotate90.pdf two_pages.pdf offset.pdf flate.pdf object_stream.pdf)
if [ -n "$exe" ] && [ -x "$linux_cli" ]; then
    for side in cli-linux cli-windows; do
        rm -rf "$work/$side"
        mkdir -p "$work/$side"
        cp -r "$work/inputs" "$work/$side/in"
    done
    cli_run() {  # side, program, arguments...
        local side=$1 prog=$2
        shift 2
        if [ "$side" = cli-linux ]; then (cd "$work/$side" && "$prog" "$@")
        else (cd "$work/$side" && timeout 120 "$wine" "$prog" "$@" </dev/null); fi
    }
    ins=()
    for f in "${cli_inputs[@]}"; do [ -f "$work/inputs/$f" ] && ins+=("in/$f"); done
    for side in cli-linux cli-windows; do
        prog=$linux_cli
        [ "$side" = cli-windows ] && prog=$exe
        cli_run "$side" "$prog" fit --paper A4 -o fit "${ins[@]}" >"$work/$side.fit.log" 2>&1
        echo "fit exit $?" >"$work/$side/result.txt"
        cli_run "$side" "$prog" percent -o half "${ins[@]}" 50 >"$work/$side.percent.log" 2>&1
        echo "percent exit $?" >>"$work/$side/result.txt"
        for f in "${ins[@]}"; do
            cli_run "$side" "$prog" size "$f" --all 2>&1 | tr -d '\r' >>"$work/$side/result.txt"
            echo "size exit ${PIPESTATUS[0]}" >>"$work/$side/result.txt"
        done
    done
    if grep -qv "exit 0" <(grep exit "$work/cli-linux/result.txt"); then
        fail "plenvo on Linux failed: $(grep -v 'exit 0' "$work/cli-linux/result.txt" | grep exit | tr '\n' ' ')"
    fi
    if diff -r "$work/cli-linux" "$work/cli-windows" >"$work/cli.diff" 2>&1; then
        pass "plenvo.exe under wine writes and prints exactly what plenvo prints on Linux ($(ls "$work/cli-linux/fit" | wc -l) + $(ls "$work/cli-linux/half" | wc -l) files)"
    else
        head -10 "$work/cli.diff"
        fail "plenvo.exe under wine differs from plenvo on Linux"
    fi
fi
"$wineserver" -k >/dev/null 2>&1 || true

# ---- byte-for-byte comparison of the two runs ----
compare() {
    if [ ! -f "$1" ] || [ ! -f "$2" ]; then
        fail "$3: missing on $([ -f "$1" ] && echo Windows || echo Linux)"
    elif cmp -s "$1" "$2"; then
        pass "$3 identical"
    else
        fail "$3 differs between Linux and Windows"
        diff <(od -c "$1") <(od -c "$2") | head -10
    fi
}
compare "$work/run-linux/transcript.txt" "$work/run-windows/transcript.txt" "transcript"
lin_files=$(cd "$work/run-linux/out" && ls -A | sort)
win_files=$(cd "$work/run-windows/out" && ls -A | sort)
if [ "$lin_files" = "$win_files" ]; then
    pass "same set of output files ($(echo "$lin_files" | grep -c .))"
else
    fail "output files differ: $(diff <(echo "$lin_files") <(echo "$win_files") | grep '^[<>]' | tr '\n' ' ')"
fi
# Nothing else (no temporary file of a failed write) appears beside in/ and out/.
for side in run-linux run-windows; do
    top=$(cd "$work/$side" && ls -A | sort | tr '\n' ' ')
    [ "$top" = "in out transcript.txt " ] && pass "$side holds only in/, out/ and the transcript" \
        || fail "$side holds: $top"
done
# (Names may hold spaces: one per line.)
while IFS= read -r f; do
    [ -n "$f" ] && compare "$work/run-linux/out/$f" "$work/run-windows/out/$f" "out/$f"
done < <(printf '%s\n%s\n' "$lin_files" "$win_files" | sort -u)
if [ ${#corpus_files[@]} -gt 0 ]; then
    compare "$work/corpus-linux/transcript.txt" "$work/corpus-windows/transcript.txt" "corpus transcript"
    if diff -r "$work/corpus-linux/out" "$work/corpus-windows/out" >"$work/corpus.diff" 2>&1; then
        pass "corpus outputs identical ($(ls "$work/corpus-linux/out" | wc -l) files)"
    else
        head -10 "$work/corpus.diff"
        fail "corpus outputs differ between Linux and Windows"
    fi
fi

finish
