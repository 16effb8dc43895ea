// Which definition of a number defined more than once is the object: the one
// the cross-reference data names, when the data is sound and the definition
// stands where it says.
#include <algorithm>
#include <climits>
#include <utility>

#include "reader/scan_phases.h"
#include "reader/xref_sections.h"

namespace plenvo {
namespace {

// Sorted, distinct.
void sort_unique(std::vector<int32_t> *v) {
    std::sort(v->begin(), v->end());
    v->erase(std::unique(v->begin(), v->end()), v->end());
}

bool contains(const std::vector<int32_t> &sorted, int32_t x) { return std::binary_search(sorted.begin(), sorted.end(), x); }

// The entry of number num in xe (sorted by number), or null.
const xref_entry *entry_of(const std::vector<xref_entry> &xe, int64_t num) {
    auto it = std::lower_bound(xe.begin(), xe.end(), num, [](const xref_entry &e, int64_t n) { return e.num < n; });
    return it != xe.end() && it->num == num ? &*it : nullptr;
}

// The direct entry whose header "num gen obj" an offset points at, or -1.
int32_t direct_at(const doc *d, const entries_by_pos &objects, int64_t offset, int32_t num, int64_t gen) {
    const int32_t h = header_at(d->data, d->len, offset, num, gen);
    return h < 0 ? -1 : objects.find(h);
}

}  // namespace

void choose_by_xref(const doc *d, const std::vector<uint8_t> &objstm, const std::vector<member_origin> &origins,
                    std::vector<int32_t> dups, std::vector<uint8_t> *keep) {
    const objent *it = d->objs.items;
    sort_unique(&dups);
    // Object streams defined more than once are asked for too: their own
    // entries tell which of them a member's entry means.
    std::vector<int32_t> streams;
    for (int32_t i = 0; i < d->objs.count && static_cast<size_t>(i) < objstm.size(); ++i)
        if (objstm[static_cast<size_t>(i)]) streams.push_back(it[i].num);
    std::sort(streams.begin(), streams.end());
    std::vector<int32_t> wanted = dups;
    for (size_t k = 1; k < streams.size(); ++k)
        if (streams[k] == streams[k - 1]) wanted.push_back(streams[k]);
    sort_unique(&wanted);

    const entries_by_pos objects(d);
    std::vector<xref_entry> xe;
    if (!read_xref_chain(d, objects, wanted, &xe)) return;

    // The members of the numbers asked for, with their origins.
    std::vector<std::pair<int32_t, const member_origin *>> members;  // (num, origin)
    for (const member_origin &o : origins)
        if (contains(dups, it[o.member].num)) members.emplace_back(it[o.member].num, &o);
    std::sort(members.begin(), members.end(), [](const auto &a, const auto &b) { return a.first < b.first; });

    std::vector<std::pair<int32_t, int32_t>> winners;  // (num, index in the table)
    for (const int32_t num : dups) {
        const xref_entry *e = entry_of(xe, num);
        if (!e) continue;
        int32_t w = -1;
        if (e->type == 1) {
            const int32_t k = direct_at(d, objects, e->f2, num, e->f3);
            if (k >= 0 && it[k].num == num && !objstm[static_cast<size_t>(k)]) w = k;
        } else {
            // Members listed by an object stream of that number in that place.
            auto range = std::equal_range(members.begin(), members.end(), std::make_pair(num, nullptr),
                                          [](const auto &a, const auto &b) { return a.first < b.first; });
            std::vector<const member_origin *> named;
            for (auto m = range.first; m != range.second; ++m)
                if (it[m->second->objstm].num == e->f2 && m->second->slot == e->f3) named.push_back(m->second);
            if (named.size() == 1) {
                w = named[0]->member;
            } else if (named.size() > 1) {
                const xref_entry *s = entry_of(xe, e->f2);
                const int32_t k = s && s->type == 1 ? direct_at(d, objects, s->f2, static_cast<int32_t>(e->f2), s->f3) : -1;
                for (const member_origin *o : named)
                    if (o->objstm == k) w = o->member;
            }
        }
        if (w >= 0) winners.emplace_back(num, w);
    }
    if (winners.empty()) return;
    // winners is sorted by number, as dups is.
    for (int32_t i = 0; i < d->objs.count; ++i) {
        auto win = std::lower_bound(winners.begin(), winners.end(), std::make_pair(it[i].num, INT32_MIN));
        if (win != winners.end() && win->first == it[i].num) (*keep)[static_cast<size_t>(i)] = win->second == i;
    }
}

}  // namespace plenvo
