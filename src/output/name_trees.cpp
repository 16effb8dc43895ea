// Name and number trees (named destinations, embedded files, page labels
// ...): walked iteratively from their roots with a visited set, so that any
// depth costs no stack. A node reached twice, missing or not a dictionary is left
// out of its parent's /Kids; a named destination that cannot be carried
// leaves its tree.
#include <unordered_set>

#include "output/carried.h"

namespace plenvo {

namespace {

inline pv_type type_of(const pv_tree &tr, int32_t x) { return tr.nodes[static_cast<size_t>(x)].type; }

// The /Kids references of node v that the walk takes: not seen before,
// dictionaries. Each one taken is marked seen.
std::vector<int32_t> take_kids(const carry_ctx &c, const pv_tree &tr, int32_t v, std::unordered_set<int32_t> *seen) {
    std::vector<int32_t> kept;
    const int32_t kids = pv_get(tr, v, "Kids");
    if (kids < 0 || type_of(tr, kids) != PV_ARRAY) return kept;
    for (int32_t x = tr.nodes[static_cast<size_t>(kids)].first; x >= 0; x = tr.nodes[static_cast<size_t>(x)].next) {
        if (type_of(tr, x) != PV_REF) continue;
        const int32_t num = tr.nodes[static_cast<size_t>(x)].ref;
        if (seen->count(num)) continue;
        pv_tree probe;
        if (parse_object_dict(c.d, num, &probe) < 0) continue;
        seen->insert(num);
        kept.push_back(num);
    }
    return kept;
}

}  // namespace

void walk_tree(carry_ctx &c, pv_tree &tr, int32_t v, int32_t num, bool numbers, bool dest_values) {
    if (v < 0 || type_of(tr, v) != PV_DICT) return;
    carry_plan &plan = *c.plan;
    carry_role role;
    role.kinds = CARRY_TREE;
    role.numbers = numbers;
    role.dest_values = dest_values;
    auto mark = [&](int32_t n) {
        carry_role &r = plan.roles[n];
        if (r.kinds & CARRY_TREE) return;
        r.kinds |= CARRY_TREE;
        r.numbers = numbers;
        r.dest_values = dest_values;
    };
    std::unordered_set<int32_t> seen;
    if (num > 0) {
        seen.insert(num);
        mark(num);
    }
    std::vector<int32_t> work;
    auto take = [&](int32_t node, const pv_tree &t, int32_t at) {
        std::vector<int32_t> kept = take_kids(c, t, at, &seen);
        for (int32_t k : kept) {
            mark(k);
            work.push_back(k);
        }
        if (node > 0) plan.kids[node] = std::move(kept);
    };
    take(num, tr, v);
    while (!work.empty()) {
        const int32_t n = work.back();
        work.pop_back();
        pv_tree node;
        const int32_t at = parse_object_dict(c.d, n, &node);
        if (at >= 0) take(n, node, at);
    }
}

void carry_tree_node(carry_ctx &c, pv_tree &tr, int32_t v, int32_t num, const carry_role &r) {
    if (v < 0 || type_of(tr, v) != PV_DICT) return;
    const auto it = num > 0 ? c.plan->kids.find(num) : c.plan->kids.end();
    if (it != c.plan->kids.end()) set_kids(tr, v, it->second);
    if (!r.dest_values || r.numbers) return;
    // Named destinations: pairs of a name and a destination.
    const int32_t names = pv_get(tr, v, "Names");
    if (names < 0 || type_of(tr, names) != PV_ARRAY) return;
    int32_t prev = -1;
    for (int32_t key = tr.nodes[static_cast<size_t>(names)].first; key >= 0;) {
        const int32_t val = tr.nodes[static_cast<size_t>(key)].next;
        if (val < 0) {
            pv_unlink(&tr, names, prev, 1);  // a name without a value
            break;
        }
        if (carry_target(c, tr, val)) {
            prev = val;
            key = tr.nodes[static_cast<size_t>(val)].next;
        } else {
            key = pv_unlink(&tr, names, prev, 2);
        }
    }
}

void carry_names(carry_ctx &c, pv_tree &tr, int32_t v, bool walk) {
    if (v < 0 || type_of(tr, v) != PV_DICT) return;
    // Template pages lie outside the page tree: no page of the output.
    pv_remove(&tr, v, "Templates");
    for (int32_t key = tr.nodes[static_cast<size_t>(v)].first; key >= 0;) {
        const int32_t val = tr.nodes[static_cast<size_t>(key)].next;
        if (val < 0) break;
        const bool dests = pv_is_name(tr, key, "Dests");
        carry_role r;
        r.kinds = CARRY_TREE;
        r.dest_values = dests;
        if (type_of(tr, val) == PV_DICT) {
            if (walk) walk_tree(c, tr, val, 0, false, dests);
            carry_tree_node(c, tr, val, 0, r);
        } else if (walk && type_of(tr, val) == PV_REF) {
            const int32_t num = tr.nodes[static_cast<size_t>(val)].ref;
            pv_tree root;
            const int32_t at = parse_object_dict(c.d, num, &root);
            if (at >= 0) walk_tree(c, root, at, num, false, dests);
        }
        key = tr.nodes[static_cast<size_t>(val)].next;
    }
}

}  // namespace plenvo
