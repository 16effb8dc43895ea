// Duplicate resolution: one entry per object number. A direct object beats
// any member of an object stream; among direct objects, and among members,
// the one latest in table order wins. Object streams themselves and numbers
// above MAX_OBJNUM leave the table.
#include <algorithm>
#include <new>

#include "reader/scan_phases.h"

namespace plenvo {
namespace {

// Decides for entry i with the latest direct (not object stream) and the
// latest member entry of its number.
bool keep_entry(const objent &e, int32_t i, bool objstm, int32_t last_direct, int32_t last_member) {
    if (e.in_objstm) return last_direct < 0 && last_member == i;
    if (last_direct >= 0 && last_direct != i) return false;
    return !objstm;
}

// Keep flags with two arrays indexed by number (dense numbering).
void decide_by_arrays(const doc *d, int32_t top, const std::vector<uint8_t> &objstm, std::vector<uint8_t> *keep) {
    const objent *it = d->objs.items;
    const int32_t n = d->objs.count;
    std::vector<int32_t> last_direct(static_cast<size_t>(top) + 1, -1), last_member(static_cast<size_t>(top) + 1, -1);
    for (int32_t i = 0; i < n; ++i) {
        const int32_t num = it[i].num;
        if (num < 1 || num > top) continue;
        if (it[i].in_objstm)
            last_member[static_cast<size_t>(num)] = i;
        else if (!objstm[static_cast<size_t>(i)])
            last_direct[static_cast<size_t>(num)] = i;
    }
    for (int32_t i = 0; i < n; ++i) {
        const int32_t num = it[i].num;
        if (num < 1 || num > top) continue;
        (*keep)[static_cast<size_t>(i)] = keep_entry(it[i], i, objstm[static_cast<size_t>(i)] != 0,
                                                     last_direct[static_cast<size_t>(num)],
                                                     last_member[static_cast<size_t>(num)]);
    }
}

// The same decisions from the entries sorted by number (sparse numbering,
// where arrays of the largest number would be mostly empty).
void decide_by_sorting(const doc *d, const std::vector<uint8_t> &objstm, std::vector<uint8_t> *keep) {
    const objent *it = d->objs.items;
    const int32_t n = d->objs.count;
    std::vector<std::pair<int32_t, int32_t>> by_num;  // (num, index)
    for (int32_t i = 0; i < n; ++i)
        if (it[i].num >= 1 && it[i].num <= MAX_OBJNUM) by_num.emplace_back(it[i].num, i);
    // Usually in order already: files list their objects by number.
    if (!std::is_sorted(by_num.begin(), by_num.end())) std::sort(by_num.begin(), by_num.end());
    size_t g = 0;
    while (g < by_num.size()) {
        size_t h = g;
        int32_t last_direct = -1, last_member = -1;
        for (; h < by_num.size() && by_num[h].first == by_num[g].first; ++h) {
            const int32_t i = by_num[h].second;  // increasing within the group
            if (it[i].in_objstm)
                last_member = i;
            else if (!objstm[static_cast<size_t>(i)])
                last_direct = i;
        }
        for (size_t k = g; k < h; ++k) {
            const int32_t i = by_num[k].second;
            (*keep)[static_cast<size_t>(i)] =
                keep_entry(it[i], i, objstm[static_cast<size_t>(i)] != 0, last_direct, last_member);
        }
        g = h;
    }
}

}  // namespace

// Makes the table final: keeps the winning entry of each number in table
// order (the others are removed without reordering) and sets d->max_num.
// Never fails; allocates working arrays proportional to the table (or to the
// largest number when numbering is dense). flags: the object-stream flags
// read_object_streams was given.
void resolve_duplicates(doc *d, const std::vector<uint8_t> &flags) {
    objvec &v = d->objs;
    d->max_num = 0;
    if (v.count == 0) return;
    // Entries past the flags are members appended since: no object streams.
    std::vector<uint8_t> objstm(flags.begin(), flags.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(flags.size(), static_cast<size_t>(v.count))));
    objstm.resize(static_cast<size_t>(v.count), 0);
    int32_t top = 0;
    for (int32_t i = 0; i < v.count; ++i)
        if (v.items[i].num <= MAX_OBJNUM && v.items[i].num > top) top = v.items[i].num;
    std::vector<uint8_t> keep(static_cast<size_t>(v.count), 0);
    bool decided = false;
    if (static_cast<int64_t>(top) <= 4 * static_cast<int64_t>(v.count) + 4096) {
        try {
            decide_by_arrays(d, top, objstm, &keep);
            decided = true;
        } catch (const std::bad_alloc &) {
            // The sorted form needs memory in proportion to the table only.
        }
    }
    if (!decided) decide_by_sorting(d, objstm, &keep);
    int32_t w = 0;
    for (int32_t i = 0; i < v.count; ++i) {
        if (!keep[static_cast<size_t>(i)]) continue;
        if (v.items[i].num > d->max_num) d->max_num = v.items[i].num;
        if (w != i) v.items[w] = v.items[i];
        ++w;
    }
    v.count = w;
}

}  // namespace plenvo
