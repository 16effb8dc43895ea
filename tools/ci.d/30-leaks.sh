#!/usr/bin/env bash
# Leak check under valgrind memcheck (--leak-check=full, definite and indirect
# leaks are errors). Two parts:
#  - a small C program calls every export of the shared library directly, on
#    succeeding and failing inputs, with every argument error (null paths,
#    paper numbers, percentages and sizes out of range, pages past the end,
#    an output in a missing directory), and checks the result contract: a
#    success leaves an empty message (and an output file), a failure a
#    message (and no output file);
#  - the command-line program, which links the library statically, on a few
#    of the same inputs.
# Exit status 99 from valgrind means a leak or a memory error; 3 from the
# driver means a broken result contract.
# Packages: valgrind python3
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="${1:-$root/build}"
cli="$build/cli/plenvo"
lib="$build/libplenvo.so"
if ! command -v valgrind >/dev/null; then echo "valgrind missing"; exit 1; fi
[ -x "$cli" ] || { echo "no CLI at $cli"; exit 1; }
[ -f "$lib" ] || { echo "no shared library at $lib"; exit 1; }
cc=$(command -v cc || command -v gcc || command -v clang) || { echo "no C compiler"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/calls.c" <<'EOF'
/* Every export on one input file; exit 3 when a result breaks the contract. */
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "plenvo.h"

static int broken = 0;

static void check(int ok, const char *out, const char *what) {
    const char *msg = plenvo_last_error();
    int exists = out && access(out, F_OK) == 0;
    if (msg == NULL || (ok && msg[0] != 0) || (!ok && msg[0] == 0) || (out && ok != exists)) {
        fprintf(stderr, "contract broken: %s: ok %d, output %d, message '%s'\n", what, ok, exists,
                msg ? msg : "(null)");
        broken = 1;
    }
    if (out) remove(out);
}

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    const char *in = argv[1], *out = argv[2];
    char missing[4096];
    snprintf(missing, sizeof missing, "%s.missing-dir/out.pdf", out);
    remove(out);
    if (plenvo_init() != 1) broken = 1;
    check(plenvo_page_size(in, 1) != NULL, NULL, "page_size 1");
    check(plenvo_page_size(in, 2) != NULL, NULL, "page_size 2");
    check(plenvo_page_size(in, 0) != NULL, NULL, "page_size 0");
    check(plenvo_page_size(in, -7) != NULL, NULL, "page_size -7");
    check(plenvo_page_size(in, 1000000) != NULL, NULL, "page_size 1000000");
    check(plenvo_page_size(NULL, 1) != NULL, NULL, "page_size NULL");
    for (int size = -1; size <= 5; ++size) check(plenvo_to_size(in, out, size), out, "to_size");
    check(plenvo_to_size(NULL, out, 0), out, "to_size NULL input");
    check(plenvo_to_size(in, NULL, 0), NULL, "to_size NULL output");
    check(plenvo_to_size(in, missing, 1), missing, "to_size missing directory");
    const float percents[] = {50.0f, 100.0f, 0.001f, 0.0f, -5.0f, NAN, INFINITY, 3e38f};
    for (size_t i = 0; i < sizeof percents / sizeof percents[0]; ++i)
        check(plenvo_percent(in, out, percents[i]), out, "percent");
    check(plenvo_percent(NULL, out, 50.0f), out, "percent NULL input");
    check(plenvo_percent(in, NULL, 50.0f), NULL, "percent NULL output");
    check(plenvo_percent(in, missing, 50.0f), missing, "percent missing directory");
    const float sizes[][2] = {{300, 400}, {1, 1}, {0, 400}, {300, -1}, {NAN, 400}, {INFINITY, 400}, {3e38f, 3e38f}};
    for (size_t i = 0; i < sizeof sizes / sizeof sizes[0]; ++i)
        check(plenvo_custom(in, out, sizes[i][0], sizes[i][1]), out, "custom");
    check(plenvo_custom(NULL, out, 300, 400), out, "custom NULL input");
    check(plenvo_custom(in, NULL, 300, 400), NULL, "custom NULL output");
    check(plenvo_custom(in, missing, 300, 400), missing, "custom missing directory");
    plenvo_cleanup();
    if (plenvo_last_error()[0] != 0) broken = 1;
    return broken ? 3 : 0;
}
EOF
if ! "$cc" -O1 -g -I"$root/include" "$work/calls.c" -o "$work/calls" -L"$build" -lplenvo -lm \
        -Wl,-rpath,"$build" 2>"$work/cc.log"; then
    cat "$work/cc.log"; echo "leak check: cannot build the driver"; exit 1
fi

# Inputs: the bundled sample and damaged forms of it, page-tree failures,
# the fuzz seeds (every content filter, object streams, an incremental
# update, damaged objects, an encrypted file) and a few corpus files.
python3 "$root/tools/make-sample.py" "$work/sample.pdf"
: > "$work/empty.pdf"
printf '%%PDF-1.4\n' > "$work/header.pdf"
head -c 1500 "$work/sample.pdf" > "$work/cut.pdf"
sed 's|/Type /Pages /Kids \[|/Type /Pages /Kids [<< /Type /Page >> |' "$work/sample.pdf" > "$work/inline.pdf"
python3 - "$work" <<'EOF'
import sys
d = sys.argv[1]
def pdf(objs, root=1):
    out = "%PDF-1.4\n"
    for n, body in objs:
        out += "%d 0 obj\n%s\nendobj\n" % (n, body)
    return out + "trailer\n<< /Root %d 0 R >>\n%%%%EOF\n" % root
files = {
    "cycle.pdf": [(1, "<< /Type /Catalog /Pages 2 0 R >>"), (2, "<< /Type /Pages /Kids [3 0 R] >>"),
                  (3, "<< /Type /Pages /Kids [2 0 R] >>")],
    "nested-inline.pdf": [(1, "<< /Type /Catalog /Pages 2 0 R >>"), (2, "<< /Type /Pages /Kids [3 0 R] >>"),
                          (3, "<< /Type /Pages /Kids [<< /Type /Page >>] >>")],
    "no-pages.pdf": [(1, "<< /Type /Catalog /Pages 2 0 R >>"), (2, "<< /Type /Pages /Kids [] >>")],
    "no-catalog.pdf": [(5, "<< /Producer (x) >>")],
    "missing-kid.pdf": [(1, "<< /Type /Catalog /Pages 2 0 R >>"), (2, "<< /Type /Pages /Kids [3 0 R 9 0 R] >>"),
                        (3, "<< /Type /Page /Parent 2 0 R >>")],
}
for name, objs in files.items():
    open("%s/%s" % (d, name), "w").write(pdf(objs))
EOF
corpus="$root/../shared/corpus"
inputs=("$work"/*.pdf "$work/does-not-exist.pdf" "$root"/fuzz/corpus/load/*.pdf)
for f in libreoffice-writer-password.pdf pdflatex-4-pages.pdf minimal-document.pdf habibi-rotated.pdf; do
    [ -f "$corpus/$f" ] && inputs+=("$corpus/$f")
done

passed=0
failed=0
vg() {
    valgrind -q --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=99 \
        "$@" >/dev/null 2>"$work/vg.log"
    local rc=$?
    if [ "$rc" -eq 99 ] || [ "$rc" -eq 3 ] || [ "$rc" -gt 128 ]; then
        failed=$((failed + 1))
        echo "FAILED (status $rc): ${*##*/}"
        head -n 40 "$work/vg.log"
    else
        passed=$((passed + 1))
    fi
}
for in in "${inputs[@]}"; do
    vg "$work/calls" "$in" "$work/out.pdf"
done
for in in "$work/sample.pdf" "$work/cut.pdf" "$work/inline.pdf" "$work/does-not-exist.pdf"; do
    vg "$cli" size "$in" 1
    vg "$cli" fit "$in" "$work/out.pdf" --paper A4
    vg "$cli" percent "$in" "$work/out.pdf" 50
done
mkdir -p "$work/outdir"
vg "$cli" fit --size 300 400 -o "$work/outdir" "$work/sample.pdf" "$work/empty.pdf" "$work/cycle.pdf"
echo "leak check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
