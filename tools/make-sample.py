#!/usr/bin/env python3
"""Writes the bundled sample: a four-page PDF with text, vector graphics, a
Flate-compressed content stream, an inherited /Resources and a rotated page.

Usage: make-sample.py OUT.pdf
"""
import sys
import zlib


def page_content(n, title):
    lines = [
        "q 0.9 0.9 1 rg 36 36 540 720 re f Q",
        "q 0 0 0.6 RG 4 w 36 36 540 720 re S Q",
        "BT /F1 36 Tf 72 680 Td (%s) Tj ET" % title,
        "BT /F1 14 Tf 72 640 Td (Page %d of the plenvo sample.) Tj ET" % n,
    ]
    for i in range(12):
        y = 600 - i * 40
        lines.append("q %.2f 0.3 0.2 rg %d %d %d 24 re f Q" % (i / 12.0, 72, y, 40 + 30 * i))
    lines.append("q 1 0 0 RG 2 w 72 100 m 540 100 l S Q")
    return ("\n".join(lines) + "\n").encode("ascii")


def build():
    objs = {}
    objs[1] = b"<< /Type /Catalog /Pages 2 0 R >>"
    objs[3] = b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"
    kids = []
    pages = [
        ("Letter portrait", b"/MediaBox [0 0 612 792]", False),
        ("Rotated 90", b"/MediaBox [0 0 612 792] /Rotate 90", False),
        ("Crop box", b"/MediaBox [0 0 612 792] /CropBox [36 36 576 756]", True),
        ("Compressed", b"/MediaBox [0 0 612 792]", True),
    ]
    num = 4
    for i, (title, extra, compress) in enumerate(pages, start=1):
        page, content = num, num + 1
        num += 2
        kids.append(page)
        data = page_content(i, title)
        if compress:
            data = zlib.compress(data)
            cdict = b"<< /Length %d /Filter /FlateDecode >>" % len(data)
        else:
            cdict = b"<< /Length %d >>" % len(data)
        objs[content] = cdict + b"\nstream\n" + data + b"\nendstream"
        objs[page] = b"<< /Type /Page /Parent 2 0 R " + extra + b" /Contents %d 0 R >>" % content
    objs[2] = (b"<< /Type /Pages /Kids [" + b" ".join(b"%d 0 R" % k for k in kids) +
               b"] /Count %d /Resources << /Font << /F1 3 0 R >> >> >>" % len(kids))
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = {}
    for n in sorted(objs):
        offsets[n] = len(out)
        out += b"%d 0 obj\n" % n + objs[n] + b"\nendobj\n"
    xref = len(out)
    size = max(objs) + 1
    out += b"xref\n0 %d\n0000000000 65535 f \n" % size
    for n in range(1, size):
        out += b"%010d 00000 n \n" % offsets[n]
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (size, xref)
    return bytes(out)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make-sample.py OUT.pdf")
    with open(sys.argv[1], "wb") as f:
        f.write(build())
