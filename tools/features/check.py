"""Compares a rescaled output with its input, feature by feature: every
expectation is computed from the input (and the mode) here, never taken from
the program that wrote the output.

    report = check_pair(input_pdf, output_pdf, Mode("fit A4"))

The report counts, per feature, the items of the input and those the output
keeps correctly (an item with any problem is not kept), and lists the
problems. What the input holds but cannot be carried (an /Annots entry that
is not a dictionary, a destination on no page of the tree, a loop) is
expected to be dropped or null in the output, and everything else kept.
"""

import decimal

import pikepdf

from . import geometry as g
from . import walks as w

# Features, in the order reports list them.
FEATURES = ("pages", "links", "annotations", "widgets", "fields", "form", "outline", "named-dests",
            "labels", "info", "xmp", "layers", "attachments", "catalog", "document")

PROBLEMS_PER_ITEM = 4
DEPTH = 40  # nesting followed by the generic comparison

# Annotation entries that the generic comparison leaves to their own check.
ANNOT_OWN_CHECK = {"/Rect", "/QuadPoints", "/InkList", "/Vertices", "/L", "/CL", "/RD", "/Border", "/BS",
                   "/AP", "/P", "/Popup", "/Parent", "/IRT", "/Dest", "/A", "/PA", "/AA", "/Kids", "/OC",
                   "/V", "/StructParent", "/MK"}
# Catalog entries that are carried, and those that must not be.
CATALOG_KEPT = ("/PageMode", "/PageLayout", "/ViewerPreferences", "/Lang", "/URI", "/OutputIntents")
CATALOG_DROPPED = ("/StructTreeRoot", "/MarkInfo", "/Perms")



class Report:
    """Counts of items in and kept per feature, and the problems found."""

    def __init__(self):
        self.counts = {}
        self.problems = []

    def item(self, feature, problems):
        c = self.counts.setdefault(feature, [0, 0])
        c[0] += 1
        if not problems:
            c[1] += 1
        self.problems.extend((feature, p) for p in problems[:PROBLEMS_PER_ITEM])
        if len(problems) > PROBLEMS_PER_ITEM:
            self.problems.append((feature, "... and %d more" % (len(problems) - PROBLEMS_PER_ITEM)))

    def lost(self):
        """{feature: (in, kept)} of the features that lost items."""
        return {f: tuple(c) for f, c in self.counts.items() if c[1] < c[0]}


class Context:
    """The two documents and what the checks share: page indexes, the
    placements of the pages (the one computed from the input first, then
    the written one when it differs), and which output annotation is the
    copy of which input annotation."""

    def __init__(self, src, out, mode):
        self.src, self.out, self.mode = src, out, mode
        self.in_index = w.page_index(src)
        self.out_pages = [p.obj for p in out.pages]
        self.out_index = w.page_index(out)
        self.placements = []
        for k, page in enumerate(src.pages):
            want = g.expected_placement(page.obj, mode)
            got = g.written_placement(self.out_pages[k]) if k < len(self.out_pages) else None
            cands = [want[0]] if want else []
            if got is not None and not (cands and cands[0].close_to(got, 1e-9)):
                cands.append(got)
            self.placements.append(cands)
        self.annot_copy = {}   # objgen of an input annotation: its output copy
        self.annot_page = {}   # objgen of an input annotation: its page index

    def new_page(self, old):
        """The output page that stands for input page dictionary old, or None."""
        k = self.in_index.get(old.objgen)
        return self.out_pages[k] if k is not None and k < len(self.out_pages) else None


def describe(v):
    if v is None:
        return "null"
    if isinstance(v, pikepdf.Object):
        if v.is_indirect:
            return "object %d" % v.objgen[0]
        try:
            return v.unparse().decode("latin-1")[:60]
        except (AttributeError, pikepdf.PdfError):
            return type(v).__name__
    return repr(v)[:60]


def number(v):
    return not isinstance(v, bool) and isinstance(v, (int, float, decimal.Decimal))


def numbers(v):
    """A list of floats from an array of numbers, or None."""
    if not isinstance(v, pikepdf.Array) or not all(number(x) for x in v):
        return None
    return [float(x) for x in v]


def stream_data(s):
    try:
        return s.read_bytes()
    except pikepdf.PdfError:
        return s.read_raw_bytes()


def is_page_like(d):
    return isinstance(d, pikepdf.Dictionary) and w.name(d.get("/Type")) in ("/Page", "/Pages")


# ----------------------------------------------------------------------------
# The generic comparison


def same(ctx, a, b, path, problems, skip=(), depth=0, seen=None):
    """Appends to problems where b (output) differs from a (input): numbers
    within 1e-4, strings, names and arrays equal, every entry of a dictionary
    present (extra output entries are allowed), streams by decoded data. A
    reference to an input page must be one to its new page; one to a page
    object outside the tree must be null. An input null may be absent."""
    if len(problems) >= PROBLEMS_PER_ITEM or depth > DEPTH:
        return
    seen = set() if seen is None else seen
    if a is None:
        if b is not None:
            problems.append("%s: %s in the output, null in the input" % (path, describe(b)))
        return
    if isinstance(a, pikepdf.Dictionary) and a.objgen in ctx.in_index:
        want = ctx.new_page(a)
        if not (isinstance(b, pikepdf.Dictionary) and want is not None and b.objgen == want.objgen):
            problems.append("%s: %s, expected new page %d" % (path, describe(b), ctx.in_index[a.objgen] + 1))
        return
    if is_page_like(a):
        if b is not None:
            problems.append("%s: %s, expected null (a page object outside the tree)" % (path, describe(b)))
        return
    if isinstance(a, pikepdf.Object) and isinstance(b, pikepdf.Object) and a.is_indirect and b.is_indirect:
        if (a.objgen, b.objgen) in seen:
            return
        seen.add((a.objgen, b.objgen))
    if isinstance(a, pikepdf.Stream):
        if not isinstance(b, pikepdf.Stream):
            problems.append("%s: %s, expected a stream" % (path, describe(b)))
            return
        if stream_data(a) != stream_data(b):
            problems.append("%s: stream data differs" % path)
        skip = set(skip) | {"/Length", "/Filter", "/DecodeParms"}
        a_items, b_get = a.stream_dict.items(), b.stream_dict.get
    elif isinstance(a, pikepdf.Dictionary):
        if not isinstance(b, pikepdf.Dictionary):
            problems.append("%s: %s, expected a dictionary" % (path, describe(b)))
            return
        a_items, b_get = a.items(), b.get
    elif isinstance(a, pikepdf.Array):
        if not isinstance(b, pikepdf.Array) or len(a) != len(b):
            problems.append("%s: %s, expected %s" % (path, describe(b), describe(a)))
            return
        for i, (x, y) in enumerate(zip(a, b)):
            same(ctx, x, y, "%s[%d]" % (path, i), problems, (), depth + 1, seen)
        return
    else:
        if number(a):
            ok = number(b) and abs(float(a) - float(b)) <= 1e-4 * max(1.0, abs(float(a)))
        elif isinstance(a, pikepdf.String):
            ok = isinstance(b, pikepdf.String) and bytes(a) == bytes(b)
        elif isinstance(a, pikepdf.Name):
            ok = isinstance(b, pikepdf.Name) and str(a) == str(b)
        else:
            ok = type(a) is type(b) and a == b
        if not ok:
            problems.append("%s: %s, expected %s" % (path, describe(b), describe(a)))
        return
    for k, v in a_items:
        if k in skip:
            continue
        got = b_get(k)
        if got is None and v is not None:
            problems.append("%s%s: missing" % (path, k))
            continue
        same(ctx, v, got, path + k, problems, (), depth + 1, seen)


# ----------------------------------------------------------------------------
# Destinations and actions


def check_dest(ctx, a, b, path, problems):
    """An input destination a (array, dictionary with /D, or a name) and
    its output b."""
    if isinstance(a, (pikepdf.String, pikepdf.Name)):
        if isinstance(a, pikepdf.String):
            kept = isinstance(b, pikepdf.String) and bytes(a) == bytes(b)
        else:
            kept = isinstance(b, pikepdf.Name) and str(a) == str(b)
        if not kept:
            problems.append("%s: %s, expected the name %s" % (path, describe(b), describe(a)))
        return
    if isinstance(a, pikepdf.Dictionary):
        b = b.get("/D") if isinstance(b, pikepdf.Dictionary) else b
        check_dest(ctx, a.get("/D"), b, path, problems)
        return
    d = g.read_dest(a, ctx.in_index)
    if d is None:
        if isinstance(a, pikepdf.Array) and len(a) and number(a[0]):
            return  # a page number, as in a remote destination: left alone
        if b is not None:
            problems.append("%s: %s, expected none (the input's %s cannot be carried)" % (path, describe(b), describe(a)))
        return
    if b is None and d.padded:
        return  # too few numbers: dropping it is as good as padding it
    want_page = ctx.out_pages[d.page] if d.page < len(ctx.out_pages) else None
    if not isinstance(b, pikepdf.Array) or len(b) < 2:
        problems.append("%s: %s, expected a destination on new page %d" % (path, describe(b), d.page + 1))
        return
    if not (isinstance(b[0], pikepdf.Dictionary) and want_page is not None and b[0].objgen == want_page.objgen):
        problems.append("%s: page %s, expected new page %d" % (path, describe(b[0]), d.page + 1))
        return
    try:
        got = [g.number_or_none(v) for v in list(b)[2:]]
    except ValueError:
        got = None
    wants = []
    for t in ctx.placements[d.page]:
        kind, values = g.moved_dest(t, d)
        wants.append((kind, values))
        if w.name(b[1]) != kind or got is None or len(got) != len(values):
            continue
        if kind == "/XYZ":
            # The zoom may stay or follow the scale; the position must move.
            z, gz = values[2], got[2]
            zoom_ok = (z is None) == (gz is None) and (z is None or abs(gz - z) < 1e-3 or
                                                      abs(gz - z / t.scale()) < 1e-3)
            if zoom_ok and g.close(values[:2], got[:2]):
                return
        elif g.close(values, got):
            return
    shown = " or ".join("%s %s" % (k, fmt(v)) for k, v in wants)
    problems.append("%s: %s %s, expected %s" % (path, describe(b[1]), fmt(got or []), shown))


def fmt(values):
    return "[%s]" % " ".join("null" if v is None else "%.2f" % v for v in values)


def check_action(ctx, a, b, path, problems):
    """An input action a, with its /Next chain, and its output b."""
    if not isinstance(a, pikepdf.Dictionary):
        if b is not None and a is None:
            problems.append("%s: %s, expected none" % (path, describe(b)))
        return
    ins, outs = w.actions(a), w.actions(b)
    if len(outs.items) != len(ins.items):
        problems.append("%s: a chain of %d actions, expected %d" % (path, len(outs.items), len(ins.items)))
        return
    for i, (x, y) in enumerate(zip(ins.items, outs.items)):
        where = "%s action %d" % (path, i + 1)
        if w.name(x.get("/S")) == "/GoTo":
            same(ctx, x.get("/S"), y.get("/S"), where + "/S", problems)
            check_dest(ctx, x.get("/D"), y.get("/D"), where + "/D", problems)
        else:
            same(ctx, x, y, where, problems, skip={"/Next"})


def check_target(ctx, a, b, path, problems):
    """The /Dest, /A (and /PA, /AA) of a link, outline item or catalog."""
    if "/Dest" in a:
        check_dest(ctx, a.get("/Dest"), b.get("/Dest"), path + "/Dest", problems)
    for k in ("/A", "/PA"):
        if k in a:
            check_action(ctx, a.get(k), b.get(k), path + k, problems)
    aa = a.get("/AA")
    if isinstance(aa, pikepdf.Dictionary):
        bb = b.get("/AA")
        for trigger, action in aa.items():
            got = bb.get(trigger) if isinstance(bb, pikepdf.Dictionary) else None
            check_action(ctx, action, got, path + "/AA" + trigger, problems)


# ----------------------------------------------------------------------------
# Annotations


def feature_of(annot):
    subtype = w.name(annot.get("/Subtype"))
    return "links" if subtype == "/Link" else "widgets" if subtype == "/Widget" else "annotations"


def pair_annotations(ctx, report):
    """Pairs each page's input annotations with the output's, in order and
    by subtype; returns [(page, position, input, output or None)]."""
    pairs = []
    for k, page in enumerate(ctx.src.pages):
        ins = w.annotations(page.obj)
        outs = w.annotations(ctx.out_pages[k]) if k < len(ctx.out_pages) else []
        raw = ctx.out_pages[k].get("/Annots") if k < len(ctx.out_pages) else None
        if isinstance(raw, pikepdf.Array):
            odd = [describe(x) for x in raw if x is not None and not isinstance(x, pikepdf.Dictionary)]
            if odd:
                report.item("document", ["page %d: /Annots holds %s" % (k + 1, ", ".join(odd[:3]))])
        at = 0
        for pos, a in enumerate(ins, 1):
            subtype = w.name(a.get("/Subtype"))
            match = None
            for j in range(at, len(outs)):
                if w.name(outs[j].get("/Subtype")) == subtype:
                    match, at = outs[j], j + 1
                    break
            pairs.append((k, pos, a, match))
            if a.objgen != (0, 0):
                ctx.annot_page[a.objgen] = k
                if match is not None:
                    ctx.annot_copy[a.objgen] = match
        extra = len(outs) - sum(1 for p in pairs if p[0] == k and p[3] is not None)
        if extra > 0:
            report.item("document", ["page %d: %d output annotations that the input does not have" % (k + 1, extra)])
    return pairs


def check_annotations(ctx, report):
    for k, pos, a, b in pair_annotations(ctx, report):
        path = "page %d annotation %d (%s)" % (k + 1, pos, w.name(a.get("/Subtype")) or "no subtype")
        if b is None:
            report.item(feature_of(a), [path + ": missing"])
            continue
        problems = []
        check_geometry(ctx, k, a, b, path, problems)
        check_appearances(ctx, k, a, b, path, problems)
        check_target(ctx, a, b, path, problems)
        check_links_between(ctx, k, a, b, path, problems)
        same(ctx, a, b, path, problems, skip=ANNOT_OWN_CHECK)
        report.item(feature_of(a), problems)


def check_geometry(ctx, k, a, b, path, problems):
    """/Rect, point lists and lengths, through any placement of page k."""
    cands = ctx.placements[k]
    flags = int(a.get("/F", 0)) if number(a.get("/F")) else 0
    rect, got = g.box(a.get("/Rect")), g.box(b.get("/Rect"))
    if rect is not None:
        if got is None or not any(g.close(choice, got) for t in cands for choice in g.rect_choices(t, rect, flags)):
            problems.append("%s/Rect: %s, expected %s" % (path, fmt(got or []), fmt(g.rect_choices(cands[0], rect, flags)[-1])))
    for key in ("/QuadPoints", "/Vertices", "/L", "/CL"):
        flat = numbers(a.get(key))
        if flat is not None:
            out = numbers(b.get(key))
            if out is None or not any(g.close(g.points(t, flat), out) for t in cands):
                problems.append("%s%s: %s, expected %s" % (path, key, fmt(out or []), fmt(g.points(cands[0], flat))))
    ink = a.get("/InkList")
    if isinstance(ink, pikepdf.Array):
        strokes = [numbers(s) or [] for s in ink]
        out = b.get("/InkList")
        got_strokes = [numbers(s) or [] for s in out] if isinstance(out, pikepdf.Array) else None
        if got_strokes is None or not any(len(got_strokes) == len(strokes) and
                                          all(g.close(g.points(t, s), o) for s, o in zip(strokes, got_strokes))
                                          for t in cands):
            problems.append("%s/InkList: not the moved strokes" % path)
    rd = numbers(a.get("/RD"))
    if rd is not None and len(rd) == 4 and rect is not None:
        out = numbers(b.get("/RD"))
        if out is None or not any(g.close(choice, out) for t in cands for choice in g.inset_choices(t, rect, rd)):
            problems.append("%s/RD: %s, expected %s" % (path, fmt(out or []), fmt(g.inset_choices(cands[0], rect, rd)[0])))
    border = numbers(a.get("/Border"))
    if border is not None and len(border) >= 3:
        out = numbers(b.get("/Border")) if isinstance(b.get("/Border"), pikepdf.Array) else None
        ok = out is not None and len(out) >= 3 and any(
            abs(out[2] - border[2] * t.scale()) <= g.TOLERANCE and
            all(abs(o - v) <= g.TOLERANCE or abs(o - v * t.scale()) <= g.TOLERANCE for o, v in zip(out[:2], border[:2]))
            for t in cands)
        if not ok:
            problems.append("%s/Border: %s, expected width %.2f" % (path, fmt(out or []), border[2] * cands[0].scale()))
    bs = a.get("/BS")
    if isinstance(bs, pikepdf.Dictionary):
        out = b.get("/BS")
        if not isinstance(out, pikepdf.Dictionary):
            problems.append("%s/BS: missing" % path)
        else:
            if number(bs.get("/W")):
                width = float(bs.W)
                if not number(out.get("/W")) or not any(abs(float(out.W) - width * t.scale()) <= g.TOLERANCE
                                                        for t in cands):
                    problems.append("%s/BS/W: %s, expected %.2f" % (path, describe(out.get("/W")), width * cands[0].scale()))
            same(ctx, bs, out, path + "/BS", problems, skip={"/W", "/D"})


def check_appearances(ctx, k, a, b, path, problems):
    """/AP /N /R /D: the same streams and states; on a turned page (unless
    NoRotate) each copy's /Matrix turns with the page."""
    ap = a.get("/AP")
    if not isinstance(ap, pikepdf.Dictionary):
        return
    bp = b.get("/AP")
    if not isinstance(bp, pikepdf.Dictionary):
        problems.append("%s/AP: missing" % path)
        return
    flags = int(a.get("/F", 0)) if number(a.get("/F")) else 0
    turn = (1.0, 0.0, 0.0, 1.0)
    if ctx.placements[k] and not flags & g.NO_ROTATE:
        turn = ctx.placements[k][0].linear_unit()
    for which in ("/N", "/R", "/D"):
        looks = ap.get(which)
        got = bp.get(which)
        if isinstance(looks, pikepdf.Stream):
            check_look(ctx, looks, got, turn, "%s/AP%s" % (path, which), problems)
        elif isinstance(looks, pikepdf.Dictionary):
            for state, look in looks.items():
                if isinstance(look, pikepdf.Stream):
                    other = got.get(state) if isinstance(got, pikepdf.Dictionary) else None
                    check_look(ctx, look, other, turn, "%s/AP%s%s" % (path, which, state), problems)


def check_look(ctx, a, b, turn, path, problems):
    if not isinstance(b, pikepdf.Stream):
        problems.append("%s: %s, expected an appearance stream" % (path, describe(b)))
        return
    same(ctx, a, b, path, problems, skip={"/Matrix"})
    m = numbers(a.get("/Matrix")) or [1, 0, 0, 1, 0, 0]
    got = numbers(b.get("/Matrix")) or [1, 0, 0, 1, 0, 0]
    want = g.times(m[:4], turn)
    if len(got) != 6 or g.quarter_pattern(got[:4]) != g.quarter_pattern(want):
        problems.append("%s/Matrix: %s, expected one turned like %s" % (path, fmt(got), fmt(want)))


def check_links_between(ctx, k, a, b, path, problems):
    """/P names the new page; /Popup, /IRT and a popup's /Parent name the
    copies of the annotations they named."""
    p = a.get("/P")
    if isinstance(p, pikepdf.Dictionary) and p.objgen in ctx.in_index:
        same(ctx, p, b.get("/P"), path + "/P", problems)
    elif b.get("/P") is not None and not (isinstance(b.P, pikepdf.Dictionary) and b.P.objgen == ctx.out_pages[k].objgen):
        problems.append("%s/P: %s, expected none or new page %d" % (path, describe(b.get("/P")), k + 1))
    keys = ["/Popup", "/IRT"] + (["/Parent"] if w.name(a.get("/Subtype")) == "/Popup" else [])
    for key in keys:
        target = a.get(key)
        got = b.get(key)
        if not isinstance(target, pikepdf.Dictionary):
            if got is not None:
                problems.append("%s%s: %s, expected none" % (path, key, describe(got)))
            continue
        copy = ctx.annot_copy.get(target.objgen)
        if copy is None:
            same(ctx, target, got, path + key, problems, skip=ANNOT_OWN_CHECK)
        elif not (isinstance(got, pikepdf.Dictionary) and got.objgen == copy.objgen):
            problems.append("%s%s: %s, expected the copy (object %d)" % (path, key, describe(got), copy.objgen[0]))
    if "/OC" in a:
        check_layer_ref(ctx, a.get("/OC"), b.get("/OC"), path + "/OC", problems)


# ----------------------------------------------------------------------------
# Outline, names, labels


def check_outline(ctx, report):
    ins, outs = w.outline(ctx.src), w.outline(ctx.out)
    if outs.repeated:
        report.item("document", ["the output's outline meets an item twice (a loop)"])
    for i, (level, a, parent) in enumerate(ins.items):
        title = str(a.get("/Title", ""))
        path = "outline item %d (%r)" % (i + 1, title[:30])
        if i >= len(outs.items):
            report.item("outline", [path + ": missing"])
            continue
        problems = []
        out_level, b, out_parent = outs.items[i]
        if out_level != level:
            problems.append("%s: level %d, expected %d" % (path, out_level, level))
        if str(b.get("/Title", "")) != title:
            problems.append("%s: title %r" % (path, str(b.get("/Title", ""))))
        check_target(ctx, a, b, path, problems)
        same(ctx, a, b, path, problems, skip={"/Title", "/Dest", "/A", "/Parent", "/First", "/Last", "/Next",
                                              "/Prev", "/Count", "/SE"})
        if isinstance(a.get("/First"), pikepdf.Dictionary) and number(a.get("/Count")) and \
                (float(a.Count) < 0) != (number(b.get("/Count")) and float(b.Count) < 0):
            problems.append("%s: /Count %s, closed or open as in the input (%s)" % (path, describe(b.get("/Count")), a.Count))
        parent_ref = b.get("/Parent")
        if not (isinstance(parent_ref, pikepdf.Dictionary) and parent_ref.objgen == out_parent.objgen):
            problems.append("%s: /Parent is not the item that lists it" % path)
        report.item("outline", problems)
    if len(outs.items) > len(ins.items):
        report.item("document", ["the output's outline has %d items, the input %d" % (len(outs.items), len(ins.items))])


def name_trees(pdf, which):
    names = pdf.Root.get("/Names")
    return names.get(which) if isinstance(names, pikepdf.Dictionary) else None


def check_named_dests(ctx, report):
    ins, outs = w.names(name_trees(ctx.src, "/Dests")), w.names(name_trees(ctx.out, "/Dests"))
    if outs.repeated:
        report.item("document", ["the output's /Names /Dests tree meets a node twice"])
    for n, value in ins.items.items():
        problems = []
        check_dest(ctx, value, outs.items.get(n), "named destination %r" % n.decode("latin-1"), problems)
        report.item("named-dests", problems)
    a, b = ctx.src.Root.get("/Dests"), ctx.out.Root.get("/Dests")
    if isinstance(a, pikepdf.Dictionary):
        for n, value in a.items():
            problems = []
            got = b.get(n) if isinstance(b, pikepdf.Dictionary) else None
            check_dest(ctx, value, got, "catalog /Dests " + n, problems)
            report.item("named-dests", problems)


def check_labels(ctx, report):
    ins = w.numbers(ctx.src.Root.get("/PageLabels"))
    outs = dict(w.numbers(ctx.out.Root.get("/PageLabels")).items)
    for index, label in ins.items:
        problems = []
        if index not in outs:
            problems.append("page label from page index %d: missing" % index)
        else:
            same(ctx, label, outs[index], "page label from page index %d" % index, problems)
        report.item("labels", problems)


def check_attachments(ctx, report):
    ins, outs = w.names(name_trees(ctx.src, "/EmbeddedFiles")), w.names(name_trees(ctx.out, "/EmbeddedFiles"))
    for n, filed in ins.items.items():
        path = "attachment %r" % n.decode("latin-1")
        data = embedded_bytes(filed)
        if data is None:
            continue  # nothing that could be carried
        problems = []
        got = outs.items.get(n)
        if got is None:
            problems.append(path + ": missing")
        elif embedded_bytes(got) != data:
            problems.append(path + ": other bytes")
        else:
            same(ctx, filed, got, path, problems, skip={"/EF"})
        report.item("attachments", problems)


def embedded_bytes(filed):
    """The decoded bytes of the file an attachment's dictionary embeds, or None."""
    ef = filed.get("/EF") if isinstance(filed, pikepdf.Dictionary) else None
    if not isinstance(ef, pikepdf.Dictionary):
        return None
    f = ef.get("/UF") if isinstance(ef.get("/UF"), pikepdf.Stream) else ef.get("/F")
    return stream_data(f) if isinstance(f, pikepdf.Stream) else None


# ----------------------------------------------------------------------------
# Forms


def check_fields(ctx, report):
    a_form, b_form = ctx.src.Root.get("/AcroForm"), ctx.out.Root.get("/AcroForm")
    ins, outs = w.fields(a_form), w.fields(b_form)
    by_name = {f.name: f for f in outs.items}
    if outs.repeated:
        report.item("document", ["the output's field tree meets a field twice"])
    for f in ins.items:
        path = "field %r" % f.name
        o = by_name.get(f.name)
        if o is None:
            report.item("fields", [path + ": missing"])
            continue
        problems = []
        signature = w.name(f.attrs.get("/FT")) == "/Sig"
        for k in ("/FT", "/DV", "/Ff", "/DA", "/Q") + (() if signature else ("/V",)):
            if k in f.attrs:
                same(ctx, f.attrs[k], o.attrs.get(k), path + k, problems)
        if signature and o.attrs.get("/V") is not None:
            problems.append(path + "/V: a signature value is kept")
        for k in ("/Opt", "/TU", "/TM", "/MaxLen", "/TI", "/I"):
            if k in f.node:
                same(ctx, f.node[k], o.node.get(k), path + k, problems)
        if len(o.widgets) != len(f.widgets):
            problems.append("%s: %d widgets, expected %d" % (path, len(o.widgets), len(f.widgets)))
        for x, y in zip(f.widgets, o.widgets):
            copy = ctx.annot_copy.get(x.objgen)
            if x.objgen in ctx.annot_page and (copy is None or copy.objgen != y.objgen):
                problems.append("%s: widget is not the annotation on new page %d" % (path, ctx.annot_page[x.objgen] + 1))
            if x.objgen != f.node.objgen:
                parent = y.get("/Parent")
                if not (isinstance(parent, pikepdf.Dictionary) and parent.objgen == o.node.objgen):
                    problems.append(path + ": widget's /Parent is not the field")
        report.item("fields", problems)
    if isinstance(a_form, pikepdf.Dictionary):
        problems = []
        if not isinstance(b_form, pikepdf.Dictionary):
            problems.append("/AcroForm: missing")
        else:
            for k in ("/DR", "/DA", "/Q", "/NeedAppearances"):
                if k in a_form:
                    same(ctx, a_form[k], b_form.get(k), "/AcroForm" + k, problems)
            if "/XFA" in b_form:
                problems.append("/AcroForm/XFA: kept (the XFA form would hide the rescaled pages)")
        report.item("form", problems)


# ----------------------------------------------------------------------------
# Layers, catalog, info, metadata


def layer_names(ocgs):
    return [str(x.get("/Name", "")) if isinstance(x, pikepdf.Dictionary) else None for x in ocgs or []]


def output_layers(ctx):
    props = ctx.out.Root.get("/OCProperties")
    ocgs = props.get("/OCGs") if isinstance(props, pikepdf.Dictionary) else None
    return {x.objgen for x in ocgs or [] if isinstance(x, pikepdf.Dictionary)}


def check_layer_ref(ctx, a, b, path, problems):
    """An optional-content reference (a group or a membership dictionary)
    must lead to groups of the output's /OCProperties, the same by name."""
    same(ctx, a, b, path, problems)
    listed_layers(ctx, b, path, problems)


def listed_layers(ctx, b, path, problems):
    """Output group b, or the groups of membership dictionary b, must be
    groups of the output's /OCProperties (not copies of them)."""
    groups = output_layers(ctx)
    refs = [b]
    if isinstance(b, pikepdf.Dictionary) and w.name(b.get("/Type")) == "/OCMD":
        inner = b.get("/OCGs")
        refs = list(inner) if isinstance(inner, pikepdf.Array) else [inner]
    for r in refs:
        if isinstance(r, pikepdf.Dictionary) and r.objgen not in groups:
            problems.append("%s: group %s is not one of the output's /OCProperties /OCGs" % (path, describe(r)))


def check_layers(ctx, report):
    a = ctx.src.Root.get("/OCProperties")
    if not isinstance(a, pikepdf.Dictionary):
        return
    b = ctx.out.Root.get("/OCProperties")
    problems = []
    if not isinstance(b, pikepdf.Dictionary):
        report.item("layers", ["/OCProperties: missing"])
        return
    if layer_names(b.get("/OCGs")) != layer_names(a.get("/OCGs")):
        problems.append("/OCProperties/OCGs: %s, expected %s" % (layer_names(b.get("/OCGs")), layer_names(a.get("/OCGs"))))
    for k in ("/ON", "/OFF"):
        da, db = a.get("/D"), b.get("/D")
        want = layer_names(da.get(k)) if isinstance(da, pikepdf.Dictionary) else []
        got = layer_names(db.get(k)) if isinstance(db, pikepdf.Dictionary) else []
        if [n for n in want if n is not None] != [n for n in got if n is not None]:
            problems.append("/OCProperties/D%s: %s, expected %s" % (k, got, want))
    same(ctx, a, b, "/OCProperties", problems)
    # The page content names its layers through the form's resources.
    for k, page in enumerate(ctx.out_pages):
        try:
            props = page.Resources.XObject["/F0"].Resources.Properties
        except (AttributeError, KeyError, TypeError):
            continue
        for tag, group in props.items():
            if isinstance(group, pikepdf.Dictionary) and w.name(group.get("/Type")) in ("/OCG", "/OCMD"):
                listed_layers(ctx, group, "page %d form /Properties%s" % (k + 1, tag), problems)
    report.item("layers", problems)


def version_of(pdf):
    """The document's version: the header's, or the catalog's /Version when higher."""
    v = float(pdf.pdf_version)
    cat = w.name(pdf.Root.get("/Version"))
    try:
        return max(v, float(cat[1:])) if cat else v
    except ValueError:
        return v


def check_catalog(ctx, report):
    a, b = ctx.src.Root, ctx.out.Root
    for k in CATALOG_KEPT:
        if k in a:
            problems = []
            same(ctx, a[k], b.get(k), "catalog " + k, problems)
            report.item("catalog", problems)
    if "/OpenAction" in a:
        problems = []
        value = a.OpenAction
        if isinstance(value, pikepdf.Dictionary):
            check_action(ctx, value, b.get("/OpenAction"), "/OpenAction", problems)
        else:
            check_dest(ctx, value, b.get("/OpenAction"), "/OpenAction", problems)
        report.item("catalog", problems)
    if isinstance(a.get("/AA"), pikepdf.Dictionary):
        problems = []
        got = b.get("/AA")
        for trigger, action in a.AA.items():
            other = got.get(trigger) if isinstance(got, pikepdf.Dictionary) else None
            check_action(ctx, action, other, "catalog /AA" + trigger, problems)
        report.item("catalog", problems)
    cat_version = w.name(a.get("/Version"))
    if cat_version and version_of(ctx.src) > 1.4:
        got = version_of(ctx.out)
        report.item("catalog", [] if got >= version_of(ctx.src) else
                    ["version %.1f, expected at least the input's %.1f" % (got, version_of(ctx.src))])
    for k in CATALOG_DROPPED:
        if k in a:
            report.item("catalog", ["catalog %s: kept, must not be" % k] if k in b else [])


def check_info(ctx, report):
    a = ctx.src.trailer.get("/Info")
    if not isinstance(a, pikepdf.Dictionary) or is_page_like(a) or a.objgen == ctx.src.Root.objgen:
        return  # no information dictionary (some files name their page tree)
    b = ctx.out.trailer.get("/Info")
    for k, v in a.items():
        problems = []
        got = b.get(k) if isinstance(b, pikepdf.Dictionary) else None
        if got is None and v is not None:
            problems.append("/Info%s: missing" % k)
        else:
            same(ctx, v, got, "/Info" + k, problems)
        report.item("info", problems)


def check_metadata(ctx, report):
    a = ctx.src.Root.get("/Metadata")
    if not isinstance(a, pikepdf.Stream):
        return
    b = ctx.out.Root.get("/Metadata")
    if not isinstance(b, pikepdf.Stream):
        report.item("xmp", ["catalog /Metadata: missing"])
    else:
        report.item("xmp", [] if stream_data(a) == stream_data(b) else ["catalog /Metadata: other bytes"])


# ----------------------------------------------------------------------------
# Pages and the document as a whole


def page_content(page):
    """The page's content as the form carries it: every part of /Contents
    decoded, joined with a line feed; None when a part cannot be decoded."""
    c = page.get("/Contents")
    parts = list(c) if isinstance(c, pikepdf.Array) else [c]
    out = []
    for p in parts:
        if isinstance(p, pikepdf.Stream):
            try:
                out.append(p.read_bytes())
            except pikepdf.PdfError:
                return None
    return b"\n".join(out)


def check_pages(ctx, report):
    if len(ctx.out_pages) != len(ctx.src.pages):
        report.item("document", ["%d pages, the input has %d" % (len(ctx.out_pages), len(ctx.src.pages))])
    for k, page in enumerate(ctx.src.pages):
        if k >= len(ctx.out_pages):
            report.item("pages", ["page %d: missing" % (k + 1)])
            continue
        problems = []
        out = ctx.out_pages[k]
        want = g.expected_placement(page.obj, ctx.mode)
        got = g.written_placement(out)
        if want is None or got is None:
            problems.append("page %d: placement %s" % (k + 1, "unknown" if want is None else "not found in the output"))
        else:
            t, pw, ph = want
            # The scale is written with four decimals: its rounding (up to
            # 5e-5) moves the page by as much times its coordinates.
            shift = g.TOLERANCE + 5e-5 * sum(abs(v) for v in g.page_box(page.obj))
            if not (all(abs(p - q) <= 1e-4 + 1e-6 * abs(q) for p, q in zip(got.m[:4], t.m[:4])) and
                    all(abs(p - q) <= shift for p, q in zip(got.m[4:], t.m[4:]))):
                problems.append("page %d: drawn with %r, expected %r" % (k + 1, got, t))
            size = g.box(out.get("/MediaBox"))
            if size is None or not g.close([size[2] - size[0], size[3] - size[1]], [pw, ph]):
                problems.append("page %d: size %s, expected %.2f x %.2f" % (k + 1, fmt(size or []), pw, ph))
        content = page_content(page.obj)
        try:
            form = out.Resources.XObject["/F0"]
            drawn = form.read_bytes()
        except (AttributeError, KeyError, TypeError, pikepdf.PdfError):
            drawn = None
        if content is not None and drawn != content:
            problems.append("page %d: the form's content is not the page's" % (k + 1))
        report.item("pages", problems)
    tree = set(ctx.out_index)
    for page in ctx.out_pages:
        node = page.get("/Parent")
        while isinstance(node, pikepdf.Dictionary) and node.objgen not in tree:
            tree.add(node.objgen)
            node = node.get("/Parent")
    copied = [obj.objgen[0] for obj in ctx.out.objects if is_page_like(obj) and obj.objgen not in tree]
    report.item("document", ["page or page-tree objects outside the page tree: %s" % ", ".join(map(str, copied[:8]))]
                if copied else [])


CHECKS = (check_pages, check_annotations, check_fields, check_outline, check_named_dests, check_labels,
          check_info, check_metadata, check_layers, check_attachments, check_catalog)


def check_pair(src_path, out_path, mode):
    """The Report of output out_path for input src_path rescaled in mode."""
    report = Report()
    with pikepdf.open(src_path) as src, pikepdf.open(out_path) as out:
        ctx = Context(src, out, mode)
        for check in CHECKS:
            check(ctx, report)
    return report


def count_features(path):
    """{feature: items in the input}, as check_pair counts them: the input
    compared with itself (only the counts are used)."""
    report = check_pair(path, path, g.Mode("percent 100"))
    return {f: c[0] for f, c in report.counts.items()}


Mode = g.Mode
