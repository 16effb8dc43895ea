// Encryption marks anywhere in the file: /Encrypt in a trailer dictionary
// (a "trailer" keyword in the bytes between objects) or in the dictionary of
// a cross-reference stream, whether or not the last "startxref" leads there.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "reader/scan.h"
#include "reader/scan_phases.h"

namespace plenvo {
namespace {

// The stretches of the file outside every direct object's text (from its
// header to just past its "endobj"), in file order: where trailers stand.
std::vector<std::pair<int32_t, int32_t>> between_objects(const doc *d) {
    std::vector<std::pair<int32_t, int32_t>> spans;
    for (int32_t i = 0; i < d->objs.count; ++i) {
        const objent &e = d->objs.items[i];
        if (!e.in_objstm && e.hdr_pos >= 0 && e.end_pos > e.hdr_pos) spans.emplace_back(e.hdr_pos, e.end_pos);
    }
    if (!std::is_sorted(spans.begin(), spans.end())) std::sort(spans.begin(), spans.end());
    std::vector<std::pair<int32_t, int32_t>> gaps;
    int32_t covered = 0;
    for (const auto &s : spans) {
        if (s.first > covered) gaps.emplace_back(covered, s.first);
        covered = std::max(covered, s.second);
    }
    if (covered < d->len) gaps.emplace_back(covered, d->len);
    return gaps;
}

// True when a trailer in t[from, to) names /Encrypt: the dictionary after a
// "trailer" keyword, up to the next "startxref", "trailer" or `to`.
bool trailer_encrypt(const uint8_t *t, int32_t len, int32_t from, int32_t to) {
    for (int32_t kw = find_kw(t, to, from, "trailer"); kw >= 0;) {
        const int32_t next = find_kw(t, to, kw + 7, "trailer");
        int32_t end = next >= 0 ? next : to;
        const int32_t sx = find_kw(t, end, kw + 7, "startxref");
        if (sx >= 0) end = sx;
        const int32_t dict = skip_blank(t, kw + 7, end);
        if (dict < end && t[dict] == '<' && kw_at(t, kw, len, "trailer") &&
            find_name(t, end, dict, end, "Encrypt") >= 0)
            return true;
        kw = next;
    }
    return false;
}

// True when the dictionary region r says /Type /XRef at its top level.
bool is_xref_stream(const uint8_t *t, int32_t start, int32_t end) {
    const int32_t p = find_name_top(t, end, start, end, "Type");
    if (p < 0) return false;
    const int32_t q = skip_blank(t, p + 5, end);
    return q + 5 <= end && std::memcmp(t + q, "/XRef", 5) == 0 && (q + 5 == end || !is_namecont(t[q + 5]));
}

}  // namespace

void mark_encryption(doc *d) {
    if (d->encrypted || !d->data || d->len <= 0) return;
    for (const auto &g : between_objects(d)) {
        if (trailer_encrypt(d->data, d->len, g.first, g.second)) {
            d->encrypted = 1;
            return;
        }
    }
    const int32_t count = d->objs.count;
    const std::vector<int32_t> at = first_name_in_stream_regions(d, count, stream_regions_overlap(d, count), "Encrypt",
                                                                 [](int32_t) { return true; });
    for (int32_t i = 0; i < count; ++i) {
        if (at[static_cast<size_t>(i)] < 0) continue;
        const objent &e = d->objs.items[i];
        if (is_xref_stream(d->data, e.dict_pos, e.stream_pos > 0 ? e.stream_pos : d->len)) {
            d->encrypted = 1;
            return;
        }
    }
}

}  // namespace plenvo
