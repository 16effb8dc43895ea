"""Where an input page lands on its new page, computed from the input alone
(page box, /Rotate, mode), and read back from the output (the form's /Matrix
followed by the page's `cm`); how points, rectangles, lengths and
destinations move with it."""

import decimal
import math
import re

import pikepdf

# The papers of `plenvo fit --paper NAME`, in points.
PAPERS = {"A4": (595.28, 841.89), "Letter": (612.0, 792.0), "A3": (841.89, 1190.55),
          "A5": (419.53, 595.28), "Legal": (612.0, 1008.0)}

TOLERANCE = 0.01  # points


class Affine:
    """x' = a x + c y + e, y' = b x + d y + f (a PDF matrix [a b c d e f])."""

    def __init__(self, a, b, c, d, e, f):
        self.m = (float(a), float(b), float(c), float(d), float(e), float(f))

    def apply(self, x, y):
        a, b, c, d, e, f = self.m
        return a * x + c * y + e, b * x + d * y + f

    def then(self, other):
        """This transformation followed by other."""
        a, b, c, d, e, f = self.m
        A, B, C, D, E, F = other.m
        return Affine(a * A + b * C, a * B + b * D, c * A + d * C, c * B + d * D,
                      e * A + f * C + E, e * B + f * D + F)

    def scale(self):
        a, b, c, d = self.m[:4]
        return math.sqrt(abs(a * d - b * c))

    def turned(self):
        """Whether x and y trade places (a page turned by 90 or 270 degrees)."""
        a, b, c, d = self.m[:4]
        return abs(a) + abs(d) < abs(b) + abs(c)

    def linear_unit(self):
        """The linear part divided by the scale: a quarter-turn matrix."""
        s = self.scale() or 1.0
        return tuple(v / s for v in self.m[:4])

    def close_to(self, other, tol=1e-3):
        return all(abs(p - q) <= tol * max(1.0, abs(q)) for p, q in zip(self.m, other.m))

    def __repr__(self):
        return "[%s]" % " ".join("%.4f" % v for v in self.m)


class Mode:
    """A scaling call: percent P (factor P / 100) or fit to a paper W x H."""

    def __init__(self, text):
        kind, _, arg = text.partition(" ")
        self.text = text
        if kind == "percent":
            self.factor = float(arg) / 100.0
            self.paper = None
        elif kind == "fit":
            if arg in PAPERS:
                self.paper = PAPERS[arg]
            else:
                w, _, h = arg.partition("x")
                self.paper = (float(w), float(h))
            self.factor = None
        else:
            raise ValueError("mode is 'percent P' or 'fit PAPER' (got %r)" % text)

    def cli_args(self, src, dst):
        """The command line of plenvo's CLI for this mode."""
        if self.paper is None:
            return ["percent", src, dst, "%g" % (self.factor * 100.0)]
        name = [n for n, size in PAPERS.items() if size == self.paper]
        size = ["--paper", name[0]] if name else ["--size", "%g" % self.paper[0], "%g" % self.paper[1]]
        return ["fit"] + size + [src, dst]


def inherited(page, key):
    """A page attribute, from the page or the nearest page-tree ancestor."""
    node, seen = page, set()
    while isinstance(node, pikepdf.Dictionary) and node.objgen not in seen:
        if node.objgen != (0, 0):
            seen.add(node.objgen)
        if key in node:
            return node[key]
        node = node.get("/Parent")
    return None


def box(value):
    """(llx, lly, urx, ury) of a rectangle given with its corners in any
    order, or None."""
    try:
        x0, y0, x1, y1 = [float(v) for v in value]
    except (TypeError, ValueError):
        return None
    return min(x0, x1), min(y0, y1), max(x0, x1), max(y0, y1)


def page_box(page):
    """The page box: crop box clipped to the media box."""
    media = box(inherited(page, "/MediaBox"))
    if media is None:
        return None
    crop = box(inherited(page, "/CropBox")) or media
    clipped = (max(crop[0], media[0]), max(crop[1], media[1]), min(crop[2], media[2]), min(crop[3], media[3]))
    return clipped if clipped[0] < clipped[2] and clipped[1] < clipped[3] else media


def rotation(page):
    """The quarter turn carried out: 90, 180, 270, or 0 for anything else."""
    value = inherited(page, "/Rotate")
    try:
        r = int(value) % 360 if value is not None else 0
    except (TypeError, ValueError):
        return 0
    return r if r in (90, 180, 270) else 0


def shown(page):
    """(transformation from page space to the page as a viewer shows it,
    lower-left corner at the origin; its width, height), or None without a
    page box."""
    b = page_box(page)
    if b is None:
        return None
    llx, lly, urx, ury = b
    r = rotation(page)
    t = {0: Affine(1, 0, 0, 1, -llx, -lly), 90: Affine(0, -1, 1, 0, -lly, urx),
         180: Affine(-1, 0, 0, -1, urx, ury), 270: Affine(0, 1, -1, 0, ury, -llx)}[r]
    w, h = urx - llx, ury - lly
    return (t, h, w) if r in (90, 270) else (t, w, h)


def scaling(mode, w, h):
    """(the scale and shift that place a shown page of w x h, new page
    width, height)."""
    if mode.paper is None:
        s = mode.factor
        return Affine(s, 0, 0, s, 0, 0), w * s, h * s
    pw, ph = mode.paper
    s = min(pw / w, ph / h)
    return Affine(s, 0, 0, s, (pw - w * s) / 2, (ph - h * s) / 2), pw, ph


def expected_placement(page, mode):
    """(transformation from input page space to new page space, new page
    width, height), computed from the input page; None without a page box."""
    view = shown(page)
    if view is None:
        return None
    t, w, h = view
    place, pw, ph = scaling(mode, w, h)
    return t.then(place), pw, ph


CM = re.compile(rb"([-+0-9.]+)\s+([-+0-9.]+)\s+([-+0-9.]+)\s+([-+0-9.]+)\s+([-+0-9.]+)\s+([-+0-9.]+)\s+cm")


def written_placement(out_page):
    """The transformation the new page draws its form with (the form's
    /Matrix, then the content stream's first `cm`), or None."""
    try:
        form = out_page.Resources.XObject["/F0"]
        content = out_page.Contents.read_bytes()
    except (AttributeError, KeyError, TypeError, pikepdf.PdfError):
        return None
    m = CM.search(content)
    if not m:
        return None
    matrix = form.get("/Matrix")
    first = Affine(*[float(v) for v in matrix]) if matrix is not None and len(matrix) == 6 else Affine(1, 0, 0, 1, 0, 0)
    return first.then(Affine(*[float(v) for v in m.groups()]))


# ----------------------------------------------------------------------------
# Geometry of annotations


def rect_bbox(t, r):
    """The bounding box of the four corners of rectangle r moved by t."""
    pts = [t.apply(x, y) for x, y in ((r[0], r[1]), (r[2], r[1]), (r[0], r[3]), (r[2], r[3]))]
    xs, ys = [p[0] for p in pts], [p[1] for p in pts]
    return min(xs), min(ys), max(xs), max(ys)


NO_ZOOM, NO_ROTATE = 8, 16  # annotation flags


def rect_choices(t, r, flags):
    """The acceptable new /Rect of an annotation with rectangle r and flags
    /F: the bounding box of its moved corners; for NoRotate, the rectangle
    kept upright and pinned at its moved upper-left corner, as viewers draw
    it on a turned page (the last choice, the one a rescaler should make);
    for NoZoom, the moved rectangle at its own size, pinned at the moved
    upper-left corner or at the upper-left of the moved rectangle (which
    differ on a turned page)."""
    choices = [rect_bbox(t, r)]
    s = t.scale() or 1.0
    k = 1.0 if flags & NO_ZOOM else s
    w, h = r[2] - r[0], r[3] - r[1]
    if flags & NO_ROTATE:
        x, y = t.apply(r[0], r[3])
        choices.append((x, y - h * k, x + w * k, y))
    elif flags & NO_ZOOM:
        x0, _, _, y1 = choices[0]
        tw, th = (h, w) if t.turned() else (w, h)
        choices.append((x0, y1 - th, x0 + tw, y1))
        choices.append(rect_bbox(t, (r[0], r[3] - h / s, r[0] + w / s, r[3])))
    return choices


def points(t, flat):
    """A flat list x1 y1 x2 y2 ... moved by t (a trailing odd number stays out)."""
    out = []
    for i in range(0, len(flat) - 1, 2):
        out.extend(t.apply(flat[i], flat[i + 1]))
    return out


def inset_choices(t, rect, rd):
    """The acceptable new /RD of rectangle rect with insets rd (left, top,
    right, bottom): each inset scaled in place, or the insets of the moved
    inner rectangle (which trade sides on a turned page)."""
    s = t.scale()
    inner = (rect[0] + rd[0], rect[1] + rd[3], rect[2] - rd[2], rect[3] - rd[1])
    R, I = rect_bbox(t, rect), rect_bbox(t, inner)
    moved = [I[0] - R[0], R[3] - I[3], R[2] - I[2], I[1] - R[1]]
    return [[v * s for v in rd], moved]


def close(a, b, tol=TOLERANCE):
    """Whether two lists of numbers (None for null) agree within tol."""
    if len(a) != len(b):
        return False
    for p, q in zip(a, b):
        if (p is None) != (q is None):
            return False
        if p is not None and abs(p - q) > tol:
            return False
    return True


def quarter_pattern(m):
    """Signs (-1, 0, 1) of a 2 x 2 linear part, entries below 1e-6 of the
    largest counted as 0."""
    big = max(abs(v) for v in m) or 1.0
    return tuple(0 if abs(v) <= 1e-6 * big else (1 if v > 0 else -1) for v in m)


def times(m, n):
    """Product of two linear parts (a b c d), m first."""
    a, b, c, d = m
    A, B, C, D = n
    return a * A + b * C, a * B + b * D, c * A + d * C, c * B + d * D


# ----------------------------------------------------------------------------
# Destinations

# Kind: (what each value is: "x", "y" or "zoom", how many must be numbers).
KINDS = {"/XYZ": ("x", "y", "zoom"), "/Fit": (), "/FitB": (), "/FitH": ("y",), "/FitBH": ("y",),
         "/FitV": ("x",), "/FitBV": ("x",), "/FitR": ("x", "y", "x", "y")}
TURNED = {"/FitH": "/FitV", "/FitV": "/FitH", "/FitBH": "/FitBV", "/FitBV": "/FitBH"}


class Dest:
    """An explicit destination read from the input: page index, kind and
    values (floats or None), and whether it had too few values (padded
    with null)."""

    def __init__(self, page, kind, values, padded):
        self.page, self.kind, self.values, self.padded = page, kind, values, padded


def number_or_none(v):
    """A destination's value: a float, None for null; ValueError otherwise."""
    if v is None:
        return None
    if isinstance(v, bool) or not isinstance(v, (int, float, decimal.Decimal)):
        raise ValueError
    return float(v)


def read_dest(array, page_index):
    """The Dest of an explicit destination array, or None when it cannot be
    carried (its first element is no page of the tree, the kind is unknown,
    a /FitR lacks a number, a value is not a number). page_index maps input
    page objgens to indexes."""
    if not isinstance(array, pikepdf.Array) or len(array) < 2:
        return None
    first = array[0]
    if not isinstance(first, pikepdf.Dictionary) or first.objgen not in page_index:
        return None
    kind = str(array[1]) if isinstance(array[1], pikepdf.Name) else None
    if kind not in KINDS:
        return None
    roles = KINDS[kind]
    given = list(array)[2:2 + len(roles)]
    try:
        values = [number_or_none(v) for v in given]
    except ValueError:
        return None
    padded = len(values) < len(roles)
    if kind == "/FitR" and (padded or None in values):
        return None
    values += [None] * (len(roles) - len(values))
    return Dest(page_index[first.objgen], kind, values, padded)


def moved_dest(t, d):
    """(kind, values) of destination d carried by the placement t of its page."""
    roles = KINDS[d.kind]
    if d.kind == "/FitR":
        return d.kind, list(rect_bbox(t, d.values))
    turned = t.turned()
    kind = TURNED.get(d.kind, d.kind) if turned else d.kind
    if d.kind == "/XYZ":
        x, y, zoom = d.values
        left = top = None
        if not turned:
            left = None if x is None else t.apply(x, 0)[0]
            top = None if y is None else t.apply(0, y)[1]
        else:
            left = None if y is None else t.apply(0, y)[0]
            top = None if x is None else t.apply(x, 0)[1]
        return kind, [left, top, zoom]
    out = []
    for role, v in zip(roles, d.values):
        if v is None:
            out.append(None)
            continue
        X, Y = t.apply(v, 0) if role == "x" else t.apply(0, v)
        # A value along one axis lands on the axis that axis now runs along.
        out.append(X if (role == "x") != turned else Y)
    return kind, out
