// The chain of cross-reference sections: classic tables with their trailers
// and cross-reference streams, read from the last "startxref" along /Prev
// (and /XRefStm), all or nothing.
#include "reader/xref_sections.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "base/buf.h"
#include "reader/decoded_stream.h"
#include "reader/scan.h"
#include "reader/scan_phases.h"

namespace plenvo {

entries_by_pos::entries_by_pos(const doc *d) {
    at.reserve(static_cast<size_t>(d->objs.count));
    for (int32_t i = 0; i < d->objs.count; ++i)
        if (!d->objs.items[i].in_objstm && d->objs.items[i].hdr_pos >= 0) at.emplace_back(d->objs.items[i].hdr_pos, i);
    // The scan appends in file order: sorted as a rule.
    if (!std::is_sorted(at.begin(), at.end())) std::sort(at.begin(), at.end());
}

int32_t entries_by_pos::find(int32_t pos) const {
    auto it = std::lower_bound(at.begin(), at.end(), std::make_pair(pos, int32_t{-1}));
    return it != at.end() && it->first == pos ? it->second : -1;
}

namespace {

// Chains longer than this are taken for damaged, and so are trailer
// dictionaries longer than this: together they bound the bytes a chain reads.
constexpr int MAX_SECTIONS = 1024;
constexpr int32_t MAX_TRAILER = 65536;

// The numbers asked for, and the entry found so far for each.
struct wanted_entries {
    const std::vector<int32_t> &nums;
    std::vector<xref_entry> found;  // by position in nums; type 0 while none

    explicit wanted_entries(const std::vector<int32_t> &n) : nums(n), found(n.size(), xref_entry{0, 0, 0, 0}) {}

    // Position in nums of the first number at or after num.
    size_t from(int64_t num) const {
        return static_cast<size_t>(std::lower_bound(nums.begin(), nums.end(), num) - nums.begin());
    }
    // Entry for number num, the one at *k or later in nums (moves *k on).
    void offer(size_t *k, int64_t num, int32_t type, int64_t f2, int64_t f3) {
        while (*k < nums.size() && nums[*k] < num) ++*k;
        if (*k == nums.size() || nums[*k] != num) return;
        xref_entry &e = found[*k];
        if (e.type == 0) e = xref_entry{nums[*k], type, f2, f3};
    }
};

// A run of decimal digits at *i (no sign): its value, which must stay below
// 2^53; *i moves past it. False when there is none or it is too long.
bool digit_run(const uint8_t *t, int32_t end, int32_t *i, int64_t *v) {
    int32_t k = *i;
    if (k >= end || !is_digit(t[k])) return false;
    int64_t x = 0;
    for (; k < end && is_digit(t[k]); ++k) {
        x = x * 10 + (t[k] - '0');
        if (x >= (int64_t(1) << 53)) return false;
    }
    *i = k;
    *v = x;
    return true;
}

// The value of `key` in the dictionary t[from, end) when it is an offset
// inside the file: *out = -1 when the key is absent; false when its value is
// not such an offset.
bool offset_key(const uint8_t *t, int32_t len, int32_t from, int32_t end, const char *key, int64_t *out) {
    *out = -1;
    const int32_t p = find_name_top(t, end, from, end, key);
    if (p < 0) return true;
    int32_t i = p + 1 + static_cast<int32_t>(std::strlen(key));
    const int32_t v = parse_int_at(t, end, &i);
    if (v < 0 || v >= len) return false;
    *out = v;
    return true;
}

// Reads the classic table whose "xref" keyword is at p and its trailer:
// entries into w, the trailer's /Prev and /XRefStm into *prev, *xrefstm.
bool read_table(const uint8_t *t, int32_t len, int32_t p, wanted_entries &w, int64_t *prev, int64_t *xrefstm) {
    int32_t i = p + 4;
    for (;;) {
        i = skip_blank(t, i, len);
        if (i >= len) return false;
        if (kw_at(t, i, len, "trailer")) break;
        int64_t start, count;
        if (!digit_run(t, len, &i, &start)) return false;
        i = skip_ws(t, i, len);
        if (!digit_run(t, len, &i, &count)) return false;
        // Every entry takes more than 2 bytes: a count beyond that is damage.
        if (count > len / 2) return false;
        size_t k = w.from(start);
        for (int64_t n = 0; n < count; ++n) {
            int64_t off, gen;
            i = skip_ws(t, i, len);
            if (!digit_run(t, len, &i, &off)) return false;
            i = skip_ws(t, i, len);
            if (!digit_run(t, len, &i, &gen)) return false;
            i = skip_ws(t, i, len);
            if (i >= len || (t[i] != 'n' && t[i] != 'f') || (i + 1 < len && is_alnum(t[i + 1]))) return false;
            if (t[i++] == 'n') w.offer(&k, start + n, 1, off, gen);
        }
    }
    i = skip_blank(t, i + 7, len);
    if (i + 1 >= len || t[i] != '<' || t[i + 1] != '<') return false;
    const int32_t close = dict_close_one(t, len - i > MAX_TRAILER ? i + MAX_TRAILER : len, i);
    if (close < 0) return false;
    return offset_key(t, len, i, close + 2, "Prev", prev) && offset_key(t, len, i, close + 2, "XRefStm", xrefstm);
}

// Reads the integers of the array that follows `key` in t[from, end) into
// v (at most `most` of them). False when the key is absent, its value is no
// array of non-negative integers, or the array holds more than `most`.
bool int_array(const uint8_t *t, int32_t from, int32_t end, const char *key, size_t most, std::vector<int64_t> *v) {
    v->clear();
    const int32_t p = find_name_top(t, end, from, end, key);
    if (p < 0) return false;
    int32_t i = skip_blank(t, p + 1 + static_cast<int32_t>(std::strlen(key)), end);
    if (i >= end || t[i] != '[') return false;
    for (++i;;) {
        i = skip_blank(t, i, end);
        if (i >= end) return false;
        if (t[i] == ']') return true;
        int64_t x;
        if (v->size() == most || !digit_run(t, end, &i, &x)) return false;
        v->push_back(x);
    }
}

// True when the value of `key` in the dictionary t[from, end) holds no
// reference (also when the key is absent). The values of a cross-reference
// stream's /Filter and /DecodeParms must be direct, so that reading the chain
// needs no object: a name, an array up to its "]", a dictionary up to its
// ">>".
bool direct_value(const uint8_t *t, int32_t from, int32_t end, const char *key) {
    const int32_t p = find_name_top(t, end, from, end, key);
    if (p < 0) return true;
    const int32_t v = skip_blank(t, p + 1 + static_cast<int32_t>(std::strlen(key)), end);
    if (v >= end || is_digit(t[v])) return false;
    int32_t close = v + 1;
    if (t[v] == '[') {
        const void *c = std::memchr(t + v, ']', static_cast<size_t>(end - v));
        if (!c) return false;
        close = static_cast<int32_t>(static_cast<const uint8_t *>(c) - t);
    } else if (t[v] == '<') {
        close = dict_close_one(t, end, v);
        if (close < 0) return false;
    }
    return find_kw(t, close, v, "R") < 0;
}

// The big-endian number of the n bytes at p.
int64_t field(const uint8_t *p, int64_t n) {
    uint64_t x = 0;
    for (int64_t k = 0; k < n; ++k) x = x << 8 | p[k];
    return x > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(x);
}

// Reads the cross-reference stream whose header starts at p: its entries
// into w, its /Prev into *prev. Its dictionary and data are taken from
// *budget first: false when that does not hold them.
bool read_stream_section(const doc *d, const entries_by_pos &objects, int32_t p, wanted_entries &w, int64_t *prev,
                         int64_t *budget) {
    const int32_t k = objects.find(p);
    if (k < 0) return false;
    const objent &e = d->objs.items[k];
    if (!e.has_stream || e.dict_pos < 0) return false;
    const text_range r = dict_range(d, &e);
    // Dictionary regions of damaged files may overlap: the bytes read stay
    // within a bound however many sections name them.
    *budget -= static_cast<int64_t>(r.end - r.start) + (e.data_end - e.data_pos);
    if (*budget < 0) return false;
    const uint8_t *t = r.base;
    const int32_t ty = find_name_top(t, r.end, r.start, r.end, "Type");
    if (ty < 0) return false;
    const int32_t q = skip_blank(t, ty + 5, r.end);
    if (q + 5 > r.end || std::memcmp(t + q, "/XRef", 5) != 0 || (q + 5 < r.end && is_namecont(t[q + 5])))
        return false;
    std::vector<int64_t> wv, index;
    if (!int_array(t, r.start, r.end, "W", 3, &wv) || wv.size() != 3) return false;
    for (int64_t x : wv)
        if (x > 8) return false;
    const int64_t row = wv[0] + wv[1] + wv[2];
    if (row == 0) return false;
    const int32_t sz = find_name_top(t, r.end, r.start, r.end, "Size");
    if (sz < 0) return false;
    int32_t si = sz + 5;
    const int32_t size = parse_int_at(t, r.end, &si);
    if (size < 0) return false;
    if (find_name_top(t, r.end, r.start, r.end, "Index") >= 0) {
        if (!int_array(t, r.start, r.end, "Index", SIZE_MAX, &index) || index.size() % 2) return false;
    } else {
        index = {0, size};
    }
    if (!offset_key(d->data, d->len, r.start, r.end, "Prev", prev)) return false;
    if (!direct_value(t, r.start, r.end, "Filter") || !direct_value(t, r.start, r.end, "DecodeParms")) return false;

    buf b{};
    int32_t n = 0;
    const uint8_t *data = decoded_stream(d, &e, &b, &n);
    bool ok = data != nullptr || e.data_end == e.data_pos;
    const int64_t room = (data ? n : 0) / row;
    int64_t rows = 0;
    for (size_t s = 0; ok && s < index.size(); s += 2) {
        rows += index[s + 1];
        ok = rows <= room;
    }
    const uint8_t *at = data;
    for (size_t s = 0; ok && s < index.size(); s += 2) {
        size_t pos = w.from(index[s]);
        for (int64_t m = 0; m < index[s + 1]; ++m, at += row) {
            const int64_t type = wv[0] ? field(at, wv[0]) : 1;
            if (type == 1 || type == 2)
                w.offer(&pos, index[s] + m, static_cast<int32_t>(type), field(at + wv[0], wv[1]),
                        field(at + wv[0] + wv[1], wv[2]));
        }
    }
    buf_free(&b);
    return ok;
}

}  // namespace

int32_t header_at(const uint8_t *t, int32_t len, int64_t pos, int32_t num, int64_t gen) {
    if (pos < 0 || pos >= len) return -1;
    int32_t i = skip_ws(t, static_cast<int32_t>(pos), len);
    const int32_t start = i;
    int64_t n, g;
    if (!digit_run(t, len, &i, &n) || n != num || i >= len || !is_ws(t[i])) return -1;
    i = skip_ws(t, i, len);
    if (!digit_run(t, len, &i, &g) || g != gen || i >= len || !is_ws(t[i])) return -1;
    i = skip_ws(t, i, len);
    return kw_at(t, i, len, "obj") ? start : -1;
}

bool read_xref_chain(const doc *d, const entries_by_pos &objects, const std::vector<int32_t> &wanted,
                     std::vector<xref_entry> *out) {
    out->clear();
    const uint8_t *t = d->data;
    const int32_t len = d->len;
    const int32_t sx = last_startxref(t, len);
    if (sx < 0) return false;
    int32_t i = sx + 9;
    int64_t next = parse_int_at(t, len, &i);
    if (next < 0 || next >= len) return false;
    wanted_entries w(wanted);
    std::unordered_set<int64_t> seen;
    int64_t budget = 2 * static_cast<int64_t>(len) + (int64_t(1) << 20);
    for (int sections = 0; next >= 0; ++sections) {
        if (sections == MAX_SECTIONS || !seen.insert(next).second) return false;
        const int32_t p = skip_blank(t, static_cast<int32_t>(next), len);
        if (p >= len) return false;
        int64_t prev = -1, xrefstm = -1;
        if (kw_at(t, p, len, "xref")) {
            if (!read_table(t, len, p, w, &prev, &xrefstm)) return false;
            int64_t ignored;
            if (xrefstm >= 0 &&
                !read_stream_section(d, objects, skip_blank(t, static_cast<int32_t>(xrefstm), len), w, &ignored, &budget))
                return false;
        } else if (!read_stream_section(d, objects, p, w, &prev, &budget)) {
            return false;
        }
        next = prev;
    }
    for (const xref_entry &e : w.found)
        if (e.type != 0) out->push_back(e);
    return true;
}

}  // namespace plenvo
