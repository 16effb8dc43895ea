// Helpers shared by the reading phases that build the object table (object
// scan, object streams, duplicate resolution). Internal to src/reader.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "reader/doc.h"
#include "reader/scan.h"

namespace plenvo {

// Largest compressed object stream that is decoded, and the buffer size
// above which a decode that ran out of room is not tried again.
constexpr int64_t OBJSTM_MAX_COMPRESSED = 268435456;
constexpr uint64_t OBJSTM_RETRY_LIMIT = 268435455;
// Limits of an object stream's header and members.
constexpr int32_t OBJSTM_MAX_N = 100000;
constexpr int32_t OBJSTM_MAX_MEMBER = 0x100000;

// ---- dictionary closing (dict_close.cpp) ----

// Walks the dictionary that opens at `start` as dict_stream_kw does and
// returns the position of the ">>" that brings the nesting back to zero, or
// -1 (no such ">>", an unterminated string, a '<', '>' or '(' as last byte).
// Reads nothing at or past len.
int32_t dict_close_one(const uint8_t *t, int32_t len, int32_t start);

// The same answer for each of n starts (strictly increasing positions), in one
// forward sweep whose work grows with len plus n log n, however the walks
// overlap. closes[i] receives the answer for starts[i]. May throw
// std::bad_alloc; never reads at or past len.
void find_dict_closes(const uint8_t *t, int32_t len, const int32_t *starts, size_t n,
                      int32_t *closes);

// ---- object scan internals (object_scan.cpp) ----

// Pass 1 only: appends one entry per object header (stream entries without
// their extents). Table order is file order.
void scan_headers(doc *d);
// Pass 2 only: data_end, data_len, no_endstream and "endobj" of stream entries.
void stream_extents(doc *d);
// Pass 3 only: drops stream entries without "endobj" and entries whose header
// lies inside some stream's data, keeping the order of the others.
void cleanup_entries(doc *d);
// The clean-up without working arrays: each entry is compared with the stream
// range of every entry still in the table. Quadratic; used only when the
// arrays of cleanup_entries cannot be allocated.
void cleanup_entries_unindexed(doc *d);

// ---- shared by object streams and duplicate resolution ----

// For the first `count` entries of d->objs, 1 where the entry is an object
// stream (a direct stream entry with the name /ObjStm in its dictionary
// region), else 0. Linear in the regions even when entries share one.
std::vector<uint8_t> objstm_flags(const doc *d, int32_t count);

// Indexes of the direct stream entries among the first `count` entries,
// grouped by stream_pos: entries of one group are consecutive, in increasing
// dict_pos; groups in increasing stream_pos. *shared is set to false when no
// two entries share a stream_pos.
std::vector<int32_t> stream_entries_by_end(const doc *d, int32_t count, bool *shared);

// For the entries idx[0..m) of one group (one stream_pos, increasing
// dict_pos), writes to out[k] the position of the first occurrence of /name in
// entry k's region [dict_pos, end) that accept(position) takes, or -1. The
// occurrences are visited once for the whole group, and no further than the
// first taken one at or after the last start.
template <class Accept>
void first_name_in_regions(const doc *d, const int32_t *idx, size_t m, int32_t end, const char *name,
                           Accept accept, int32_t *out) {
    std::fill(out, out + m, -1);
    if (m == 0) return;
    const int32_t n = static_cast<int32_t>(std::strlen(name));
    const objent *it = d->objs.items;
    size_t k = 0;  // entries before k have their answer
    for (int32_t p = find_name(d->data, d->len, it[idx[0]].dict_pos, end, name); p >= 0;
         p = find_name(d->data, d->len, p + n + 1, end, name)) {
        if (!accept(p)) continue;
        while (k < m && it[idx[k]].dict_pos <= p) out[k++] = p;
        if (k == m) break;
    }
}

}  // namespace plenvo
