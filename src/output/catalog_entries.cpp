// The catalog's entries that a rescaled file keeps: outline, names, named
// destinations, page labels, viewer settings, open action and document
// actions, metadata, output intents, optional content, the interactive form
// and the version. The tagged structure (/StructTreeRoot, /MarkInfo) is left
// behind, since the pages' marked content moves into forms and the structure
// would point at the wrong places; so is /Perms, since no signature is valid
// for the new file.
#include <cstring>

#include "output/carried.h"
#include "reader/scan.h"

namespace plenvo {

namespace {

// The entries kept, in no particular order (the input's order is kept).
constexpr const char *KEPT[] = {
    "Outlines", "Names",      "Dests",          "PageLabels",   "PageMode",    "PageLayout",
    "ViewerPreferences",      "OpenAction",     "AA",           "URI",         "Lang",
    "Metadata", "OutputIntents", "OCProperties", "AcroForm",
};

inline pv_type type_of(const pv_tree &tr, int32_t x) { return tr.nodes[static_cast<size_t>(x)].type; }

bool kept_key(const pv_tree &tr, int32_t key) {
    for (const char *k : KEPT)
        if (pv_is_name(tr, key, k)) return true;
    return false;
}

// A version "M.m" read at t[i, n) as 10 * M + m, or -1.
int version_at(const char *t, size_t i, size_t n) {
    if (i + 3 > n || t[i] < '0' || t[i] > '9' || t[i + 1] != '.' || t[i + 2] < '0' || t[i + 2] > '9') return -1;
    return (t[i] - '0') * 10 + (t[i + 2] - '0');
}

// Gives object num the role kinds (when it has none of them) and walks what
// that role needs walked: the parsed object serves the walk only.
void take_ref(carry_ctx &c, int32_t num, uint16_t kind) {
    if (kind == CARRY_OUTLINE) {
        walk_outline(c, num);
        return;
    }
    pv_tree tr;
    const int32_t v = parse_object_dict(c.d, num, &tr);
    if (v < 0) return;
    if (kind == CARRY_TREE) {
        walk_tree(c, tr, v, num, true, false);
        return;
    }
    c.plan->roles[num].kinds |= kind;
    if (kind == CARRY_NAMES) carry_names(c, tr, v, true);
    if (kind == CARRY_ACROFORM) walk_fields(c, tr, v);
}

}  // namespace

std::string version_entry(const doc *d, const pv_tree *catalog, int32_t root) {
    int best = -1;
    // The header: "%PDF-M.m" near the start of the file.
    const size_t head = d->len > 1024 ? 1024 : static_cast<size_t>(d->len > 0 ? d->len : 0);
    const char *t = reinterpret_cast<const char *>(d->data);
    for (size_t i = 0; i + 5 <= head; ++i) {
        if (std::memcmp(t + i, "%PDF-", 5) == 0) {
            best = version_at(t, i + 5, head);
            break;
        }
    }
    // The catalog's /Version overrides it when later.
    const int32_t v = catalog ? pv_get(*catalog, root, "Version") : -1;
    if (v >= 0 && type_of(*catalog, v) == PV_NAME) {
        const pv_node &nd = catalog->nodes[static_cast<size_t>(v)];
        const int cv = nd.len == 4 ? version_at(nd.text, 1, nd.len) : -1;
        if (cv > best) best = cv;
    }
    if (best <= 14) return "";
    std::string out = " /Version /";
    out += static_cast<char>('0' + best / 10);
    out += '.';
    out += static_cast<char>('0' + best % 10);
    return out;
}

void carry_catalog(carry_ctx &c) {
    const doc *d = c.d;
    carry_plan &plan = *c.plan;
    pv_tree tr;
    const int32_t root = d->catalog > 0 ? parse_object_dict(d, d->catalog, &tr) : -1;
    std::string out = version_entry(d, root >= 0 ? &tr : nullptr, root);
    if (root < 0) {
        plan.catalog_entries = out;
        return;
    }
    for (int32_t key = tr.nodes[static_cast<size_t>(root)].first; key >= 0;) {
        const int32_t val = tr.nodes[static_cast<size_t>(key)].next;
        if (val < 0) break;
        const int32_t after = tr.nodes[static_cast<size_t>(val)].next;
        if (!kept_key(tr, key)) {
            key = after;
            continue;
        }
        const bool ref = type_of(tr, val) == PV_REF;
        const int32_t num = ref ? tr.nodes[static_cast<size_t>(val)].ref : 0;
        bool keep = true;
        if (pv_is_name(tr, key, "Outlines")) {
            keep = ref;  // its items refer to it
            if (ref) take_ref(c, num, CARRY_OUTLINE);
        } else if (pv_is_name(tr, key, "Names")) {
            if (ref) take_ref(c, num, CARRY_NAMES);
            else carry_names(c, tr, val, true);
        } else if (pv_is_name(tr, key, "Dests") || pv_is_name(tr, key, "AA")) {
            if (ref) {
                carry_role r;
                r.kinds = CARRY_TARGETS;
                carry_hint(c, num, r);
            } else {
                carry_targets(c, tr, val);
            }
        } else if (pv_is_name(tr, key, "OpenAction")) {
            keep = carry_target(c, tr, val);
        } else if (pv_is_name(tr, key, "PageLabels")) {
            if (ref) {
                take_ref(c, num, CARRY_TREE);
            } else {
                walk_tree(c, tr, val, 0, true, false);
                carry_role r;
                r.kinds = CARRY_TREE;
                r.numbers = true;
                carry_tree_node(c, tr, val, 0, r);
            }
        } else if (pv_is_name(tr, key, "AcroForm")) {
            if (ref) {
                take_ref(c, num, CARRY_ACROFORM);
            } else {
                walk_fields(c, tr, val);
                carry_acroform(c, tr, val);
            }
        }
        if (keep) {
            out += ' ';
            pv_write(tr, key, &out);
            out += ' ';
            pv_write(tr, val, &out);
        }
        key = after;
    }
    plan.catalog_entries = std::move(out);
}

}  // namespace plenvo
