// The outline (bookmarks): walked once from its root, each item once, so
// that loops of /Next or /First links end where they would repeat; the links
// written are the ones the walk kept.
#include <unordered_set>

#include "output/carried.h"

namespace plenvo {

namespace {

// The object number node x refers to, 0 when it is no reference.
int32_t ref_of(const pv_tree &tr, int32_t x) {
    return x >= 0 && tr.nodes[static_cast<size_t>(x)].type == PV_REF ? tr.nodes[static_cast<size_t>(x)].ref : 0;
}

// Reads /First and /Next of object num; false when it is no dictionary.
bool read_links(const doc *d, int32_t num, int32_t *first, int32_t *next) {
    pv_tree tr;
    const int32_t v = parse_object_dict(d, num, &tr);
    if (v < 0) return false;
    *first = ref_of(tr, pv_get(tr, v, "First"));
    *next = ref_of(tr, pv_get(tr, v, "Next"));
    return true;
}

const char *const LINK_KEYS[] = {"Parent", "First", "Last", "Next", "Prev"};

}  // namespace

void walk_outline(carry_ctx &c, int32_t root) {
    carry_plan &plan = *c.plan;
    int32_t first = 0, unused = 0;
    if (!read_links(c.d, root, &first, &unused)) return;
    std::unordered_set<int32_t> seen{root};
    plan.roles[root].kinds |= CARRY_OUTLINE;
    plan.outline[root];
    struct pending {
        int32_t node;   // whose children follow
        int32_t first;  // its /First
    };
    std::vector<pending> work{{root, first}};
    while (!work.empty()) {
        const pending p = work.back();
        work.pop_back();
        int32_t prev = 0;
        for (int32_t cur = p.first; cur > 0 && !seen.count(cur);) {
            int32_t child_first = 0, next = 0;
            if (!read_links(c.d, cur, &child_first, &next)) break;  // the chain ends at an item that is no dictionary
            seen.insert(cur);
            plan.roles[cur].kinds |= CARRY_OUTLINE;
            outline_links &l = plan.outline[cur];
            l.parent = p.node;
            l.prev = prev;
            if (prev) {
                plan.outline[prev].next = cur;
            } else {
                plan.outline[p.node].first = cur;
            }
            plan.outline[p.node].last = cur;
            work.push_back({cur, child_first});
            prev = cur;
            cur = next;
        }
    }
}

void carry_outline_item(carry_ctx &c, pv_tree &tr, int32_t v, int32_t num) {
    if (v < 0 || tr.nodes[static_cast<size_t>(v)].type != PV_DICT) return;
    const auto it = c.plan->outline.find(num);
    const outline_links links = it != c.plan->outline.end() ? it->second : outline_links{};
    const int32_t values[] = {links.parent, links.first, links.last, links.next, links.prev};
    for (int i = 0; i < 5; ++i) {
        if (values[i] > 0) {
            pv_set(&tr, v, LINK_KEYS[i], pv_ref(&tr, values[i]));
        } else {
            pv_remove(&tr, v, LINK_KEYS[i]);
        }
    }
    const int32_t dest = pv_get(tr, v, "Dest");
    if (dest >= 0 && !carry_target(c, tr, dest)) pv_remove(&tr, v, "Dest");
    const int32_t act = pv_get(tr, v, "A");
    if (act >= 0 && !carry_target(c, tr, act)) pv_remove(&tr, v, "A");
    // The structure tree is not carried.
    pv_remove(&tr, v, "SE");
}

}  // namespace plenvo
