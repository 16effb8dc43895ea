#!/usr/bin/env bash
# Leak check under valgrind memcheck: every kind of call, on failing and on
# succeeding inputs, through the command-line program (which links the
# library statically). Exit status 99 from valgrind means a leak or a memory
# error.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="${1:-$root/build}"
cli="$build/cli/plenvo"
if ! command -v valgrind >/dev/null; then echo "valgrind missing"; exit 1; fi
[ -x "$cli" ] || { echo "no CLI at $cli"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 "$root/tools/make-sample.py" "$work/sample.pdf"
: > "$work/empty.pdf"
printf '%%PDF-1.4\n' > "$work/header.pdf"
head -c 1500 "$work/sample.pdf" > "$work/cut.pdf"
sed 's|/Type /Pages /Kids \[|/Type /Pages /Kids [<< /Type /Page >> |' "$work/sample.pdf" > "$work/inline.pdf"
corpus="$root/../shared/corpus"
inputs=("$work/sample.pdf" "$work/empty.pdf" "$work/header.pdf" "$work/cut.pdf" "$work/inline.pdf"
        "$work/missing.pdf")
for f in libreoffice-writer-password.pdf pdflatex-4-pages.pdf minimal-document.pdf habibi-rotated.pdf; do
    [ -f "$corpus/$f" ] && inputs+=("$corpus/$f")
done

passed=0
failed=0
vg() {
    valgrind -q --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=99 \
        "$cli" "$@" >/dev/null 2>"$work/vg.log"
    local rc=$?
    if [ "$rc" -eq 99 ]; then
        failed=$((failed + 1))
        echo "LEAK or memory error: plenvo $*"
        cat "$work/vg.log"
    else
        passed=$((passed + 1))
    fi
}
for in in "${inputs[@]}"; do
    vg size "$in" 1
    vg size "$in" 99
    vg fit "$in" "$work/out.pdf" --paper A4
    vg fit "$in" "$work/out.pdf" --size 300 400
    vg percent "$in" "$work/out.pdf" 50
    vg fit "$in" "$work/no/such/dir/out.pdf" --paper Letter
done
vg percent "$work/sample.pdf" "$work/out.pdf" -5
echo "leak check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
