// Stream dictionary regions: whether they overlap, and which entries are
// object streams.
#include "reader/scan_phases.h"

namespace plenvo {

bool stream_regions_overlap(const doc *d, int32_t count) {
    // Table order is increasing dict_pos: a region overlaps a later one when
    // the furthest end so far passes the later one's start.
    int32_t furthest = -1;
    for (int32_t i = 0; i < count; ++i) {
        const objent &e = d->objs.items[i];
        if (e.in_objstm || !e.has_stream || e.dict_pos < 0) continue;
        if (e.dict_pos < furthest) return true;
        const int32_t end = e.stream_pos > 0 ? e.stream_pos : d->len;
        if (end > furthest) furthest = end;
    }
    return false;
}

std::vector<uint8_t> objstm_flags(const doc *d, int32_t count) {
    const std::vector<int32_t> at = first_name_in_stream_regions(d, count, stream_regions_overlap(d, count), "ObjStm", [](int32_t) { return true; });
    std::vector<uint8_t> flag(at.size(), 0);
    for (size_t i = 0; i < at.size(); ++i) flag[i] = at[i] >= 0 ? 1 : 0;
    return flag;
}

std::vector<uint8_t> objstm_flags(const doc *d, int32_t count, const std::vector<int32_t> &objstm_names) {
    if (stream_regions_overlap(d, count)) return objstm_flags(d, count);
    std::vector<uint8_t> flag(static_cast<size_t>(count > 0 ? count : 0), 0);
    if (objstm_names.empty()) return flag;
    // Disjoint regions come in file order: the first name at or after each
    // region's start is found by stepping forward.
    const size_t m = objstm_names.size();
    size_t c = 0;
    for (int32_t i = 0; i < count; ++i) {
        const objent &e = d->objs.items[i];
        if (e.in_objstm || !e.has_stream || e.dict_pos < 0) continue;
        const int32_t end = e.stream_pos > 0 ? e.stream_pos : d->len;
        if (c > 0 && objstm_names[c - 1] >= e.dict_pos)
            c = static_cast<size_t>(std::lower_bound(objstm_names.begin(), objstm_names.end(), e.dict_pos) - objstm_names.begin());
        while (c < m && objstm_names[c] < e.dict_pos) ++c;
        if (c == m || static_cast<int64_t>(objstm_names[c]) + 7 > end) continue;
        flag[static_cast<size_t>(i)] = find_name(d->data, d->len, e.dict_pos, end, "ObjStm") >= 0 ? 1 : 0;
    }
    return flag;
}

}  // namespace plenvo
