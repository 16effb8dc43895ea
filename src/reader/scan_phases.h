// Helpers shared by the reading phases that build the object table (object
// scan, object streams, duplicate resolution). Internal to src/reader.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
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

// Direct object scan: headers, stream extents, clean-up. Appends to d->objs
// in file order; never fails (what it cannot read is left out) but for want
// of memory (std::bad_alloc, also when the table cannot grow). When
// objstm_names is not null, it receives every position of the bytes
// "/ObjStm" in the file, increasing (what objstm_flags below may take).
void scan_objects(doc *d, std::vector<int32_t> *objstm_names = nullptr);
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

// ---- stream lengths (stream_lengths.cpp) ----

// The /Length of each direct stream entry's dictionary region as
// parse_length gives it, asked entry by entry. Disjoint regions are read one
// by one; overlapping ones (see stream_regions_overlap) share one list of the
// file's /Length occurrences, so the work stays linear in the regions' bytes.
class stream_lengths {
public:
    // For d's table as it stands (which must not change while this lives).
    // May throw std::bad_alloc.
    explicit stream_lengths(const doc *d);
    ~stream_lengths();
    stream_lengths(const stream_lengths &) = delete;
    stream_lengths &operator=(const stream_lengths &) = delete;

    // *len a direct length (or -1), *ref the number of an indirect one (or
    // -1); both -1 for an entry that is no direct stream entry.
    void of(const objent &e, int32_t *len, int32_t *ref);

private:
    struct shared;
    const doc *d_;
    std::unique_ptr<shared> shared_;
};

// ---- stream dictionary regions (stream_regions.cpp) ----
// The dictionary region of a direct stream entry runs from dict_pos to
// stream_pos (to len when stream_pos is not above 0). Regions of different
// entries are normally disjoint; they overlap when a value opening with a
// single '<' (a hex string) is walked on into a later dictionary, or when
// dictionaries of several objects nest. Then one search per entry would read
// the shared bytes again and again: the searches below switch to one list of
// occurrences for the whole file.

// True when two stream dictionary regions among the first `count` entries overlap.
bool stream_regions_overlap(const doc *d, int32_t count);

// Positions of every occurrence of /name in the file (boundary tested against
// the byte after it), increasing, that accept(position) takes.
template <class Accept>
std::vector<int32_t> name_occurrences(const doc *d, const char *name, Accept accept) {
    std::vector<int32_t> out;
    const int32_t n = static_cast<int32_t>(std::strlen(name));
    for (int32_t p = find_name(d->data, d->len, 0, d->len, name); p >= 0;
         p = find_name(d->data, d->len, p + n + 1, d->len, name))
        if (accept(p)) out.push_back(p);
    return out;
}

// For each of the first `count` entries: when it is a direct stream entry
// (and `only` is null or marks it), the position of the first occurrence of
// /name in its dictionary region that accept(position) takes (accept must not
// depend on the region), else -1. `overlap` is stream_regions_overlap(d, count).
// A name ending right at a "stream" keyword is impossible (the keyword needs
// a non-alphanumeric byte before it), so an occurrence found over the whole
// file lies in a region exactly when it starts in it and ends by its end.
template <class Accept>
std::vector<int32_t> first_name_in_stream_regions(const doc *d, int32_t count, bool overlap, const char *name,
                                                  Accept accept, const std::vector<uint8_t> *only = nullptr) {
    std::vector<int32_t> out(static_cast<size_t>(count > 0 ? count : 0), -1);
    const int32_t n = static_cast<int32_t>(std::strlen(name));
    const objent *it = d->objs.items;
    auto region_end = [d](const objent &e) { return e.stream_pos > 0 ? e.stream_pos : d->len; };
    auto is_stream_entry = [only, it](int32_t i) {
        const objent &e = it[i];
        return !e.in_objstm && e.has_stream && e.dict_pos >= 0 && (!only || (*only)[static_cast<size_t>(i)]);
    };
    if (!overlap) {
        for (int32_t i = 0; i < count; ++i) {
            if (!is_stream_entry(i)) continue;
            const int32_t end = region_end(it[i]);
            for (int32_t p = find_name(d->data, d->len, it[i].dict_pos, end, name); p >= 0;
                 p = find_name(d->data, d->len, p + n + 1, end, name))
                if (accept(p)) {
                    out[static_cast<size_t>(i)] = p;
                    break;
                }
        }
        return out;
    }
    const std::vector<int32_t> all = name_occurrences(d, name, accept);
    for (int32_t i = 0; i < count; ++i) {
        if (!is_stream_entry(i)) continue;
        auto o = std::lower_bound(all.begin(), all.end(), it[i].dict_pos);
        if (o != all.end() && static_cast<int64_t>(*o) + n + 1 <= region_end(it[i])) out[static_cast<size_t>(i)] = *o;
    }
    return out;
}

// ---- shared by object streams and duplicate resolution ----

// For the first `count` entries of d->objs, 1 where the entry is an object
// stream (a direct stream entry with the name /ObjStm in its dictionary
// region), else 0.
std::vector<uint8_t> objstm_flags(const doc *d, int32_t count);
// The same flags, given every position of the bytes "/ObjStm" in the file
// (increasing): a region holding none of them holds no /ObjStm, and only the
// regions that do are searched.
std::vector<uint8_t> objstm_flags(const doc *d, int32_t count, const std::vector<int32_t> &objstm_names);

// read_object_streams with the flags objstm_flags gives for the table as it
// stands, computed once by the caller and passed on to resolve_duplicates.
// Entries past the flags are not read.
void read_object_streams(doc *d, const std::vector<uint8_t> &is_objstm);
// resolve_duplicates with the flags of read_object_streams: entries past them
// (members appended since) count as no object stream.
void resolve_duplicates(doc *d, const std::vector<uint8_t> &objstm);

}  // namespace plenvo
