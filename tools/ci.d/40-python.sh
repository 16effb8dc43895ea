#!/usr/bin/env bash
# The Python binding's tests against the shared library of the build ($1),
# with Debian's python3 (or $PLENVO_PYTHON): pytest when installed
# (python3-pytest), else unittest.
# Packages: python3 python3-pytest
set -uo pipefail
build=$(cd "${1:?usage: 40-python.sh BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
py=${PLENVO_PYTHON:-/usr/bin/python3}
[ -x "$py" ] || py=python3

lib=""
for name in libplenvo.so plenvo.dll libplenvo.dylib; do
    [ -e "$build/$name" ] && { lib="$build/$name"; break; }
done
if [ -z "$lib" ]; then
    echo "no shared library in $build"
    echo "python: 0 passed, 1 failed"
    exit 1
fi
export PLENVO_LIBRARY="$lib"
export PYTHONDONTWRITEBYTECODE=1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$root/python" || exit 1

if "$py" -c "import pytest" 2>/dev/null; then
    "$py" -m pytest -q -p no:cacheprovider --junitxml="$tmp/report.xml" tests
    rc=$?
    "$py" - "$tmp/report.xml" <<'PY' || { echo "python: 0 passed, 1 failed"; exit 1; }
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
suites = [root] if root.tag == "testsuite" else root.findall("testsuite")
n = lambda k: sum(int(s.get(k, 0)) for s in suites)
bad = n("failures") + n("errors")
print("python: %d passed, %d failed" % (n("tests") - bad - n("skipped"), bad))
PY
else
    "$py" -m unittest discover -s tests 2>&1 | tee "$tmp/log"
    rc=${PIPESTATUS[0]}
    total=$(sed -nE 's/^Ran ([0-9]+) tests?.*/\1/p' "$tmp/log")
    summary=$(grep -E '^(OK|FAILED)' "$tmp/log" | tail -1)
    count() { echo "$summary" | sed -nE "s/.*$1=([0-9]+).*/\\1/p"; }
    nf=$(count failures); ne=$(count errors); ns=$(count skipped)
    bad=$(( ${nf:-0} + ${ne:-0} ))
    skipped=${ns:-0}
    [ -n "$summary" ] || bad=1
    echo "python: $(( ${total:-0} - ${bad:-0} - ${skipped:-0} )) passed, ${bad:-0} failed"
fi
exit "$rc"
