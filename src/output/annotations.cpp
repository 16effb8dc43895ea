// Annotations: the pages' /Annots lists, each annotation's geometry carried
// through its page's placement, its destinations and actions, and the
// appearance streams that turn with a page whose /Rotate is carried out.
#include <algorithm>
#include <cmath>
#include <string_view>

#include "output/carried.h"
#include "reader/page_box.h"
#include "reader/scan.h"

namespace plenvo {

namespace {

// Annotation flags.
constexpr int64_t FLAG_NO_ZOOM = 8;
constexpr int64_t FLAG_NO_ROTATE = 16;

// Keys holding point lists.
constexpr const char *POINT_KEYS[] = {"QuadPoints", "Vertices", "L", "CL"};

// At most this many numbers in one geometry array (a long ink stroke or
// many quadrilaterals); longer arrays are dropped.
constexpr int32_t MAX_NUMBERS = 1 << 20;

inline pv_type type_of(const pv_tree &tr, int32_t x) { return tr.nodes[static_cast<size_t>(x)].type; }

// Carries the numbers of array node a by kind; false when the array is
// not all numbers or does not fit the kind.
bool carry_array(pv_tree &tr, int32_t a, const page_geometry &g, geom_kind kind) {
    if (a < 0 || type_of(tr, a) != PV_ARRAY) return false;
    const int32_t n = pv_count(tr, a);
    if (n > MAX_NUMBERS) return false;
    // Most arrays are short: those stay on the stack.
    double small[32];
    std::vector<double> large;
    double *v = small;
    if (n > 32) {
        large.resize(static_cast<size_t>(n));
        v = large.data();
    }
    int32_t got = 0;
    if (!pv_numbers(tr, a, v, n, &got) || !carry_geometry(g, kind, v, got)) return false;
    int32_t i = 0;
    for (int32_t x = tr.nodes[static_cast<size_t>(a)].first; x >= 0; x = tr.nodes[static_cast<size_t>(x)].next)
        pv_set_number(&tr, x, v[i++]);
    return true;
}

// The integer value of node x, or 0 when it is none.
int64_t int_value(const pv_tree &tr, int32_t x) {
    if (x < 0 || type_of(tr, x) != PV_NUM) return 0;
    const double v = tr.nodes[static_cast<size_t>(x)].num;
    return std::fabs(v) < 1e15 ? static_cast<int64_t>(v) : 0;
}

// The new /Rect of an annotation with flags `flags`.
void carry_rect(pv_tree &tr, int32_t rect, const page_geometry &g, int64_t flags) {
    double v[4];
    int32_t n = 0;
    if (!pv_numbers(tr, rect, v, 4, &n) || n != 4) return;  // left as written
    const double x0 = std::min(v[0], v[2]), x1 = std::max(v[0], v[2]);
    const double y0 = std::min(v[1], v[3]), y1 = std::max(v[1], v[3]);
    const bool no_zoom = flags & FLAG_NO_ZOOM, no_rotate = (flags & FLAG_NO_ROTATE) && g.r != 0;
    const double zoom = no_zoom ? 1.0 : g.s;
    double out[4] = {x0, y0, x1, y1};
    if (no_rotate) {
        // Upright, its upper-left corner kept where the page puts it.
        double corner[2] = {x0, y1};
        carry_geometry(g, GEOM_POINTS, corner, 2);
        const double w = (x1 - x0) * zoom, h = (y1 - y0) * zoom;
        out[0] = corner[0], out[1] = corner[1] - h, out[2] = corner[0] + w, out[3] = corner[1];
    } else {
        carry_geometry(g, GEOM_RECT, out, 4);
        if (no_zoom) {
            // Its own size, turned with the page, from the upper-left corner.
            const bool turned = g.r == 90 || g.r == 270;
            const double w = turned ? y1 - y0 : x1 - x0, h = turned ? x1 - x0 : y1 - y0;
            out[1] = out[3] - h;
            out[2] = out[0] + w;
        }
    }
    int32_t x = tr.nodes[static_cast<size_t>(rect)].first;
    for (int i = 0; i < 4 && x >= 0; ++i, x = tr.nodes[static_cast<size_t>(x)].next) pv_set_number(&tr, x, out[i]);
}

// Hands the appearance role (page k, level) on to what node v refers to:
// a reference takes the role; an inline dictionary of states passes it on
// one level down.
void hint_appearance(carry_ctx &c, const pv_tree &tr, int32_t v, int32_t k, uint8_t level, bool no_rotate) {
    if (v < 0) return;
    carry_role r;
    r.kinds = CARRY_APPEARANCE;
    r.page = k;
    r.no_rotate = no_rotate;
    if (type_of(tr, v) == PV_REF) {
        r.ap_level = level;
        carry_hint(c, tr.nodes[static_cast<size_t>(v)].ref, r);
        return;
    }
    if (type_of(tr, v) != PV_DICT || level >= 2) return;
    // The values of an inline dictionary: states, or (for /AP) /N /R /D.
    for (int32_t key = tr.nodes[static_cast<size_t>(v)].first; key >= 0;) {
        const int32_t val = tr.nodes[static_cast<size_t>(key)].next;
        if (val < 0) break;
        if (level == 0) {
            if (pv_is_name(tr, key, "N") || pv_is_name(tr, key, "R") || pv_is_name(tr, key, "D"))
                hint_appearance(c, tr, val, k, 1, no_rotate);
        } else if (type_of(tr, val) == PV_REF) {
            r.ap_level = 2;
            carry_hint(c, tr.nodes[static_cast<size_t>(val)].ref, r);
        }
        key = tr.nodes[static_cast<size_t>(val)].next;
    }
}

// The rotation part of the form matrix for rotation r.
void rotation_of(int r, double m[4]) {
    m[0] = 1, m[1] = 0, m[2] = 0, m[3] = 1;
    if (r == 90) m[0] = 0, m[1] = -1, m[2] = 1, m[3] = 0;
    if (r == 180) m[0] = -1, m[1] = 0, m[2] = 0, m[3] = -1;
    if (r == 270) m[0] = 0, m[1] = 1, m[2] = -1, m[3] = 0;
}

// Where /Annots' value stands in the page's dictionary, or -1. Most pages
// have none: a plain search for the name's letters rules them out before the
// walk over the dictionary's structure.
int32_t annots_value_at(const text_range &r) {
    const std::string_view text(reinterpret_cast<const char *>(r.base + r.start), static_cast<size_t>(r.end - r.start));
    if (text.find("Annots") == std::string_view::npos) return -1;
    const int32_t key = find_name_top(r.base, r.end, r.start, r.end, "Annots");
    if (key < 0) return -1;
    const int32_t v = skip_ws(r.base, key + 7, r.end);
    return v < r.end ? v : -1;
}

// True when object num exists and its value is a dictionary, not a
// stream's (an annotation is never a stream).
bool is_dict_object(const doc *d, int32_t num) {
    const objent *e = doc_lookup(d, num);
    if (!e || e->has_stream) return false;
    const text_range r = dict_range(d, e);
    if (r.start < 0) return false;
    const int32_t p = skip_ws(r.base, r.start, r.end);
    return p + 1 < r.end && r.base[p] == '<' && r.base[p + 1] == '<';
}

}  // namespace

void gather_page_annots(carry_ctx &c, int32_t k, const objent *page) {
    carry_plan &plan = *c.plan;
    const doc *d = c.d;
    auto close_page = [&] {
        if (!plan.annots_at.empty()) plan.annots_at[static_cast<size_t>(k) + 1] = static_cast<uint32_t>(plan.annots.size());
    };
    const text_range r = page ? dict_range(d, page) : text_range{nullptr, -1, -1};
    const int32_t at = r.start >= 0 ? annots_value_at(r) : -1;
    if (at < 0) return close_page();

    // The array: written in the page, or an array object.
    pv_tree tr;
    int32_t arr = -1;
    if (r.base[at] == '[') {
        size_t pos = static_cast<size_t>(at);
        arr = pv_parse(&tr, r.base, static_cast<size_t>(r.end), &pos);
    } else {
        const int32_t num = ref_at(r.base, r.end, at);
        const objent *e = num > 0 ? doc_lookup(d, num) : nullptr;
        if (e) arr = parse_object_value(d, e, &tr);
    }
    if (arr < 0 || type_of(tr, arr) != PV_ARRAY) return close_page();

    if (plan.annots_at.empty()) plan.annots_at.assign(static_cast<size_t>(d->pages.count) + 1, 0);
    plan.annots_at[static_cast<size_t>(k)] = static_cast<uint32_t>(plan.annots.size());
    for (int32_t x = tr.nodes[static_cast<size_t>(arr)].first; x >= 0; x = tr.nodes[static_cast<size_t>(x)].next) {
        if (type_of(tr, x) == PV_REF) {
            const int32_t num = tr.nodes[static_cast<size_t>(x)].ref;
            if (!is_dict_object(d, num)) continue;  // missing, or no dictionary
            carry_role &role = plan.roles[num];
            if (!(role.kinds & CARRY_ANNOT)) {
                role.kinds |= CARRY_ANNOT;
                role.page = k;
            }
            plan.annots.push_back(num);
        } else if (type_of(tr, x) == PV_DICT) {
            carry_annot(c, tr, x, k);
            std::string text;
            pv_write(tr, x, &text);
            plan.inline_annots.push_back(std::move(text));
            plan.annots.push_back(-static_cast<int32_t>(plan.inline_annots.size()));
        }
    }
    close_page();
}

void carry_annot(carry_ctx &c, pv_tree &tr, int32_t a, int32_t k) {
    if (a < 0 || type_of(tr, a) != PV_DICT) return;
    const int64_t flags = int_value(tr, pv_get(tr, a, "F"));
    const bool no_rotate = flags & FLAG_NO_ROTATE;
    const page_geometry *g = carry_page_geometry(c, k);
    if (g) {
        const int32_t rect = pv_get(tr, a, "Rect");
        if (rect >= 0 && type_of(tr, rect) == PV_ARRAY) carry_rect(tr, rect, *g, flags);
        for (const char *key : POINT_KEYS) {
            const int32_t v = pv_get(tr, a, key);
            if (v >= 0 && !carry_array(tr, v, *g, GEOM_POINTS)) pv_remove(&tr, a, key);
        }
        const int32_t ink = pv_get(tr, a, "InkList");
        if (ink >= 0) {
            bool ok = type_of(tr, ink) == PV_ARRAY;
            for (int32_t s = ok ? tr.nodes[static_cast<size_t>(ink)].first : -1; s >= 0 && ok;
                 s = tr.nodes[static_cast<size_t>(s)].next)
                ok = carry_array(tr, s, *g, GEOM_POINTS);
            if (!ok) pv_remove(&tr, a, "InkList");
        }
        // Lengths keep their look: scaled with the page, except on an
        // annotation that keeps its size.
        page_geometry lg = *g;
        if (flags & FLAG_NO_ZOOM) lg.s = 1.0;
        if (no_rotate) lg.r = 0;
        const int32_t rd = pv_get(tr, a, "RD");
        if (rd >= 0 && !carry_array(tr, rd, lg, GEOM_SIDES)) pv_remove(&tr, a, "RD");
        const int32_t border = pv_get(tr, a, "Border");
        if (border >= 0 && type_of(tr, border) == PV_ARRAY) {
            // Corner radii and width, then an optional dash array.
            int32_t i = 0;
            for (int32_t x = tr.nodes[static_cast<size_t>(border)].first; x >= 0;
                 x = tr.nodes[static_cast<size_t>(x)].next, ++i) {
                if (i < 3 && type_of(tr, x) == PV_NUM) pv_set_number(&tr, x, tr.nodes[static_cast<size_t>(x)].num * lg.s);
                if (i == 3) carry_array(tr, x, lg, GEOM_LENGTH);
            }
        }
        const int32_t bs = pv_get(tr, a, "BS");
        if (bs >= 0 && type_of(tr, bs) == PV_DICT) {
            const int32_t w = pv_get(tr, bs, "W");
            if (w >= 0 && type_of(tr, w) == PV_NUM) pv_set_number(&tr, w, tr.nodes[static_cast<size_t>(w)].num * lg.s);
            carry_array(tr, pv_get(tr, bs, "D"), lg, GEOM_LENGTH);
        }
        // A widget's rotation (counterclockwise) turns with the page
        // (clockwise), so that appearances a viewer makes anew from the
        // field's value turn as the page did.
        int32_t mk = pv_get(tr, a, "MK");
        if (g->r != 0 && !no_rotate && pv_is_name(tr, pv_get(tr, a, "Subtype"), "Widget") &&
            (mk < 0 || type_of(tr, mk) == PV_DICT)) {
            if (mk < 0) {
                mk = pv_dict(&tr);
                pv_set(&tr, a, "MK", mk);
            }
            const int32_t rot = pv_get(tr, mk, "R");
            const int64_t old = rot >= 0 ? int_value(tr, rot) : 0;
            const int64_t turned = (((old - g->r) % 360) + 360) % 360;
            pv_set(&tr, mk, "R", pv_number(&tr, static_cast<double>(turned)));
        }
    }
    hint_appearance(c, tr, pv_get(tr, a, "AP"), k, 0, no_rotate);

    const int32_t dest = pv_get(tr, a, "Dest");
    if (dest >= 0 && !carry_target(c, tr, dest)) pv_remove(&tr, a, "Dest");
    const int32_t act = pv_get(tr, a, "A");
    if (act >= 0 && !carry_target(c, tr, act)) pv_remove(&tr, a, "A");
    const int32_t aa = pv_get(tr, a, "AA");
    if (aa >= 0) {
        if (type_of(tr, aa) == PV_DICT) {
            carry_targets(c, tr, aa);
        } else if (type_of(tr, aa) == PV_REF) {
            carry_role r;
            r.kinds = CARRY_TARGETS;
            carry_hint(c, tr.nodes[static_cast<size_t>(aa)].ref, r);
        }
    }
    // A popup belongs to the page of its annotation.
    const int32_t popup = pv_get(tr, a, "Popup");
    if (popup >= 0 && type_of(tr, popup) == PV_REF) {
        carry_role r;
        r.kinds = CARRY_ANNOT;
        r.page = k;
        carry_hint(c, tr.nodes[static_cast<size_t>(popup)].ref, r);
    }
    // The structure tree is not carried.
    pv_remove(&tr, a, "StructParent");
}

void carry_appearance(carry_ctx &c, pv_tree &tr, int32_t v, const carry_role &r, bool is_stream) {
    if (v < 0 || type_of(tr, v) != PV_DICT) return;
    if (!is_stream) {
        hint_appearance(c, tr, v, r.page, r.ap_level, r.no_rotate);
        return;
    }
    const page_geometry *g = carry_page_geometry(c, r.page);
    if (!g || g->r == 0 || r.no_rotate) return;
    // The form's matrix followed by the page's turn.
    double m[6] = {1, 0, 0, 1, 0, 0};
    const int32_t old = pv_get(tr, v, "Matrix");
    int32_t n = 0;
    if (old >= 0 && !(pv_numbers(tr, old, m, 6, &n) && n == 6)) {
        m[0] = 1, m[1] = 0, m[2] = 0, m[3] = 1, m[4] = 0, m[5] = 0;
    }
    double t[4];
    rotation_of(g->r, t);
    const double out[6] = {m[0] * t[0] + m[1] * t[2], m[0] * t[1] + m[1] * t[3], m[2] * t[0] + m[3] * t[2],
                           m[2] * t[1] + m[3] * t[3], m[4] * t[0] + m[5] * t[2], m[4] * t[1] + m[5] * t[3]};
    const int32_t arr = pv_array(&tr);
    for (double x : out) pv_push(&tr, arr, pv_number(&tr, x));
    pv_set(&tr, v, "Matrix", arr);
}

}  // namespace plenvo
