// What the carried objects share: pages looked up through the copy list,
// page placements made once, roles handed to referenced objects, parsing an
// object's value, and the text of an object with its roles applied.
#include "output/carried.h"
#include "reader/page_box.h"

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

void set_kids(pv_tree &tr, int32_t v, const std::vector<int32_t> &kids) {
    if (kids.empty()) {
        pv_remove(&tr, v, "Kids");
    } else {
        pv_set(&tr, v, "Kids", pv_refs(&tr, kids));
    }
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
    // One tree serves every object, its storage kept from one to the next.
    pv_tree &tr = c.plan->work;
    tr.nodes.clear();
    tr.made.clear();
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
    out->reserve(tr.nodes.size() * 8 + 64);
    if (dropped) {
        *out = "null";
    } else {
        pv_write(tr, v, out);
    }
    return true;
}


void carry_prepare(carry_ctx &c) {
    const doc *d = c.d;
    for (int32_t k = 0; k < d->pages.count; ++k) gather_page_annots(c, k, doc_lookup(d, d->pages.items[k].objnum));
    carry_catalog(c);
}

std::string carried_annots(const doc *d, const copy_list &cl, int32_t k) {
    if (!cl.carry || cl.carry->annots_at.empty()) return "";
    const carry_plan &plan = *cl.carry;
    const uint32_t from = plan.annots_at[static_cast<size_t>(k)], to = plan.annots_at[static_cast<size_t>(k) + 1];
    if (from == to) return "";
    std::string out = " /Annots [";
    bool first = true;
    for (uint32_t i = from; i < to; ++i) {
        const int32_t a = plan.annots[i];
        std::string item;
        if (a > 0) {
            const int32_t n = cl.new_number(a);
            if (n <= 0) continue;
            item = std::to_string(n) + " 0 R";
        } else {
            const std::string &t = plan.inline_annots[static_cast<size_t>(-a - 1)];
            item = rewrite_refs(reinterpret_cast<const uint8_t *>(t.data()), t.size(), d, cl);
        }
        if (!first) out += ' ';
        out += item;
        first = false;
    }
    out += ']';
    return out;
}

std::string carried_catalog(const doc *d, const copy_list &cl) {
    if (!cl.carry || cl.carry->catalog_entries.empty()) return "";
    const std::string &t = cl.carry->catalog_entries;
    return rewrite_refs(reinterpret_cast<const uint8_t *>(t.data()), t.size(), d, cl);
}

std::string carried_info(const copy_list &cl) {
    const int32_t n = cl.carry && cl.carry->info > 0 ? cl.new_number(cl.carry->info) : 0;
    return n > 0 ? " /Info " + std::to_string(n) + " 0 R" : "";
}

bool copy_carried_object(const doc *d, const objent *e, int32_t newnum, const copy_list &cl, buf *b) {
    if (!cl.carry) return false;
    carry_ctx c{d, &cl, cl.carry, nullptr};
    std::string text;
    const auto kept = cl.carry->texts.find(e->num);
    if (kept != cl.carry->texts.end()) {
        text.swap(kept->second);
        cl.carry->texts.erase(kept);
    } else if (!carried_text(c, e, &text)) {
        return false;
    }
    std::string out = std::to_string(newnum) + " 0 obj\n";
    out += rewrite_refs(reinterpret_cast<const uint8_t *>(text.data()), text.size(), d, cl);
    if (e->has_stream) {
        out += "\nstream\n";
        buf_append(b, out.data(), out.size());
        const bool have_data = e->data_pos >= 0 && e->data_end > e->data_pos && e->data_end <= d->len;
        if (have_data) buf_append(b, d->data + e->data_pos, static_cast<uint64_t>(e->data_end - e->data_pos));
        buf_str(b, "\nendstream\nendobj\n");
    } else {
        out += "\nendobj\n";
        buf_append(b, out.data(), out.size());
    }
    return true;
}

}  // namespace plenvo
