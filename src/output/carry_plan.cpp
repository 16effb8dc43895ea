// What the carried objects share: pages looked up through the copy list,
// page placements made once, roles handed to referenced objects, parsing an
// object's value, and the text of an object with its roles applied.
#include "output/carried.h"
#include "reader/page_tree.h"

namespace plenvo {

int32_t carry_page_of(const carry_ctx &c, int32_t num) {
    const int32_t v = c.cl->new_number(num);
    if (v <= 0 || v >= c.cl->first_new || v % 3 != 0) return -1;
    const int32_t k = v / 3 - 1;
    return k < c.d->pages.count ? k : -1;
}

const page_geometry *carry_page_geometry(const carry_ctx &c, int32_t k) {
    if (k < 0 || k >= c.d->pages.count) return nullptr;
    carry_plan &plan = *c.plan;
    const auto it = plan.geometry.find(k);
    if (it != plan.geometry.end()) return &it->second;
    if (plan.unplaceable.count(k)) return nullptr;
    placement pl{};
    if (compute_placement(c.d, &c.d->pages.items[k], plan.mode, plan.W, plan.H, plan.f, &pl) != 0) {
        plan.unplaceable.insert(k);
        return nullptr;
    }
    return &plan.geometry.emplace(k, placement_geometry(pl)).first->second;
}

void carry_hint(const carry_ctx &c, int32_t num, const carry_role &r) {
    if (c.hints && num > 0) c.hints->emplace_back(num, r);
}

int32_t parse_object_value(const doc *d, const objent *e, pv_tree *tr) {
    if (!e) return -1;
    // A stream's dictionary; any other object's whole value.
    const text_range r = e->has_stream && !e->in_objstm ? dict_range(d, e) : value_range(d, e);
    if (r.start < 0 || !r.base) return -1;
    size_t pos = static_cast<size_t>(r.start);
    return pv_parse(tr, r.base, static_cast<size_t>(r.end), &pos);
}

int32_t parse_object_dict(const doc *d, int32_t num, pv_tree *tr) {
    const int32_t v = parse_object_value(d, doc_lookup(d, num), tr);
    return v >= 0 && tr->nodes[static_cast<size_t>(v)].type == PV_DICT ? v : -1;
}

bool carried_text(carry_ctx &c, const objent *e, std::string *out) {
    const auto it = c.plan->roles.find(e->num);
    if (it == c.plan->roles.end() || it->second.kinds == 0) return false;
    const carry_role role = it->second;
    pv_tree tr;
    const int32_t v = parse_object_value(c.d, e, &tr);
    if (v < 0) return false;
    const bool stream = e->has_stream != 0;
    const bool dict = tr.nodes[static_cast<size_t>(v)].type == PV_DICT;
    if (stream && !dict) return false;
    const int32_t num = e->num;
    if (role.kinds & CARRY_ANNOT) carry_annot(c, tr, v, role.page);
    if (role.kinds & CARRY_FIELD) carry_field(c, tr, v, num);
    if (role.kinds & CARRY_APPEARANCE) carry_appearance(c, tr, v, role, stream);
    if (role.kinds & CARRY_OUTLINE) carry_outline_item(c, tr, v, num);
    if (role.kinds & CARRY_TREE) carry_tree_node(c, tr, v, num, role);
    if (role.kinds & CARRY_ACROFORM) carry_acroform(c, tr, v);
    if (role.kinds & CARRY_NAMES) carry_names(c, tr, v, false);
    if (role.kinds & CARRY_TARGETS) carry_targets(c, tr, v);
    bool dropped = false;
    if (role.kinds & CARRY_TARGET) dropped = !carry_target(c, tr, v);
    if (stream) {
        const bool have_data = e->data_pos >= 0 && e->data_end >= e->data_pos && e->data_end <= c.d->len;
        pv_set(&tr, v, "Length", pv_number(&tr, have_data ? e->data_end - e->data_pos : 0));
    }
    out->clear();
    if (dropped) {
        *out = "null";
    } else {
        pv_write(tr, v, out);
    }
    return true;
}

}  // namespace plenvo
