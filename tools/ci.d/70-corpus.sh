#!/usr/bin/env bash
# Renders like the input and keeps the document features (links, fields,
# outline ...; check-corpus --features strict): tools/check-corpus over the real PDFs of
# ../shared/corpus (skipped when absent) and over PDFs written at test time
# by Ghostscript, qpdf, mupdf and cairo (tools/make-test-inputs). Before
# that, the checker itself: its image arithmetic, and that it catches a
# program that scales wrongly, moves the page, drops its content, crashes or
# accepts an encrypted file.
#
#   tools/ci.d/70-corpus.sh BUILD_DIR      (the program is BUILD_DIR/cli/plenvo)
#
# Packages: python3 python3-pikepdf poppler-utils qpdf ghostscript mupdf-tools
set -uo pipefail
build=$(cd "${1:?usage: 70-corpus.sh BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
corpus=${PLENVO_CORPUS:-$root/../shared/corpus}
py=${PLENVO_PYTHON:-/usr/bin/python3}
[ -x "$py" ] || py=python3
plenvo="$build/cli/plenvo"
export PYTHONDONTWRITEBYTECODE=1

. "$(dirname "$0")/tally.bash" corpus

if [ ! -x "$plenvo" ]; then
    echo "no program at $plenvo"
    fail "plenvo built"
    finish
fi
for tool in pdfinfo pdftoppm qpdf; do
    command -v "$tool" >/dev/null || { echo "$tool not installed (poppler-utils, qpdf)"; fail "tools"; finish; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
check="$root/tools/check-corpus"

# --- the checker's own arithmetic
if "$py" "$check" --self-test; then pass "image arithmetic"; else fail "image arithmetic"; fi

# --- the checker catches faults: a small PDF written here, and programs
# that wrap the real one and go wrong in one way each.
mkdir -p "$tmp/small"
"$py" - "$tmp/small/two-pages.pdf" <<'PY'
import sys
# Page 1: A4 with text and boxes; page 2: Letter with /Rotate 90.
contents = [
    b"BT /F1 24 Tf 72 760 Td (Two pages written by hand) Tj ET\n"
    b"0.2 g 72 500 200 150 re f 0 g 100 120 380 300 re f 0 G 4 w 300 100 m 520 700 l S\n"
    b"BT /F1 12 Tf 72 470 Td 14 TL (A4, text and boxes.) Tj T* (Second line.) Tj ET\n",
    b"BT /F1 20 Tf 60 720 Td (Letter, turned by /Rotate 90) Tj ET\n"
    b"0.5 g 60 60 300 400 re f 0 g 400 300 100 100 re f\n",
]
objs = [b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.28 841.89] /Contents 5 0 R "
        b"/Resources << /Font << /F1 7 0 R >> >> >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Rotate 90 /Contents 6 0 R "
        b"/Resources << /Font << /F1 7 0 R >> >> >>"]
objs += [b"<< /Length %d >>\nstream\n" % len(c) + c + b"endstream" for c in contents]
objs.append(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
out = bytearray(b"%PDF-1.4\n")
offsets = []
for i, o in enumerate(objs, 1):
    offsets.append(len(out))
    out += b"%d 0 obj\n" % i + o + b"\nendobj\n"
xref = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
open(sys.argv[1], "wb").write(out)
PY
qpdf --encrypt "" owner 256 -- "$tmp/small/two-pages.pdf" "$tmp/small/locked.pdf"

cat > "$tmp/faulty-plenvo" <<'PY'
#!/usr/bin/env python3
# The real program, made wrong in the way $FAULT says.
import os, re, signal, subprocess, sys
real, fault, args = os.environ["REAL_PLENVO"], os.environ["FAULT"], sys.argv[1:]
command = args[0]
if fault == "scale" and command == "percent":
    args[-1] = "98"
if fault == "crash" and command != "size":
    os.kill(os.getpid(), signal.SIGSEGV)
if fault == "encrypted":
    # Decrypts first, so that the encrypted file is not refused.
    files = [a for a in args[1:] if a.endswith(".pdf")]
    if files and subprocess.run(["qpdf", "--is-encrypted", files[0]]).returncode == 0:
        plain = os.path.join(os.environ["FAULT_DIR"], "plain.pdf")
        subprocess.run(["qpdf", "--decrypt", files[0], plain], check=True)
        args[args.index(files[0])] = plain
if fault in ("shift", "blank") and command in ("fit", "percent"):
    out = [a for a in args if a.endswith(".pdf")][-1]
    rc = subprocess.run([real] + args).returncode
    if rc == 0 and ((fault == "shift") == (command == "fit")):
        data = open(out, "rb").read()
        if fault == "shift":   # the page drawn 40 points to the right
            data = re.sub(rb"(q \S+ 0 0 \S+ )(\S+)( \S+ cm)",
                          lambda m: m.group(1) + b"%.4f" % (float(m.group(2)) + 40) + m.group(3), data)
        else:                  # the form never drawn
            data = data.replace(b" /F0 Do Q", b" Q")
        open(out, "wb").write(data)
        # Let qpdf write a correct cross-reference table for the edited file.
        subprocess.run(["qpdf", out, out + ".fixed"], stderr=subprocess.DEVNULL)
        os.replace(out + ".fixed", out)
    sys.exit(rc)
os.execv(real, [real] + args)
PY
chmod +x "$tmp/faulty-plenvo"

# run_checker NAME STATUS LINE SUMMARY [FAULT]: check-corpus on the small
# inputs, with the program made faulty by FAULT, must exit with STATUS and
# print a line matching LINE and a summary matching SUMMARY.
run_checker() {
    local name=$1 want=$2 line=$3 summary=$4 fault=${5:-}
    local prog="$plenvo" log="$tmp/checker.log"
    [ -n "$fault" ] && prog="$tmp/faulty-plenvo"
    mkdir -p "$tmp/fault"
    REAL_PLENVO="$plenvo" FAULT="$fault" FAULT_DIR="$tmp/fault" \
        "$py" "$check" -q --plenvo "$prog" "$tmp/small" >"$log" 2>&1
    local rc=$?
    if [ "$rc" -eq "$want" ] && grep -Eq "$line" "$log" && grep -Eq "$summary" "$log"; then
        pass "checker: $name"
    else
        cat "$log"
        fail "checker: $name (exit $rc, expected $want, '$line' and '$summary')"
    fi
}
run_checker "correct program" 0 '^checked in' \
    '^files 2, pages 2, identical 2, close 0, different 0, failed 0, qpdf errors 0 \(encrypted 1,'
run_checker "wrong scale" 1 'two-pages.pdf: .*percent 100: new page' 'different 2, failed 0' scale
run_checker "moved page" 1 'two-pages.pdf: .*fit A4: mean grey difference' 'different 2, failed 0' shift
run_checker "no content" 1 'two-pages.pdf: .*percent 100: mean grey difference' 'different 2, failed 0' blank
run_checker "crash" 1 '^FAIL .*two-pages.pdf: .*crashed \(signal 11\)' 'failed 2,' crash
run_checker "encrypted accepted" 1 '^FAIL .*locked.pdf: encrypted, plenvo size succeeded' 'failed 1,' encrypted

# --- the real PDFs
if [ -d "$corpus" ]; then
    echo "== check-corpus $corpus"
    if "$py" "$check" -q --plenvo "$plenvo" "$corpus"; then
        pass "corpus renders like the input, features kept"
    else
        fail "corpus renders like the input, features kept"
    fi
else
    echo "corpus not found at $corpus: skipped"
fi

# --- PDFs from other producers, made now
echo "== make-test-inputs"
if "$py" "$root/tools/make-test-inputs" --corpus "$corpus" "$tmp/generated"; then
    echo "== check-corpus (generated inputs)"
    if "$py" "$check" -q --plenvo "$plenvo" "$tmp/generated"; then
        pass "generated inputs render like the input, features kept"
    else
        fail "generated inputs render like the input, features kept"
    fi
else
    fail "make-test-inputs"
fi
finish
