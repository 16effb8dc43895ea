// The cross-reference walk: /Root, /Info and /Encrypt from the trailers that follow
// a classic cross-reference section and from the dictionaries of
// cross-reference streams, starting at the last "startxref". The sections'
// entries are never read: objects are found by the scan.
#include <algorithm>
#include <cstring>

#include "reader/doc.h"
#include "reader/scan.h"
#include "reader/xref_sections.h"

namespace plenvo {
namespace {

constexpr int MAX_XREF_STREAMS = 32;

}  // namespace

// Occurrences of the keyword cannot overlap, so the last one seen from the
// end is the last one a forward search would find. It normally stands in
// the last bytes: those are read backwards; a file without one there is
// searched forwards, jumping from one 'x' (its sixth byte) to the next.
int32_t last_startxref(const uint8_t *t, int32_t len) {
    const int32_t tail = len > 65536 ? len - 65536 : 0;
    for (int32_t i = len - 9; i >= tail; --i)
        if (t[i] == 's' && kw_at(t, i, len, "startxref")) return i;
    int32_t last = -1;
    const uint8_t *p = t + 5;
    const uint8_t *end = t + std::min<int64_t>(len, static_cast<int64_t>(tail) + 5);
    while (p < end) {
        const void *x = std::memchr(p, 'x', static_cast<size_t>(end - p));
        if (!x) break;
        const int32_t i = static_cast<int32_t>(static_cast<const uint8_t *>(x) - t) - 5;
        if (kw_at(t, i, len, "startxref")) last = i;
        p = static_cast<const uint8_t *>(x) + 1;
    }
    return last;
}

namespace {

// Remembers the answer of a forward search so that calls with non-decreasing
// start positions cost one pass over the text in all.
struct forward_memo {
    int32_t from = 0;
    int32_t hit = -2;  // -2: nothing remembered; -1: no hit at or after `from`

    template <class Search>
    int32_t next(int32_t pos, Search search) {
        if (hit != -2 && from <= pos && (hit == -1 || hit >= pos)) return hit;
        from = pos;
        hit = search(pos);
        return hit;
    }
};

// The integer that follows a name: white space skipped, read from `pos`
// (parse_int_at over the whole file). -1 when there is none.
int32_t int_after(const uint8_t *t, int32_t len, int32_t pos) {
    if (pos >= len) return -1;
    return parse_int_at(t, len, &pos);
}

// Reads every trailer from the first "trailer" keyword at or after `from` to
// the end of the file. Each trailer's extent runs from its dictionary to the
// next "startxref" (or the end of the file); the last trailer with a usable
// /Root decides d->root (and d->info by its /Info), any /Encrypt marks the file.
void read_trailers(doc *d, int32_t from) {
    const uint8_t *t = d->data;
    const int32_t len = d->len;
    // Extent starts grow from one trailer to the next, so each search below
    // can resume where it stopped: the whole loop stays linear.
    forward_memo next_startxref, next_root, next_encrypt, next_info;
    auto find_startxref = [&](int32_t p) { return find_kw(t, len, p, "startxref"); };
    // A /Root occurrence is usable when an integer of 0 or more follows it
    // (read from one byte after the name); that does not depend on the trailer.
    auto find_usable_root = [&](int32_t p) {
        for (int32_t r = find_name(t, len, p, len, "Root"); r >= 0; r = find_name(t, len, r + 5, len, "Root"))
            if (int_after(t, len, r + 6) >= 0) return r;
        return int32_t{-1};
    };
    auto find_encrypt = [&](int32_t p) { return find_name(t, len, p, len, "Encrypt"); };
    auto find_info = [&](int32_t p) { return find_name(t, len, p, len, "Info"); };

    for (int32_t kw = find_kw(t, len, from, "trailer"); kw >= 0; kw = find_kw(t, len, kw + 1, "trailer")) {
        const int32_t dpos = skip_blank(t, kw + 7, len);
        int32_t end = next_startxref.next(dpos, find_startxref);
        if (end < 0) end = len;
        if (dpos >= end || t[dpos] != '<') continue;
        // A name found over the whole file lies in the extent when it ends by
        // `end`. A name cannot end right at a "startxref" keyword (the keyword
        // needs a non-alphanumeric byte before it), so the boundary test is
        // the same as for a search bounded by the extent.
        const int32_t r = next_root.next(dpos, find_usable_root);
        if (r >= 0 && r + 5 <= end) {
            d->root = int_after(t, len, r + 6);
            // The information dictionary of the same trailer, when it names one.
            const int32_t i = next_info.next(dpos, find_info);
            d->info = i >= 0 && i + 5 <= end ? int_after(t, len, i + 6) : -1;
        }
        const int32_t e = next_encrypt.next(dpos, find_encrypt);
        if (e >= 0 && e + 8 <= end) d->encrypted = 1;
    }
}

// Reads the dictionary of the cross-reference stream whose header starts at
// p (a digit). Counts the stream in *streams. Returns the usable /Prev offset
// to continue with, or -1 to stop the walk.
int32_t read_xref_stream(doc *d, int32_t p, int *streams) {
    const uint8_t *t = d->data;
    const int32_t len = d->len;
    int32_t i = p;
    while (i < len && is_digit(t[i])) ++i;
    i = skip_ws(t, i, len);
    if (i < len && is_digit(t[i])) {
        parse_int_at(t, len, &i);
        i = skip_ws(t, i, len);
    }
    ++*streams;
    if (!kw_at(t, i, len, "obj")) return -1;
    i = skip_blank(t, i + 3, len);
    int32_t end = len;
    if (i < len && t[i] == '<') {
        const int32_t s = dict_stream_kw(t, len, i);
        if (s >= 0) end = s;
    }
    int32_t prev = -1;
    const int32_t pv = find_name(t, len, i, end, "Prev");
    if (pv >= 0) {
        const int32_t v = int_after(t, len, pv + 5);
        if (v >= 0 && v < len) prev = v;
    }
    if (d->root == -1) {
        const int32_t r = find_name(t, len, i, end, "Root");
        if (r >= 0) {
            const int32_t v = int_after(t, len, r + 6);
            if (v >= 0) {
                d->root = v;
                const int32_t inf = find_name(t, len, i, end, "Info");
                d->info = inf >= 0 ? int_after(t, len, inf + 6) : -1;
            }
        }
    }
    if (find_name(t, len, i, end, "Encrypt") >= 0) d->encrypted = 1;
    return prev;
}

}  // namespace

// Fills d->root, d->info and d->encrypted from the sections reached from the last
// "startxref". Never fails; reads nothing outside d->data[0..len).
void xref_walk(doc *d) {
    const uint8_t *t = d->data;
    const int32_t len = d->len;
    if (!t || len <= 0) return;
    const int32_t sx = last_startxref(t, len);
    if (sx < 0) return;
    int32_t off = int_after(t, len, sx + 9);
    if (off < 0 || off >= len) return;
    int streams = 0;
    while (streams < MAX_XREF_STREAMS && off >= 0 && off < len) {
        const int32_t p = skip_ws(t, off, len);
        if (p >= len) return;
        if (kw_at(t, p, len, "xref")) {
            read_trailers(d, p + 4);
            return;
        }
        if (!is_digit(t[p])) return;
        off = read_xref_stream(d, p, &streams);
    }
}

}  // namespace plenvo
