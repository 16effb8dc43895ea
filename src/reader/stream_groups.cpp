// Stream entries grouped by the "stream" keyword they share, and the object
// stream test over their dictionary regions.
//
// Several entries share one "stream" keyword when a value that opens with a
// single '<' (a hex string) is walked on into a later dictionary. Their
// dictionary regions then nest: each runs from the entry's own '<' to the
// same end. Working per group keeps every pass over those regions linear.
#include <algorithm>

#include "reader/scan.h"
#include "reader/scan_phases.h"

namespace plenvo {

std::vector<int32_t> stream_entries_by_end(const doc *d, int32_t count, bool *shared) {
    std::vector<int32_t> idx;
    const objent *it = d->objs.items;
    bool increasing = true;
    int32_t last = -1;
    for (int32_t i = 0; i < count; ++i) {
        if (it[i].in_objstm || !it[i].has_stream || it[i].dict_pos < 0) continue;
        if (it[i].stream_pos <= last) increasing = false;
        last = it[i].stream_pos;
        idx.push_back(i);
    }
    *shared = !increasing;
    if (!increasing) {
        std::sort(idx.begin(), idx.end(), [it](int32_t a, int32_t b) {
            if (it[a].stream_pos != it[b].stream_pos) return it[a].stream_pos < it[b].stream_pos;
            return it[a].dict_pos < it[b].dict_pos;
        });
        // Sharing entries are consecutive now; stream_pos equal means shared.
        *shared = false;
        for (size_t k = 1; k < idx.size(); ++k)
            if (it[idx[k]].stream_pos == it[idx[k - 1]].stream_pos) *shared = true;
    }
    return idx;
}

std::vector<uint8_t> objstm_flags(const doc *d, int32_t count) {
    std::vector<uint8_t> flag(static_cast<size_t>(count > 0 ? count : 0), 0);
    const objent *it = d->objs.items;
    bool shared = false;
    const std::vector<int32_t> idx = stream_entries_by_end(d, count, &shared);
    std::vector<int32_t> hit;
    size_t g = 0;
    while (g < idx.size()) {
        size_t h = g + 1;
        while (h < idx.size() && it[idx[h]].stream_pos == it[idx[g]].stream_pos) ++h;
        // The region runs to stream_pos, or to len when that is not above 0.
        const int32_t sp = it[idx[g]].stream_pos;
        const int32_t end = sp > 0 ? sp : d->len;
        hit.resize(h - g);
        first_name_in_regions(d, &idx[g], h - g, end, "ObjStm", [](int32_t) { return true; }, hit.data());
        for (size_t k = g; k < h; ++k) flag[static_cast<size_t>(idx[k])] = hit[k - g] >= 0 ? 1 : 0;
        g = h;
    }
    return flag;
}

}  // namespace plenvo
