#!/usr/bin/env bash
# The reader's fixtures (tools/make-reader-inputs): files whose objects a
# viewer finds through the cross-reference data, with comments where values
# are read, object streams behind filter chains, boxes made of references,
# /UserUnit, and encryption the last "startxref" does not lead to.
#
#   tools/ci.d/72-reader-fixtures.sh BUILD_DIR   (the program is BUILD_DIR/cli/plenvo)
#
# For every file to be rendered: `plenvo percent IN OUT 100` succeeds, qpdf
# --check finds no error in OUT, `plenvo size --all` gives the manifest's
# sizes, OUT's pages have those sizes, and every page of OUT renders (pdftoppm,
# grey, 36 dpi, crop box) exactly like the input page (rendered at 36 x its
# /UserUnit dpi, as poppler leaves the unit out). Every encrypted file is refused by
# `percent` and `size` with "encrypted PDFs are not supported: <path>".
#
# Packages: python3 poppler-utils qpdf
set -uo pipefail
build=$(cd "${1:?usage: 72-reader-fixtures.sh BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
py=${PLENVO_PYTHON:-/usr/bin/python3}
[ -x "$py" ] || py=python3
export PYTHONDONTWRITEBYTECODE=1
plenvo="$build/cli/plenvo"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if [ ! -x "$plenvo" ]; then
    echo "FAIL no program at $plenvo"
    echo "reader-fixtures: 0 passed, 1 failed"
    exit 1
fi
for tool in pdftoppm pdfinfo qpdf; do
    if ! command -v "$tool" >/dev/null; then
        echo "FAIL $tool not installed (poppler-utils, qpdf)"
        echo "reader-fixtures: 0 passed, 1 failed"
        exit 1
    fi
done
if ! "$py" "$root/tools/make-reader-inputs" "$tmp/in" >/dev/null; then
    echo "FAIL make-reader-inputs"
    echo "reader-fixtures: 0 passed, 1 failed"
    exit 1
fi

"$py" - "$plenvo" "$tmp" <<'PY'
import json, os, re, subprocess, sys

plenvo, tmp = sys.argv[1], sys.argv[2]
indir = os.path.join(tmp, "in")
DPI = 36.0
MESSAGE = "encrypted PDFs are not supported: "
passed = failed = 0


def run(cmd):
    p = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def read_pgm(path):
    data = open(path, "rb").read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    w, h = int(fields[1]), int(fields[2])
    return w, h, data[pos + 1:pos + 1 + w * h]


def render(pdf, page, dpi, name):
    """Page `page` of pdf in grey at dpi: (w, h, pixels), or None."""
    prefix = os.path.join(tmp, name)
    rc, _, _ = run(["pdftoppm", "-gray", "-r", "%.4f" % dpi, "-f", str(page), "-l", str(page),
                    "-singlefile", "-cropbox", "-hide-annotations", pdf, prefix])
    return read_pgm(prefix + ".pgm") if rc == 0 else None


def page_sizes(pdf):
    rc, out, _ = run(["pdfinfo", "-f", "1", "-l", "9999", pdf])
    return [(float(a), float(b)) for a, b in re.findall(r"Page +\d+ size: +([\d.]+) x ([\d.]+) pts", out)]


def check_render(name, entry):
    src = os.path.join(indir, name)
    out = os.path.join(tmp, "out-" + name)
    rc, _, err = run([plenvo, "percent", src, out, "100"])
    if rc != 0:
        return ["percent 100 failed: " + err.strip()]
    problems = []
    rc, log, _ = run(["qpdf", "--check", out])
    if rc == 2:
        problems.append("qpdf --check: " + " / ".join(l for l in log.splitlines() if "ERROR" in l or "error" in l)[:200])
    want = entry["pages"]
    rc, answer, err = run([plenvo, "size", src, "--all"])
    got = [(json.loads(l)["width_pt"], json.loads(l)["height_pt"]) for l in answer.splitlines() if l.strip()] \
        if rc == 0 else []
    if len(got) != len(want) or any(abs(g[0] - w[0]) > 0.01 or abs(g[1] - w[1]) > 0.01 for g, w in zip(got, want)):
        problems.append("size --all gave %s, expected %s" % (got or err.strip(), want))
    sizes = page_sizes(out)
    if len(sizes) != len(want) or any(abs(s[0] - w[0]) > 0.01 or abs(s[1] - w[1]) > 0.01 for s, w in zip(sizes, want)):
        problems.append("output pages %s, expected %s" % (sizes, want))
    for k, unit in enumerate(entry["user_units"], 1):
        a = render(src, k, DPI * unit, "a")
        b = render(out, k, DPI, "b") if k <= len(sizes) else None
        if not a or not b:
            problems.append("page %d: no render" % k)
        elif a[:2] != b[:2]:
            problems.append("page %d: %dx%d rendered, input %dx%d" % (k, b[0], b[1], a[0], a[1]))
        elif a[2] != b[2]:
            diff = sum(abs(x - y) for x, y in zip(a[2], b[2])) / float(len(a[2]))
            problems.append("page %d: mean grey difference %.3f" % (k, diff))
    return problems


def check_encrypted(name):
    src = os.path.join(indir, name)
    problems = []
    for cmd in ([plenvo, "percent", src, os.path.join(tmp, "never.pdf"), "100"], [plenvo, "size", src]):
        rc, _, err = run(cmd)
        if rc == 0 or MESSAGE + src not in err:
            problems.append("%s: exit %d, %s" % (cmd[1], rc, err.strip() or "no message"))
    if os.path.exists(os.path.join(tmp, "never.pdf")):
        problems.append("an output was written")
    return problems


manifest = json.load(open(os.path.join(indir, "manifest.json")))
for name in sorted(manifest):
    entry = manifest[name]
    problems = check_render(name, entry) if entry["expect"] == "render" else check_encrypted(name)
    what = "renders like the input" if entry["expect"] == "render" else "refused as encrypted"
    if problems:
        failed += 1
        print("FAIL %s (%s): %s" % (name, entry["item"], "; ".join(problems)))
    else:
        passed += 1
        print("PASS %s (%s): %s" % (name, entry["item"], what))
print("reader-fixtures: %d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
PY
