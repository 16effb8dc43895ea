// Form fields: the field tree walked once from the form's /Fields, each
// field once and without recursion, so that a field and its widget stay one
// object (the page's /Annots and the tree refer to the same copy). Values,
// defaults, options and appearances are kept; a signature field loses its
// value, since no signature is valid for the new file, and XFA is dropped so
// that viewers show the fields themselves.
#include <unordered_set>

#include "output/carried.h"

namespace plenvo {

namespace {

inline pv_type type_of(const pv_tree &tr, int32_t x) { return tr.nodes[static_cast<size_t>(x)].type; }

// The references of array node a (or of the array object it refers to).
std::vector<int32_t> refs_in(const doc *d, const pv_tree &tr, int32_t a) {
    std::vector<int32_t> out;
    if (a < 0) return out;
    pv_tree held;
    const pv_tree *t = &tr;
    if (type_of(tr, a) == PV_REF) {
        const objent *e = doc_lookup(d, tr.nodes[static_cast<size_t>(a)].ref);
        a = e ? parse_object_value(d, e, &held) : -1;
        t = &held;
    }
    if (a < 0 || type_of(*t, a) != PV_ARRAY) return out;
    for (int32_t x = t->nodes[static_cast<size_t>(a)].first; x >= 0; x = t->nodes[static_cast<size_t>(x)].next)
        if (type_of(*t, x) == PV_REF) out.push_back(t->nodes[static_cast<size_t>(x)].ref);
    return out;
}

// Field types: unknown (inherited from no ancestor), a signature, another.
enum field_type : uint8_t { FT_UNKNOWN, FT_SIG, FT_OTHER };

}  // namespace

void walk_fields(carry_ctx &c, pv_tree &tr, int32_t v) {
    if (v < 0 || type_of(tr, v) != PV_DICT) return;
    carry_plan &plan = *c.plan;
    plan.have_fields = true;
    struct pending {
        int32_t num;
        int32_t parent;
        field_type inherited;
    };
    std::unordered_set<int32_t> seen;
    std::vector<pending> work;
    for (int32_t num : refs_in(c.d, tr, pv_get(tr, v, "Fields"))) {
        if (seen.count(num)) continue;
        pv_tree probe;
        if (parse_object_dict(c.d, num, &probe) < 0) continue;
        seen.insert(num);
        plan.top_fields.push_back(num);
        work.push_back({num, 0, FT_UNKNOWN});
    }
    // Reverse, so that fields are taken from the stack in their order.
    std::vector<pending> order(work.rbegin(), work.rend());
    work.swap(order);
    while (!work.empty()) {
        const pending p = work.back();
        work.pop_back();
        pv_tree f;
        const int32_t at = parse_object_dict(c.d, p.num, &f);
        if (at < 0) continue;
        carry_role &role = plan.roles[p.num];
        role.kinds |= CARRY_FIELD;
        plan.field_parent[p.num] = p.parent;
        const int32_t ft = pv_get(f, at, "FT");
        const field_type type = ft < 0 ? p.inherited : (pv_is_name(f, ft, "Sig") ? FT_SIG : FT_OTHER);
        if (type == FT_SIG) plan.signature_fields.insert(p.num);
        // A widget that no page lists: it belongs to the page its /P names.
        if (!(role.kinds & CARRY_ANNOT) && pv_get(f, at, "Rect") >= 0) {
            const int32_t pg = pv_get(f, at, "P");
            const int32_t k = pg >= 0 && type_of(f, pg) == PV_REF ? carry_page_of(c, f.nodes[static_cast<size_t>(pg)].ref) : -1;
            if (k >= 0) {
                role.kinds |= CARRY_ANNOT;
                role.page = k;
            }
        }
        std::vector<int32_t> kept;
        for (int32_t kid : refs_in(c.d, f, pv_get(f, at, "Kids"))) {
            if (seen.count(kid)) continue;
            pv_tree probe;
            if (parse_object_dict(c.d, kid, &probe) < 0) continue;
            seen.insert(kid);
            kept.push_back(kid);
        }
        for (auto it = kept.rbegin(); it != kept.rend(); ++it) work.push_back({*it, p.num, type});
        plan.kids[p.num] = std::move(kept);
    }
}

void carry_field(carry_ctx &c, pv_tree &tr, int32_t v, int32_t num) {
    if (v < 0 || type_of(tr, v) != PV_DICT) return;
    carry_plan &plan = *c.plan;
    const auto parent = plan.field_parent.find(num);
    if (parent != plan.field_parent.end()) {
        if (parent->second > 0) {
            pv_set(&tr, v, "Parent", pv_ref(&tr, parent->second));
        } else {
            pv_remove(&tr, v, "Parent");
        }
    }
    const auto kids = plan.kids.find(num);
    if (kids != plan.kids.end()) set_kids(tr, v, kids->second);
    if (plan.signature_fields.count(num)) pv_remove(&tr, v, "V");
    // A widget's actions are carried with the annotation.
    const auto role = plan.roles.find(num);
    if (role != plan.roles.end() && (role->second.kinds & CARRY_ANNOT)) return;
    const int32_t aa = pv_get(tr, v, "AA");
    if (aa >= 0 && type_of(tr, aa) == PV_DICT) {
        carry_targets(c, tr, aa);
    } else if (aa >= 0 && type_of(tr, aa) == PV_REF) {
        carry_role r;
        r.kinds = CARRY_TARGETS;
        carry_hint(c, tr.nodes[static_cast<size_t>(aa)].ref, r);
    }
}

void carry_acroform(carry_ctx &c, pv_tree &tr, int32_t v) {
    if (v < 0 || type_of(tr, v) != PV_DICT) return;
    pv_remove(&tr, v, "XFA");
    if (!c.plan->have_fields) return;
    pv_set(&tr, v, "Fields", pv_refs(&tr, c.plan->top_fields));
}

}  // namespace plenvo
