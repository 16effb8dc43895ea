#!/usr/bin/env bash
# Short run of the end-to-end benchmark (bench/e2e): 200 corpus pages with
# classic cross-reference tables and with object streams, a 2,000-page text
# document, one repetition. It checks that every tool (plenvo's CLI and
# library call, the limit program, PyMuPDF, pikepdf, Ghostscript) ran and
# wrote a valid output (qpdf --check, page count); timings are printed, never
# judged. A C compiler builds the limit program.
# Packages: python3 python3-fitz python3-pikepdf ghostscript qpdf time zlib1g-dev
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
if [ ! -d "$root/../shared/corpus" ]; then
    echo "e2e: no corpus beside the checkout; skipped"
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$root/bench/e2e" --build "$build" --work "$work" --pages 200 --text-pages 2000 --reps 1 --inputs classic,objstm,text \
    --timeout 120 --smoke
