#!/usr/bin/env bash
# The include direction of src/: interface -> output -> reader -> inflate ->
# base. Runs tools/check-layers on the tree, and on a copy holding one upward
# include, which it must refuse.
# Packages: python3
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
passed=0
failed=0
if python3 "$root/tools/check-layers" "$root/src"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$root/src" "$work/src"
printf '#include "output/scale.h"\n' >> "$work/src/reader/scan.cpp"
if python3 "$root/tools/check-layers" "$work/src" >/dev/null; then
    echo "FAIL an upward include (reader -> output) was not found"
    failed=$((failed + 1))
else
    passed=$((passed + 1))
fi
echo "layers: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
