"""A rescaler that exists only to test the checks: it rescales a PDF in
place with pikepdf (each page's content becomes the form /F0, drawn with the
placement; annotations, destinations and the rest are moved with it and the
page objects stay), so that the checks can be shown to accept a correct
output, and to reject one that does a single thing wrong (FAULTS).

It reads geometry through geometry.py like the checks do: what it proves is
that the checks see every feature, pair every item and judge identity and
structure right. The arithmetic itself is proved by the table of
hand-computed cases in selftest.py and by the renders."""

import pikepdf

from . import check as fc
from . import geometry as g
from . import walks as w

FAULTS = {
    "rect": "annotation rectangles left where they were",
    "points": "quadrilaterals, ink strokes, vertices and lines left where they were",
    "widths": "border widths not scaled",
    "fith": "/FitH and /FitV kept as they were on turned pages",
    "dest-page": "destinations point at the next page",
    "look": "appearances not turned with their page",
    "popup": "popups lose their /Parent",
    "page-copy": "the first annotation's /P names a copy of its page",
    "signature": "signature values kept",
    "xfa": "the XFA form kept",
    "labels": "page labels dropped",
    "info": "the /Info dictionary dropped",
    "layer-copy": "the page content's layers are copies of the listed ones",
    "outline-level": "outline items below the first level moved up one level",
}


class Rescale:
    def __init__(self, pdf, mode, fault):
        self.pdf, self.mode, self.fault = pdf, mode, fault
        self.pages = [p.obj for p in pdf.pages]
        self.index = w.page_index(pdf)
        self.place = [g.expected_placement(p, mode)[0] for p in self.pages]
        self.rotation = [g.rotation(p) for p in self.pages]
        self.done = set()  # indirect objects already moved

    def once(self, obj):
        """Whether obj is to be moved now (an indirect one only once)."""
        if obj.objgen == (0, 0):
            return True
        if obj.objgen in self.done:
            return False
        self.done.add(obj.objgen)
        return True

    # --- destinations and actions

    def dest(self, value):
        """The moved destination value, or None when it cannot be carried."""
        if isinstance(value, (pikepdf.String, pikepdf.Name)):
            return value
        if isinstance(value, pikepdf.Dictionary):
            if self.once(value):
                moved = self.dest(value.get("/D"))
                if moved is None:
                    return None
                value.D = moved
            return value
        d = g.read_dest(value, self.index)
        if d is None:
            return None
        t = self.place[d.page]
        kind, values = g.moved_dest(t, d)
        if self.fault == "fith" and t.turned() and d.kind in g.TURNED:
            kind = d.kind
        page = self.pages[(d.page + 1) % len(self.pages) if self.fault == "dest-page" else d.page]
        return pikepdf.Array([page, pikepdf.Name(kind)] + values)

    def set_dest(self, holder, key):
        if key in holder:
            moved = self.dest(holder[key])
            if moved is None:
                del holder[key]
            else:
                holder[key] = moved

    def action(self, first):
        for a in w.actions(first).items:
            if self.once(a) and w.name(a.get("/S")) == "/GoTo":
                self.set_dest(a, "/D")

    def targets(self, holder):
        self.set_dest(holder, "/Dest")
        for key in ("/A", "/PA"):
            if isinstance(holder.get(key), pikepdf.Dictionary):
                self.action(holder[key])
            elif key in holder:
                del holder[key]
        if isinstance(holder.get("/AA"), pikepdf.Dictionary):
            for _, a in holder.AA.items():
                self.action(a)

    # --- annotations

    def annotation(self, k, a):
        t = self.place[k]
        s = t.scale()
        rect = g.box(a.get("/Rect"))
        flags = int(a.get("/F", 0)) if fc.number(a.get("/F")) else 0
        if rect and self.fault != "rect":
            a.Rect = pikepdf.Array(g.rect_choices(t, rect, flags)[-1])
        if self.fault != "points":
            for key in ("/QuadPoints", "/Vertices", "/L", "/CL"):
                flat = fc.numbers(a.get(key))
                if flat is not None:
                    a[key] = pikepdf.Array(g.points(t, flat))
            if isinstance(a.get("/InkList"), pikepdf.Array):
                a.InkList = pikepdf.Array([pikepdf.Array(g.points(t, fc.numbers(x) or [])) for x in a.InkList])
        rd = fc.numbers(a.get("/RD"))
        if rd and len(rd) == 4 and rect:
            a.RD = pikepdf.Array(g.inset_choices(t, rect, rd)[1])
        if self.fault != "widths":
            border = fc.numbers(a.get("/Border"))
            if border and len(border) >= 3:
                a.Border = pikepdf.Array(border[:2] + [border[2] * s] + list(a.Border)[3:])
            if isinstance(a.get("/BS"), pikepdf.Dictionary) and fc.number(a.BS.get("/W")):
                a.BS.W = float(a.BS.W) * s
        if self.fault != "look" and not flags & g.NO_ROTATE:
            self.turn_looks(a, t.linear_unit())
            if w.name(a.get("/Subtype")) == "/Widget" and self.rotation[k]:
                # Appearances that viewers make anew (/NeedAppearances)
                # turn by /MK /R, counterclockwise.
                mk = a.get("/MK") if isinstance(a.get("/MK"), pikepdf.Dictionary) else pikepdf.Dictionary()
                old = int(mk.get("/R", 0)) if fc.number(mk.get("/R")) else 0
                mk.R = (old - self.rotation[k]) % 360
                a.MK = mk
        if self.fault == "popup" and w.name(a.get("/Subtype")) == "/Popup":
            del a["/Parent"]
        self.targets(a)

    def turn_looks(self, a, turn):
        ap = a.get("/AP")
        if not isinstance(ap, pikepdf.Dictionary):
            return
        looks = []
        for which in ("/N", "/R", "/D"):
            v = ap.get(which)
            looks += [v] if isinstance(v, pikepdf.Stream) else \
                [x for _, x in v.items() if isinstance(x, pikepdf.Stream)] if isinstance(v, pikepdf.Dictionary) else []
        for look in looks:
            if self.once(look):
                m = fc.numbers(look.get("/Matrix")) or [1, 0, 0, 1, 0, 0]
                look.Matrix = pikepdf.Array(list(g.times(m[:4], turn)) + [0, 0])

    # --- the pages

    def page(self, k, page):
        t, wd, ht = g.shown(page)
        place, pw, ph = g.scaling(self.mode, wd, ht)
        form = self.pdf.make_stream(fc.page_content(page) or b"")
        form.Type, form.Subtype = pikepdf.Name.XObject, pikepdf.Name.Form
        form.BBox = pikepdf.Array(g.page_box(page))
        form.Matrix = pikepdf.Array(t.m)
        resources = g.inherited(page, "/Resources")
        if isinstance(resources, pikepdf.Dictionary):
            form.Resources = resources
            props = resources.get("/Properties")
            if self.fault == "layer-copy" and isinstance(props, pikepdf.Dictionary):
                for tag, ocg in list(props.items()):
                    props[tag] = self.pdf.make_indirect(pikepdf.Dictionary(Type=pikepdf.Name.OCG, Name=ocg.get("/Name")))
        page.Resources = pikepdf.Dictionary(XObject=pikepdf.Dictionary(F0=form))
        a, _, _, d, e, f = place.m
        page.Contents = self.pdf.make_stream(b"q %.6f 0 0 %.6f %.6f %.6f cm /F0 Do Q\n" % (a, d, e, f))
        page.MediaBox = pikepdf.Array([0, 0, pw, ph])
        for key in ("/CropBox", "/BleedBox", "/TrimBox", "/ArtBox"):
            if key in page:
                del page[key]
        page.Rotate = 0
        annots = page.get("/Annots")
        if annots is not None:
            page.Annots = pikepdf.Array(w.annotations(page))


def flatten(pdf, holder, key, leaf_key, move):
    """Replaces a name or number tree by one node holding every entry, each
    value passed through move (None drops it)."""
    walk = w.tree_entries(holder.get(key), leaf_key)
    pairs = []
    for k, v in walk.items:
        v = move(v)
        if v is not None:
            pairs += [k, v]
    if key in holder:
        holder[key] = pdf.make_indirect(pikepdf.Dictionary({leaf_key: pikepdf.Array(pairs)}))


def relink_outline(pdf, fault):
    """Links the outline's items as the walk found them (loops broken)."""
    walk = w.outline(pdf)
    root = pdf.Root.get("/Outlines")
    if not isinstance(root, pikepdf.Dictionary):
        if "/Outlines" in pdf.Root:
            del pdf.Root["/Outlines"]
        return
    children = {}
    parents = {root.objgen: root}
    for level, item, parent in walk.items:
        if fault == "outline-level" and level > 1:
            parent = root
        children.setdefault(parent.objgen, []).append(item)
        parents[item.objgen] = item
    for key, node in parents.items():
        kids = children.get(key, [])
        for k in ("/First", "/Last"):
            if k in node:
                del node[k]
        if kids:
            node.First, node.Last = kids[0], kids[-1]
        for i, kid in enumerate(kids):
            kid.Parent = node
            for k in ("/Prev", "/Next"):
                if k in kid:
                    del kid[k]
            if i:
                kid.Prev = kids[i - 1]
            if i + 1 < len(kids):
                kid.Next = kids[i + 1]


def rescale(src, dst, mode, fault=None):
    """Writes dst: src rescaled in mode, with one fault (a FAULTS key) or none."""
    with pikepdf.open(src) as pdf:
        r = Rescale(pdf, mode, fault)
        for k, page in enumerate(r.pages):
            for a in w.annotations(page):
                r.annotation(k, a)
            if fault == "page-copy" and w.annotations(page):
                w.annotations(page)[0].P = pdf.make_indirect(pikepdf.Dictionary(Type=pikepdf.Name.Page))
        for _, item, _ in w.outline(pdf).items:
            r.targets(item)
        relink_outline(pdf, fault)
        root = pdf.Root
        names = root.get("/Names")
        if isinstance(names, pikepdf.Dictionary):
            flatten(pdf, names, "/Dests", "/Names", r.dest)
            flatten(pdf, names, "/EmbeddedFiles", "/Names", lambda v: v)
        if isinstance(root.get("/Dests"), pikepdf.Dictionary):
            for key in list(root.Dests.keys()):
                r.set_dest(root.Dests, key)
        if isinstance(root.get("/OpenAction"), pikepdf.Dictionary):
            r.action(root.OpenAction)
        else:
            r.set_dest(root, "/OpenAction")
        if isinstance(root.get("/AA"), pikepdf.Dictionary):
            r.targets(root)
        flatten(pdf, root, "/PageLabels", "/Nums", lambda v: v)
        if fault == "labels" and "/PageLabels" in root:
            del root["/PageLabels"]
        form = root.get("/AcroForm")
        if isinstance(form, pikepdf.Dictionary):
            if fault != "signature":
                for f in w.fields(form).items:
                    if w.name(f.attrs.get("/FT")) == "/Sig" and "/V" in f.node:
                        del f.node["/V"]
            if fault != "xfa" and "/XFA" in form:
                del form["/XFA"]
        for key in fc.CATALOG_DROPPED:
            if key in root:
                del root[key]
        if fault == "info" and "/Info" in pdf.trailer:
            del pdf.trailer["/Info"]
        for k, page in enumerate(r.pages):
            r.page(k, page)
        pdf.save(dst, fix_metadata_version=False)
