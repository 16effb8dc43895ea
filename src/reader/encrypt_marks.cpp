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

constexpr int32_t TRAILER_LEN = 7;  // "trailer"

// True when a trailer in t[from, to) names /Encrypt: the dictionary after a
// "trailer" keyword, up to the next "startxref", "trailer" or `to`.
bool trailer_encrypt(const uint8_t *t, int32_t len, int32_t from, int32_t to) {
    for (int32_t kw = find_kw(t, to, from, "trailer"); kw >= 0;) {
        const int32_t next = find_kw(t, to, kw + TRAILER_LEN, "trailer");
        int32_t end = next >= 0 ? next : to;
        const int32_t sx = find_kw(t, end, kw + TRAILER_LEN, "startxref");
        if (sx >= 0) end = sx;
        const int32_t dict = skip_blank(t, kw + TRAILER_LEN, end);
        if (dict < end && t[dict] == '<' && kw_at(t, kw, len, "trailer") &&
            find_name(t, end, dict, end, "Encrypt") >= 0)
            return true;
        kw = next;
    }
    return false;
}

// True when the name /Encrypt occurs in t[from, to). Looks for its 'E', a
// byte dictionaries seldom hold, so that most regions cost one memchr.
bool names_encrypt(const uint8_t *t, int32_t from, int32_t to) {
    for (int32_t i = from + 1; i < to;) {
        const void *hit = std::memchr(t + i, 'E', static_cast<size_t>(to - i));
        if (!hit) return false;
        i = static_cast<int32_t>(static_cast<const uint8_t *>(hit) - t);
        if (t[i - 1] == '/' && to - i >= 7 && std::memcmp(t + i, "Encrypt", 7) == 0 &&
            (to - i == 7 || !is_namecont(t[i + 7])))
            return true;
        ++i;
    }
    return false;
}

// True when the dictionary region t[start, end) says /Type /XRef at its top level.
bool is_xref_stream(const uint8_t *t, int32_t start, int32_t end) {
    const int32_t p = find_name_top(t, end, start, end, "Type");
    if (p < 0) return false;
    const int32_t q = skip_blank(t, p + 5, end);
    return q + 5 <= end && std::memcmp(t + q, "/XRef", 5) == 0 && (q + 5 == end || !is_namecont(t[q + 5]));
}

int32_t region_end(const doc *d, const objent &e) { return e.stream_pos > 0 ? e.stream_pos : d->len; }

bool is_stream_entry(const objent &e) { return !e.in_objstm && e.has_stream && e.dict_pos >= 0; }

// The stretches of the file outside every direct object's text (from its
// header to just past its "endobj"), in file order: where trailers stand.
std::vector<std::pair<int32_t, int32_t>> between_objects(const doc *d) {
    std::vector<std::pair<int32_t, int32_t>> spans;
    for (int32_t i = 0; i < d->objs.count; ++i) {
        const objent &e = d->objs.items[i];
        if (!e.in_objstm && e.hdr_pos >= 0 && e.end_pos > e.hdr_pos) spans.emplace_back(e.hdr_pos, e.end_pos);
    }
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<int32_t, int32_t>> gaps;
    int32_t covered = 0;
    for (const auto &s : spans) {
        if (s.first > covered) gaps.emplace_back(covered, s.first);
        covered = std::max(covered, s.second);
    }
    if (covered < d->len) gaps.emplace_back(covered, d->len);
    return gaps;
}

// The general form of the search, for tables out of file order and
// overlapping dictionary regions: the stretches between objects sorted
// first, the regions through the file's list of /Encrypt names.
bool encrypt_anywhere(const doc *d) {
    for (const auto &g : between_objects(d))
        if (trailer_encrypt(d->data, d->len, g.first, g.second)) return true;
    const int32_t count = d->objs.count;
    const std::vector<int32_t> at = first_name_in_stream_regions(d, count, stream_regions_overlap(d, count), "Encrypt",
                                                                 [](int32_t) { return true; });
    for (int32_t i = 0; i < count; ++i) {
        const objent &e = d->objs.items[i];
        if (at[static_cast<size_t>(i)] >= 0 && is_xref_stream(d->data, e.dict_pos, region_end(d, e))) return true;
    }
    return false;
}

}  // namespace

void mark_encryption(doc *d) {
    if (d->encrypted || !d->data || d->len <= 0) return;
    const uint8_t *t = d->data;
    // As a rule the table is in file order and the dictionary regions are
    // disjoint: one pass over it then visits the stretches between objects
    // (those too short for "trailer" are passed over) and each stream
    // dictionary once. Otherwise the general search decides.
    int32_t covered = 0, last_hdr = -1, furthest = -1;
    for (int32_t i = 0; i < d->objs.count; ++i) {
        const objent &e = d->objs.items[i];
        if (e.in_objstm || e.hdr_pos < 0) continue;
        if (e.hdr_pos < last_hdr || (is_stream_entry(e) && e.dict_pos < furthest)) {
            d->encrypted = encrypt_anywhere(d) ? 1 : 0;
            return;
        }
        last_hdr = e.hdr_pos;
        if (e.hdr_pos - covered >= TRAILER_LEN && trailer_encrypt(t, d->len, covered, e.hdr_pos)) {
            d->encrypted = 1;
            return;
        }
        if (e.end_pos > covered) covered = e.end_pos;
        if (!is_stream_entry(e)) continue;
        const int32_t end = region_end(d, e);
        furthest = std::max(furthest, end);
        if (names_encrypt(t, e.dict_pos, end) && is_xref_stream(t, e.dict_pos, end)) {
            d->encrypted = 1;
            return;
        }
    }
    if (d->len - covered >= TRAILER_LEN && trailer_encrypt(t, d->len, covered, d->len)) d->encrypted = 1;
}

}  // namespace plenvo
