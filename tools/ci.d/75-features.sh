#!/usr/bin/env bash
# The whole document survives rescaling: links, annotations, form fields,
# outline, named destinations, page labels, info, XMP, layers and
# attachments, with their geometry moved like the page content.
#
#   tools/ci.d/75-features.sh BUILD_DIR      (the program is BUILD_DIR/cli/plenvo)
#
#  1. the checks themselves (tools/check-features --self-test): placement
#     arithmetic, a reference rescaler's outputs accepted, its faults caught;
#  2. the generated fixtures (tools/make-feature-inputs: one feature each,
#     turned and offset variants, bad inputs) at percent 100, percent 50 and
#     fit A4: every feature kept, qpdf clean, renders with annotations like
#     the input's, bad inputs' pages intact;
#  3. the same for the files of ../shared/corpus that carry links,
#     annotations, fields, an outline, layers or attachments (skipped when
#     the corpus is absent);
#  4. the corpus check's feature table (tools/check-corpus --features):
#     with a program that carries everything it passes, with one that loses
#     page labels it fails (strict) or only reports them;
#  5. time linear in links and outline items (bench/feature-linearity).
#
# Packages: python3 python3-pikepdf qpdf poppler-utils
set -uo pipefail
build=$(cd "${1:?usage: 75-features.sh BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
corpus=${PLENVO_CORPUS:-$root/../shared/corpus}
py=${PLENVO_PYTHON:-/usr/bin/python3}
[ -x "$py" ] || py=python3
plenvo="$build/cli/plenvo"
export PYTHONDONTWRITEBYTECODE=1

. "$(dirname "$0")/tally.bash" features

if [ ! -x "$plenvo" ]; then
    echo "no program at $plenvo"
    failed=1
    finish
fi
for tool in qpdf pdftoppm; do
    command -v "$tool" >/dev/null || { echo "$tool not installed (qpdf, poppler-utils)"; failed=1; finish; }
done
"$py" -c "import pikepdf" 2>/dev/null || { echo "pikepdf not installed (python3-pikepdf)"; failed=1; finish; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
check=("$py" "$root/tools/check-features" -q --plenvo "$plenvo")

echo "== the checks' self-test"
"${check[@]}" --self-test 2>&1 | tee "$tmp/self.log"
count "$tmp/self.log"

echo "== generated fixtures"
if "$py" "$root/tools/make-feature-inputs" "$tmp/fixtures"; then
    "${check[@]}" "$tmp/fixtures" 2>&1 | tee "$tmp/fixtures.log"
    count "$tmp/fixtures.log"
else
    failed=$((failed + 1))
fi

echo "== the corpus check's feature table (check-corpus, a reference program)"
# A program that answers like plenvo but rescales with the checks' reference
# rescaler, making the fault $FAULT when it is set.
cat > "$tmp/reference-plenvo" <<PY
#!$py
import os, sys
sys.path.insert(0, "$root/tools")
from features import geometry, reference
args = [a for a in sys.argv[1:] if a != "-q"]
if args[0] == "size":
    os.execv("$plenvo", ["$plenvo"] + args)
if args[0] == "percent":
    src, dst, mode = args[1], args[2], "percent " + args[3]
else:  # fit --paper NAME IN OUT
    src, dst, mode = args[3], args[4], "fit " + args[2]
reference.rescale(src, dst, geometry.Mode(mode), os.environ.get("FAULT") or None)
PY
chmod +x "$tmp/reference-plenvo"
mkdir -p "$tmp/table"
for f in links-r90 labels-plain layers-offset form-mixed outline-mixed; do
    cp "$tmp/fixtures/$f.pdf" "$tmp/table/"
done
# table_case NAME STATUS PATTERN FAULT [OPTIONS]: check-corpus must exit with
# STATUS and print a line matching PATTERN.
table_case() {
    local name=$1 want=$2 pattern=$3 fault=$4
    shift 4
    FAULT="$fault" "$py" "$root/tools/check-corpus" -q --plenvo "$tmp/reference-plenvo" "$@" "$tmp/table" \
        >"$tmp/table.log" 2>&1
    local rc=$?
    if [ "$rc" -eq "$want" ] && grep -Eq "$pattern" "$tmp/table.log"; then
        echo "PASS corpus table: $name"
        passed=$((passed + 1))
    else
        cat "$tmp/table.log"
        echo "FAIL corpus table: $name (exit $rc, expected $want and '$pattern')"
        failed=$((failed + 1))
    fi
}
table_case "everything kept, strict" 0 '^page label ranges +1 +3 +3$' ""
table_case "a lost feature fails strict" 1 '^LOST .*labels-plain.pdf: page label ranges 0/3' labels
table_case "a lost feature, report only" 0 '^page label ranges +1 +3 +0 +\(3 lost\)$' labels --features report

if [ -d "$corpus" ]; then
    echo "== corpus files with links, annotations, fields, outlines, layers or attachments"
    "${check[@]}" --carrying "$corpus" 2>&1 | tee "$tmp/corpus.log"
    count "$tmp/corpus.log"
else
    echo "corpus not found at $corpus: skipped"
fi

echo "== linearity"
"$py" "$root/bench/feature-linearity" --build "$build" 2>&1 | tee "$tmp/linearity.log"
count "$tmp/linearity.log"
finish
