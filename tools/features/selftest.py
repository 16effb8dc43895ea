"""The checks' own tests: the placement arithmetic against cases worked out
by hand, and the faults the reference rescaler can make, each with the
fixture and the feature in which the checks must see it."""

import pikepdf

from . import geometry as g

A4 = "fit A4"

# (media box, /Rotate, mode, rectangle, its expected bounding box). The
# page is 300 x 400; turned by 90 degrees (clockwise, as a viewer turns
# it) its left edge becomes the top edge, so (x, y) is shown at (y, 300 - x).
RECTS = [
    ([0, 0, 300, 400], 0, "percent 100", [10, 20, 30, 40], [10, 20, 30, 40]),
    ([0, 0, 300, 400], 0, "percent 50", [10, 20, 30, 40], [5, 10, 15, 20]),
    ([0, 0, 300, 400], 90, "percent 100", [10, 20, 30, 40], [20, 270, 40, 290]),
    ([0, 0, 300, 400], 180, "percent 100", [10, 20, 30, 40], [270, 360, 290, 380]),
    ([0, 0, 300, 400], 270, "percent 100", [10, 20, 30, 40], [360, 10, 380, 30]),
    ([0, 0, 300, 400], -90, "percent 100", [10, 20, 30, 40], [360, 10, 380, 30]),
    ([0, 0, 300, 400], 45, "percent 100", [10, 20, 30, 40], [10, 20, 30, 40]),
    ([50, 70, 350, 470], 0, "percent 200", [60, 80, 70, 90], [20, 20, 40, 40]),
    ([350, 470, 50, 70], 90, "percent 100", [60, 80, 70, 90], [10, 280, 20, 290]),
    # A4: s = 595.28 / 300, the page centred upright: 24.0917 below and above.
    ([0, 0, 300, 400], 0, A4, [0, 0, 300, 400], [0, 24.0917, 595.28, 817.7983]),
    # Turned, 400 x 300 shown: s = 595.28 / 400 = 1.4882, 197.715 below.
    ([0, 0, 300, 400], 90, A4, [0, 0, 10, 10], [0, 629.293, 14.882, 644.175]),
]

# (/Rotate, mode, destination after the page, the expected one).
DESTS = [
    (90, "percent 100", ["/FitH", 250], ["/FitV", 250]),
    (90, "percent 100", ["/FitV", 60], ["/FitH", 240]),
    (90, "percent 100", ["/FitBH", None], ["/FitBV", None]),
    (90, "percent 100", ["/XYZ", 30, 350, 1.5], ["/XYZ", 350, 270, 1.5]),
    (90, "percent 100", ["/XYZ", None, 200, None], ["/XYZ", 200, None, None]),
    (90, "percent 100", ["/FitR", 20, 40, 180, 220], ["/FitR", 40, 120, 220, 280]),
    (180, "percent 100", ["/FitH", 250], ["/FitH", 150]),
    (180, "percent 100", ["/FitV", 60], ["/FitV", 240]),
    (270, "percent 100", ["/FitH", 250], ["/FitV", 150]),
    (270, "percent 100", ["/FitV", 60], ["/FitH", 60]),
    (270, "percent 100", ["/XYZ", 30, 350, 0], ["/XYZ", 50, 30, 0]),
    (0, "percent 50", ["/FitBH", 120], ["/FitBH", 60]),
    (0, "percent 50", ["/Fit"], ["/Fit"]),
    (0, A4, ["/XYZ", 0, 400, None], ["/XYZ", 0, 817.7983, None]),
]

# (/Rotate, rectangle, /RD (left top right bottom), the expected new /RD
# when the inner rectangle is moved): turned by 90, the old bottom inset
# is the new left one.
INSETS = [
    (0, [100, 100, 200, 150], [1, 2, 3, 4], [1, 2, 3, 4]),
    (90, [100, 100, 200, 150], [1, 2, 3, 4], [4, 1, 2, 3]),
    (180, [100, 100, 200, 150], [1, 2, 3, 4], [3, 4, 1, 2]),
    (270, [100, 100, 200, 150], [1, 2, 3, 4], [2, 3, 4, 1]),
]

# (fault, fixture, mode, the feature that must lose an item).
FAULT_CASES = [
    ("rect", "links-r90", "percent 100", "links"),
    ("rect", "form-offset", "percent 50", "widgets"),
    ("points", "markup-r270", A4, "annotations"),
    ("widths", "freetext-offset", "percent 50", "annotations"),
    ("fith", "links-r90", "percent 100", "links"),
    ("fith", "outline-mixed", A4, "outline"),
    ("dest-page", "named-dests-plain", "percent 100", "named-dests"),
    ("look", "stamp-r90", "percent 100", "annotations"),
    ("popup", "notes-plain", "percent 100", "annotations"),
    ("page-copy", "notes-plain", "percent 100", "document"),
    ("signature", "signature-plain", "percent 100", "fields"),
    ("xfa", "xfa-plain", "percent 100", "form"),
    ("labels", "labels-plain", "percent 100", "labels"),
    ("info", "info-plain", "percent 100", "info"),
    ("layer-copy", "layers-plain", "percent 100", "layers"),
    ("outline-level", "outline-plain", "percent 100", "outline"),
]


def arithmetic():
    """Checks the geometry against the tables; returns what disagrees."""
    wrong = []
    pdf = pikepdf.new()

    def page(media, rotate):
        return pdf.make_indirect(pikepdf.Dictionary(Type=pikepdf.Name.Page, MediaBox=media, Rotate=rotate))

    for media, rotate, mode, rect, want in RECTS:
        t = g.expected_placement(page(media, rotate), g.Mode(mode))[0]
        got = g.rect_bbox(t, rect)
        if not g.close(list(got), want, 1e-3):
            wrong.append("rect %s on %s /Rotate %d, %s: %s, expected %s" % (rect, media, rotate, mode, got, want))
    for rotate, mode, tail, want in DESTS:
        p = page([0, 0, 300, 400], rotate)
        array = pikepdf.Array([p, pikepdf.Name(tail[0])] + tail[1:])
        d = g.read_dest(array, {p.objgen: 0})
        t = g.expected_placement(p, g.Mode(mode))[0]
        kind, values = g.moved_dest(t, d)
        if kind != want[0] or not g.close(values, want[1:], 1e-3):
            wrong.append("dest %s /Rotate %d, %s: %s %s, expected %s" % (tail, rotate, mode, kind, values, want))
    for rotate, rect, rd, want in INSETS:
        t = g.expected_placement(page([0, 0, 300, 400], rotate), g.Mode("percent 100"))[0]
        got = g.inset_choices(t, rect, rd)[1]
        if not g.close(got, want, 1e-6):
            wrong.append("/RD %s /Rotate %d: %s, expected %s" % (rd, rotate, got, want))
    # Destinations that cannot be carried.
    p = page([0, 0, 300, 400], 0)
    other = pdf.make_indirect(pikepdf.Dictionary(Type=pikepdf.Name.Font))
    for bad in ([other, pikepdf.Name.Fit], [p, pikepdf.Name.FitR, 1, 2], [p, pikepdf.Name.Bogus], [p],
                [p, pikepdf.Name.XYZ, pikepdf.String("x"), 1, 1]):
        if g.read_dest(pikepdf.Array(bad), {p.objgen: 0}) is not None:
            wrong.append("dest %s read as one that can be carried" % bad)
    padded = g.read_dest(pikepdf.Array([p, pikepdf.Name.XYZ, 5]), {p.objgen: 0})
    if padded is None or padded.values != [5.0, None, None] or not padded.padded:
        wrong.append("[page /XYZ 5] not read as padded with null")
    return wrong
