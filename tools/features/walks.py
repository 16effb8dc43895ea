"""Walks over the document structures that carry features: pages and their
annotations, the outline, name and number trees, the field tree. Every walk
iterates (no recursion), visits each object once and notes when it meets an
object a second time (a loop, or an object listed twice), so that crafted
inputs neither hang it nor exhaust the stack."""

import pikepdf

INHERITED_FIELD_KEYS = ("/FT", "/V", "/DV", "/Ff", "/DA", "/Q")


def first_visit(obj, seen, walk):
    """Whether obj is met for the first time (then it is remembered); notes
    on walk when it is not. Direct objects live inside one container and
    cannot be met twice, so only indirect ones are remembered."""
    if obj.objgen == (0, 0):
        return True
    if obj.objgen in seen:
        walk.repeated = True
        return False
    seen.add(obj.objgen)
    return True


def is_dict(v):
    return isinstance(v, pikepdf.Dictionary)


def name(v):
    """A name's text ("/Link"), or None for anything else."""
    return str(v) if isinstance(v, pikepdf.Name) else None


def page_index(pdf):
    """{objgen of each page: its index}."""
    return {p.obj.objgen: i for i, p in enumerate(pdf.pages)}


def annotations(page):
    """The dictionaries of a page's /Annots, in order (entries that are not
    dictionaries are left out)."""
    annots = page.get("/Annots")
    if not isinstance(annots, pikepdf.Array):
        return []
    return [a for a in annots if is_dict(a)]


class Walk:
    """What a walk found: its items and whether it met an object twice."""

    def __init__(self):
        self.items = []
        self.repeated = False


def outline(pdf):
    """The outline items in reading order as (level, item, parent), parent
    being the item (or root) whose /First chain reached it."""
    w = Walk()
    root = pdf.Root.get("/Outlines")
    if not is_dict(root):
        return w
    seen = {root.objgen}
    stack = [(root.get("/First"), 1, root)]
    while stack:
        item, level, parent = stack.pop()
        if not is_dict(item) or not first_visit(item, seen, w):
            continue
        w.items.append((level, item, parent))
        stack.append((item.get("/Next"), level, parent))
        stack.append((item.get("/First"), level + 1, item))
    return w


def tree_nodes(root):
    """The nodes of a name or number tree, in order."""
    w = Walk()
    stack = [root]
    seen = set()
    while stack:
        node = stack.pop()
        if not is_dict(node) or not first_visit(node, seen, w):
            continue
        w.items.append(node)
        kids = node.get("/Kids")
        if isinstance(kids, pikepdf.Array):
            stack.extend(reversed(list(kids)))
    return w


def tree_entries(root, leaf_key):
    """The (key, value) pairs of a name tree (leaf_key "/Names") or number
    tree ("/Nums") in order; a key without its value is left out."""
    w = tree_nodes(root)
    pairs = []
    for node in w.items:
        leaves = node.get(leaf_key)
        if isinstance(leaves, pikepdf.Array):
            pairs.extend((leaves[i], leaves[i + 1]) for i in range(0, len(leaves) - 1, 2))
    w.items = pairs
    return w


def names(root):
    """{name (bytes): value} of a name tree; keys that are not strings are
    left out, the first of two equal keys wins."""
    w = tree_entries(root, "/Names")
    out = {}
    for k, v in w.items:
        if isinstance(k, pikepdf.String):
            out.setdefault(bytes(k), v)
    w.items = out
    return w


def numbers(root):
    """[(int, value)] of a number tree, sorted by key."""
    w = tree_entries(root, "/Nums")
    w.items = sorted(((int(k), v) for k, v in w.items if isinstance(k, int) and not isinstance(k, bool)),
                     key=lambda kv: kv[0])
    return w


class Field:
    """A terminal field: fully qualified name, its object, its widgets and
    the values it inherits (FT, V, DV, Ff, DA, Q)."""

    def __init__(self, full, node, widgets, attrs):
        self.name, self.node, self.widgets, self.attrs = full, node, widgets, attrs


def fields(acroform):
    """The terminal fields of /AcroForm /Fields, in tree order."""
    w = Walk()
    if not is_dict(acroform) or not isinstance(acroform.get("/Fields"), pikepdf.Array):
        return w
    stack = [(f, "", {}) for f in reversed(list(acroform.Fields))]
    seen = set()
    while stack:
        node, prefix, attrs = stack.pop()
        if not is_dict(node):
            continue
        if not first_visit(node, seen, w):
            continue
        part = str(node.T) if isinstance(node.get("/T"), pikepdf.String) else None
        full = "%s.%s" % (prefix, part) if prefix and part else (part or prefix)
        attrs = dict(attrs)
        attrs.update({k: node[k] for k in INHERITED_FIELD_KEYS if k in node})
        kids = [k for k in node.get("/Kids", []) if is_dict(k)] if isinstance(node.get("/Kids"), pikepdf.Array) else []
        named = [k for k in kids if "/T" in k]
        widgets = [k for k in kids if "/T" not in k]
        if not kids and (name(node.get("/Subtype")) == "/Widget" or "/Rect" in node):
            widgets = [node]
        if widgets or not named:
            w.items.append(Field(full, node, widgets, attrs))
        stack.extend((k, full, attrs) for k in reversed(named))
    return w


def actions(first):
    """An action and every action its /Next entries lead to, in order."""
    w = Walk()
    stack = [first]
    seen = set()
    while stack:
        a = stack.pop()
        if not is_dict(a):
            continue
        if not first_visit(a, seen, w):
            continue
        w.items.append(a)
        nxt = a.get("/Next")
        stack.extend(reversed(list(nxt)) if isinstance(nxt, pikepdf.Array) else [nxt])
    return w
