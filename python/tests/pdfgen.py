"""A tiny PDF writer for the tests: pages with given boxes and rotations."""


def make_pdf(pages, inherited_rotate=None):
    """Bytes of a PDF with one page per entry of `pages`.

    Each entry is a media box string ("0 0 612 792") or a (box, rotate) pair.
    `inherited_rotate` puts a /Rotate on the page-tree node instead.
    """
    objs = {1: b"<< /Type /Catalog /Pages 2 0 R >>"}
    kids = []
    num = 3
    for entry in pages:
        box, rotate = (entry, None) if isinstance(entry, str) else entry
        page, content = num, num + 1
        num += 2
        kids.append(page)
        data = b"0 0 1 rg 20 20 200 100 re f"
        objs[content] = b"<< /Length %d >>\nstream\n%s\nendstream" % (len(data), data)
        extra = b" /Rotate %d" % rotate if rotate is not None else b""
        objs[page] = (b"<< /Type /Page /Parent 2 0 R /MediaBox [" + box.encode("ascii") + b"]"
                      + extra + b" /Contents %d 0 R >>" % content)
    node = b"<< /Type /Pages /Kids [" + b" ".join(b"%d 0 R" % k for k in kids) + b"]"
    node += b" /Count %d" % len(kids)
    if inherited_rotate is not None:
        node += b" /Rotate %d" % inherited_rotate
    objs[2] = node + b" >>"

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


def write_pdf(path, pages, inherited_rotate=None):
    with open(path, "wb") as f:
        f.write(make_pdf(pages, inherited_rotate))
    return path
