#!/usr/bin/env bash
# The Python binding, installed as a package and tested there: the shared
# library of the build ($1) is installed with pip
# (PLENVO_LIB=... pip install --no-build-isolation ./python) into a virtual
# environment, offline, with Debian's setuptools, and python/tests run with
# pytest against the installed copy (never the source tree). Debian's python3 (or $PLENVO_PYTHON); installs python3-pip,
# python3-setuptools, python3-wheel and python3-pytest when missing.
# Packages: python3 python3-pip python3-setuptools python3-wheel python3-pytest
set -uo pipefail
build=$(cd "${1:?usage: 40-python.sh BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
py=${PLENVO_PYTHON:-/usr/bin/python3}
[ -x "$py" ] || py=$(command -v python3)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export PYTHONDONTWRITEBYTECODE=1
unset PLENVO_LIBRARY PLENVO_LIB

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1"; }
finish() {
    echo "python: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

missing=()
for mod in pip:python3-pip setuptools:python3-setuptools wheel:python3-wheel pytest:python3-pytest; do
    "$py" -c "import ${mod%%:*}" 2>/dev/null || missing+=("${mod#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    { $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"; } \
        >"$tmp/apt.log" 2>&1 || { cat "$tmp/apt.log"; fail "installing ${missing[*]}"; finish; }
fi

lib=""
for name in libplenvo.so plenvo.dll libplenvo.dylib; do
    [ -e "$build/$name" ] && { lib="$build/$name"; break; }
done
[ -n "$lib" ] || { fail "no shared library in $build"; finish; }
version=$(sed -nE 's/^project\(plenvo VERSION ([0-9.]+).*/\1/p' "$root/CMakeLists.txt")

# run_tests LABEL PYTHON [VAR=VALUE...]: python/tests against the installed
# package that PYTHON imports, from a folder outside the source tree.
run_tests() {
    local label=$1 python=$2
    shift 2
    local report="$tmp/$label.xml"
    (cd "$tmp" && env PLENVO_TEST_INSTALLED=1 "$@" "$python" -m pytest -q -p no:cacheprovider \
        --junitxml="$report" "$root/python/tests") >"$tmp/$label.log" 2>&1
    local rc=$?
    local counts
    counts=$("$py" - "$report" <<'PY'
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
suites = [root] if root.tag == "testsuite" else root.findall("testsuite")
n = lambda k: sum(int(s.get(k, 0)) for s in suites)
bad = n("failures") + n("errors")
print(n("tests") - bad - n("skipped"), bad)
PY
) || counts="0 1"
    local ok=${counts% *} bad=${counts#* }
    [ "$rc" -ne 0 ] && [ "$bad" -eq 0 ] && bad=1
    passed=$((passed + ok))
    failed=$((failed + bad))
    if [ "$bad" -eq 0 ]; then
        echo "ok   pytest against the $label install: $ok passed"
    else
        tail -30 "$tmp/$label.log"
        echo "FAIL pytest against the $label install: $bad failed"
    fi
}

# ---- 1. pip, offline, into a virtual environment (system pytest visible) ----
cp -r "$root/python" "$tmp/src"   # the build leaves nothing in the source tree
rm -rf "$tmp/src/build" "$tmp/src"/*.egg-info "$tmp/src/plenvo"/*.so* "$tmp/src/plenvo"/*.dll
if "$py" -m venv --without-pip --system-site-packages "$tmp/venv" >"$tmp/venv.log" 2>&1 \
    && PLENVO_LIB="$lib" "$tmp/venv/bin/python" -m pip install --no-build-isolation --no-index \
           --no-cache-dir --disable-pip-version-check -q "$tmp/src" >"$tmp/pip.log" 2>&1; then
    pass "pip install ./python (offline, library copied from PLENVO_LIB)"
    site=$("$tmp/venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
    if [ -f "$site/plenvo/py.typed" ] && [ -f "$site/plenvo/$(basename "$lib")" ] \
        && [ "$("$tmp/venv/bin/python" -c 'import plenvo; print(plenvo.__version__)')" = "$version" ]; then
        pass "installed package: py.typed, the library, version $version"
    else
        fail "installed package in $site lacks py.typed, the library or version $version"
    fi
    run_tests pip "$tmp/venv/bin/python"
    if "$tmp/venv/bin/python" -m pip uninstall -y -q plenvo >"$tmp/uninstall.log" 2>&1 \
            && [ ! -e "$site/plenvo" ]; then
        pass "pip uninstall plenvo removes the package"
    else
        cat "$tmp/uninstall.log"
        fail "pip uninstall plenvo"
    fi
else
    cat "$tmp/venv.log" "$tmp/pip.log" 2>/dev/null | tail -20
    fail "pip install ./python"
fi
finish
