#!/usr/bin/env python3
"""Writes the small PDFs that the cross-platform host program reads.

Usage: make_inputs.py DIR

Every file gets a correct cross-reference table, so other PDF tools read
them too. The names are the ones host.c expects; with no zlib module the
two compressed files are left out (the host then skips their calls).
"""
import os
import sys

try:
    import zlib
except ImportError:  # pragma: no cover - zlib is part of every usual build
    zlib = None


def pdf(objects, root=1, eol=b"\n"):
    """A whole file from {number: body bytes}, with xref table and trailer."""
    out = bytearray(b"%PDF-1.4" + eol + b"%\xe2\xe3\xcf\xd3" + eol)
    offsets = {}
    for num in sorted(objects):
        offsets[num] = len(out)
        out += b"%d 0 obj" % num + eol + objects[num] + eol + b"endobj" + eol
    size = max(objects) + 1
    xref = len(out)
    out += b"xref" + eol + b"0 %d" % size + eol + b"0000000000 65535 f\r\n"
    for num in range(1, size):
        if num in offsets:
            out += b"%010d 00000 n\r\n" % offsets[num]
        else:
            out += b"0000000000 65535 f\r\n"
    out += b"trailer" + eol + b"<< /Size %d /Root %d 0 R >>" % (size, root) + eol
    out += b"startxref" + eol + b"%d" % xref + eol + b"%%EOF" + eol
    return bytes(out)


def stream(data, extra=b""):
    return b"<< /Length %d%s >>\nstream\n" % (len(data), extra) + data + b"\nendstream"


def content_for(label):
    return (b"q 0.2 0.4 0.8 rg 36 36 200 100 re f Q\n"
            b"BT /F1 24 Tf 72 700 Td (" + label + b") Tj ET\n"
            b"q 1 0 0 RG 3 w 36 36 m 576 756 l S Q\n")


FONT = b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"


def one_page(page_keys, pages_keys=b"", content=None, label=b"page"):
    """Catalog 1, pages 2, page 3, content 4, font 5."""
    data = content if content is not None else content_for(label)
    return pdf({
        1: b"<< /Type /Catalog /Pages 2 0 R >>",
        2: b"<< /Type /Pages /Kids [3 0 R] /Count 1" + pages_keys + b" >>",
        3: b"<< /Type /Page /Parent 2 0 R " + page_keys +
           b" /Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>",
        4: stream(data),
        5: FONT,
    })


def two_pages():
    return pdf({
        1: b"<< /Type /Catalog /Pages 2 0 R >>",
        2: b"<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
        3: b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792]"
           b" /Resources << /Font << /F1 7 0 R >> >> /Contents 5 0 R >>",
        4: b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 842 595] /Rotate 90"
           b" /Resources << /Font << /F1 7 0 R >> >> /Contents 6 0 R >>",
        5: stream(content_for(b"first")),
        6: stream(content_for(b"second")),
        7: FONT,
    })


def flate():
    data = zlib.compress(content_for(b"compressed") * 20)
    return pdf({
        1: b"<< /Type /Catalog /Pages 2 0 R >>",
        2: b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        3: b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792]"
           b" /Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>",
        4: stream(data, b" /Filter /FlateDecode"),
        5: FONT,
    })


def object_stream():
    """Catalog, pages and page inside a compressed object stream, with an
    xref stream and no classic table."""
    members = [
        (1, b"<< /Type /Catalog /Pages 2 0 R >>"),
        (2, b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>"),
        (3, b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792]"
            b" /Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>"),
    ]
    header = b""
    body = b""
    for num, text in members:
        header += b"%d %d " % (num, len(body))
        body += text + b"\n"
    packed = zlib.compress(header + body)
    out = bytearray(b"%PDF-1.5\n%\xe2\xe3\xcf\xd3\n")
    offsets = {}

    def add(num, text):
        offsets[num] = len(out)
        out.extend(b"%d 0 obj\n" % num + text + b"\nendobj\n")

    add(4, stream(content_for(b"object stream")))
    add(5, FONT)
    add(6, b"<< /Type /ObjStm /N %d /First %d /Length %d /Filter /FlateDecode >>\nstream\n"
        % (len(members), len(header), len(packed)) + packed + b"\nendstream")
    xref = len(out)
    rows = [b"\x00" + (0).to_bytes(4, "big") + b"\xff"]
    index = {num: i for i, (num, _) in enumerate(members)}
    for num in range(1, 8):
        if num in index:
            rows.append(b"\x02" + (6).to_bytes(4, "big") + index[num].to_bytes(1, "big"))
        else:
            where = xref if num == 7 else offsets[num]
            rows.append(b"\x01" + where.to_bytes(4, "big") + b"\x00")
    data = b"".join(rows)
    out.extend(b"7 0 obj\n<< /Type /XRef /Size 8 /W [1 4 1] /Root 1 0 R /Length %d >>\nstream\n"
               % len(data) + data + b"\nendstream\nendobj\n")
    out.extend(b"startxref\n%d\n%%%%EOF\n" % xref)
    return bytes(out)


def binary_content():
    """Content whose string holds every byte value, CR LF pairs and Ctrl-Z
    included: a text-mode read or write anywhere would change it."""
    raw = bytes(range(256)) + b"\r\n\x1a\r\r\n\n"
    escaped = raw.replace(b"\\", b"\\\\").replace(b"(", b"\\(").replace(b")", b"\\)")
    data = b"BT /F1 12 Tf 72 700 Td (" + escaped + b") Tj ET\r\n" + content_for(b"binary")
    return one_page(b"/MediaBox [0 0 612 792]", content=data)


def files():
    yield "letter.pdf", one_page(b"/MediaBox [0 0 612 792]", label=b"letter")
    yield "a4.pdf", one_page(b"/MediaBox [0 0 595.28 841.89]")
    yield "a4_whole.pdf", one_page(b"/MediaBox [0 0 595 842]")
    yield "no_box.pdf", one_page(b"")
    yield "rotate90.pdf", one_page(b"/MediaBox [0 0 612 792] /Rotate 90", label=b"rotate 90")
    yield "rotate270_inherited.pdf", one_page(b"/MediaBox [0 0 612 792]", b" /Rotate 270")
    yield "rotate450.pdf", one_page(b"/MediaBox [0 0 612 792] /Rotate 450")
    yield "landscape.pdf", one_page(b"/MediaBox [0 0 842 595]")
    yield "w613.pdf", one_page(b"/MediaBox [0 0 613 792]")
    yield "w614.pdf", one_page(b"/MediaBox [0 0 614 792]")
    yield "custom600.pdf", one_page(b"/MediaBox [0 0 600 800]")
    yield "offset.pdf", one_page(b"/MediaBox [36 36 576 756]")
    yield "a2.pdf", one_page(b"/MediaBox [0 0 1190 1684]")
    yield "two_pages.pdf", two_pages()
    yield "crlf.pdf", pdf({
        1: b"<< /Type /Catalog /Pages 2 0 R >>",
        2: b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        3: b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
        4: stream(content_for(b"crlf").replace(b"\n", b"\r\n")),
    }, eol=b"\r\n")
    yield "binary.pdf", binary_content()
    yield "not_a_pdf.pdf", b"This is plain text, not a PDF.\n" * 10
    yield "empty.pdf", b""
    if zlib is not None:
        yield "flate.pdf", flate()
        yield "object_stream.pdf", object_stream()


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_inputs.py DIR")
    os.makedirs(sys.argv[1], exist_ok=True)
    for name, data in files():
        with open(os.path.join(sys.argv[1], name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
