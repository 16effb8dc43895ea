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

}  // namespace plenvo
