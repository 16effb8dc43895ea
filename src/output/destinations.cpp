// Destinations and actions: a destination's page becomes its new page (the
// copy list maps the reference) and its coordinates go through that page's
// placement; actions carry the destinations of their GoTo steps along their
// /Next chains.
#include <cstring>

#include "output/carried.h"

namespace plenvo {

namespace {

// How many values follow the page and the kind in each kind of destination.
struct dest_kind {
    const char *name;
    int32_t values;
};
constexpr dest_kind DEST_KINDS[] = {
    {"XYZ", 3}, {"Fit", 0}, {"FitB", 0}, {"FitH", 1}, {"FitBH", 1}, {"FitV", 1}, {"FitBV", 1}, {"FitR", 4},
};

// The node after x, -1 at the end.
inline int32_t next_of(const pv_tree &tr, int32_t x) { return tr.nodes[static_cast<size_t>(x)].next; }
inline pv_type type_of(const pv_tree &tr, int32_t x) { return tr.nodes[static_cast<size_t>(x)].type; }

// The kinds of actions whose /D lies in another file.
bool remote_action(const pv_tree &tr, int32_t s) {
    return pv_is_name(tr, s, "GoToR") || pv_is_name(tr, s, "GoToE") || pv_is_name(tr, s, "GoToDp");
}

// Renames kind node x (a name) to `name`.
void rename(pv_tree &tr, int32_t x, const char *name) {
    const int32_t made = pv_name(&tr, name);
    pv_node &nd = tr.nodes[static_cast<size_t>(x)];
    nd.text = tr.nodes[static_cast<size_t>(made)].text;
    nd.len = tr.nodes[static_cast<size_t>(made)].len;
}

// Makes node x the number v, or null when there is none.
void set_value(pv_tree &tr, int32_t x, bool has, double v) {
    if (has) {
        pv_set_number(&tr, x, v);
        return;
    }
    pv_node &nd = tr.nodes[static_cast<size_t>(x)];
    nd.type = PV_NULL;
    nd.made = false;
    nd.text = "null";
    nd.len = 4;
}

// Carries the actions of dictionary a: each GoTo's destination, along the
// /Next chain as far as it is written inline; referenced actions take the
// target role. Inline nesting is bounded by the parser's depth. Returns
// false when a's own destination was dropped and nothing follows it: the
// action then does nothing.
bool carry_action(carry_ctx &c, pv_tree &tr, int32_t a) {
    bool useful = true;
    std::vector<int32_t> work{a};
    while (!work.empty()) {
        const int32_t act = work.back();
        work.pop_back();
        if (type_of(tr, act) != PV_DICT) continue;
        const int32_t s = pv_get(tr, act, "S");
        const int32_t dest = pv_get(tr, act, "D");
        if (dest >= 0 && !remote_action(tr, s)) {
            if (type_of(tr, dest) == PV_REF) {
                carry_target(c, tr, dest);
            } else if (type_of(tr, dest) == PV_ARRAY && !carry_dest(c, tr, dest)) {
                pv_remove(&tr, act, "D");
                if (act == a && pv_get(tr, act, "Next") < 0) useful = false;
            }
        }
        const int32_t next = pv_get(tr, act, "Next");
        if (next < 0) continue;
        if (type_of(tr, next) == PV_ARRAY) {
            for (int32_t x = tr.nodes[static_cast<size_t>(next)].first; x >= 0; x = next_of(tr, x)) {
                if (type_of(tr, x) == PV_DICT) work.push_back(x);
                if (type_of(tr, x) == PV_REF) carry_target(c, tr, x);
            }
        } else if (type_of(tr, next) == PV_DICT) {
            work.push_back(next);
        } else if (type_of(tr, next) == PV_REF) {
            carry_target(c, tr, next);
        }
    }
    return useful;
}

}  // namespace

bool carry_dest(carry_ctx &c, pv_tree &tr, int32_t v) {
    if (v < 0 || type_of(tr, v) != PV_ARRAY) return false;
    const int32_t page = tr.nodes[static_cast<size_t>(v)].first;
    if (page < 0) return false;
    const int32_t kind = next_of(tr, page);
    if (kind < 0 || type_of(tr, kind) != PV_NAME) return false;

    // The page: a reference to a page of the page list, or (written by some
    // producers) its index.
    int32_t k = -1;
    const pv_node &pn = tr.nodes[static_cast<size_t>(page)];
    if (pn.type == PV_REF) {
        k = carry_page_of(c, pn.ref);
    } else if (pn.type == PV_NUM && pn.num >= 0 && pn.num < c.d->pages.count && pn.num == static_cast<int32_t>(pn.num)) {
        k = static_cast<int32_t>(pn.num);
    }
    if (k < 0) return false;

    const dest_kind *dk = nullptr;
    for (const dest_kind &x : DEST_KINDS)
        if (pv_is_name(tr, kind, x.name)) dk = &x;
    if (!dk) return false;
    // Its values: numbers or null, at least as many as the kind has.
    int32_t val[4] = {-1, -1, -1, -1};
    int32_t n = 0;
    for (int32_t x = next_of(tr, kind); x >= 0 && n < dk->values; x = next_of(tr, x)) {
        const pv_type t = type_of(tr, x);
        if (t != PV_NUM && t != PV_NULL) return false;
        val[n++] = x;
    }
    if (n < dk->values) return false;
    const page_geometry *g = carry_page_geometry(c, k);
    if (!g) return true;  // the page itself cannot be placed: the build stops there

    auto num = [&tr](int32_t x, double *out) {
        if (type_of(tr, x) != PV_NUM) return false;
        *out = tr.nodes[static_cast<size_t>(x)].num;
        return true;
    };
    const bool turned = g->r == 90 || g->r == 270;
    // One coordinate of a destination: x (horizontal) or y; on a page turned
    // by 90 or 270 degrees an input y becomes an output x and the other way.
    auto carry_x = [&](double x) { return g->a * x + g->e; };  // page not turned
    auto carry_y = [&](double y) { return g->d * y + g->f; };
    auto turned_x = [&](double y) { return g->c * y + g->e; };  // an input y, page turned
    auto turned_y = [&](double x) { return g->b * x + g->f; };  // an input x, page turned

    const char *name = dk->name;
    if (std::strcmp(name, "XYZ") == 0) {
        double left = 0, top = 0;
        const bool has_left = num(val[0], &left), has_top = num(val[1], &top);
        if (turned) {
            // The new left comes from the old top and the new top from the old left.
            set_value(tr, val[0], has_top, turned_x(top));
            set_value(tr, val[1], has_left, turned_y(left));
        } else {
            set_value(tr, val[0], has_left, carry_x(left));
            set_value(tr, val[1], has_top, carry_y(top));
        }
    } else if (dk->values == 1) {
        double x = 0;
        const bool horizontal = name[std::strlen(name) - 1] == 'H';  // FitH, FitBH: a top
        if (num(val[0], &x)) {
            if (!turned) {
                pv_set_number(&tr, val[0], horizontal ? carry_y(x) : carry_x(x));
            } else {
                pv_set_number(&tr, val[0], horizontal ? turned_x(x) : turned_y(x));
            }
        }
        if (turned) {
            const bool box = name[3] == 'B';
            rename(tr, kind, horizontal ? (box ? "FitBV" : "FitV") : (box ? "FitBH" : "FitH"));
        }
    } else if (dk->values == 4) {
        double r[4];
        bool all = true;
        for (int i = 0; i < 4; ++i) all = all && num(val[i], &r[i]);
        if (!all) return false;  // a rectangle needs its four numbers
        carry_geometry(*g, GEOM_RECT, r, 4);
        for (int i = 0; i < 4; ++i) pv_set_number(&tr, val[i], r[i]);
    }
    return true;
}

bool carry_target(carry_ctx &c, pv_tree &tr, int32_t v) {
    if (v < 0) return false;
    switch (type_of(tr, v)) {
    case PV_REF: {
        carry_role r;
        r.kinds = CARRY_TARGET;
        carry_hint(c, tr.nodes[static_cast<size_t>(v)].ref, r);
        return true;
    }
    case PV_ARRAY:
        return carry_dest(c, tr, v);
    case PV_DICT: {
        if (pv_get(tr, v, "S") >= 0) return carry_action(c, tr, v);
        const int32_t d = pv_get(tr, v, "D");
        if (d < 0) return true;
        if (type_of(tr, d) == PV_REF) return carry_target(c, tr, d);
        return carry_dest(c, tr, d);
    }
    default:
        return true;  // a named destination, or nothing to carry
    }
}

void carry_targets(carry_ctx &c, pv_tree &tr, int32_t v) {
    if (v < 0 || type_of(tr, v) != PV_DICT) return;
    int32_t prev = -1;
    for (int32_t k = tr.nodes[static_cast<size_t>(v)].first; k >= 0;) {
        const int32_t val = next_of(tr, k);
        if (val < 0) break;
        if (carry_target(c, tr, val)) {
            prev = val;
            k = next_of(tr, val);
        } else {
            k = pv_unlink(&tr, v, prev, 2);
        }
    }
}

}  // namespace plenvo
