// The /Length of every stream entry's dictionary, as parse_length reads it.
// Disjoint dictionary regions are read one by one; overlapping ones (see
// stream_regions_overlap) share one list of the file's /Length occurrences.
#include <algorithm>
#include <memory>

#include "reader/scan.h"
#include "reader/scan_phases.h"

namespace plenvo {
namespace {

// Reads the value of one /Length occurrence exactly as parse_length does,
// bounded by `end`, and remembers how far it looked: `reach` is one past the
// furthest byte read, or `end` when it ran into the end. An evaluation whose
// reach is at most some other end E gives the same answer with E as end.
struct length_probe {
    const uint8_t *t;
    int32_t end;
    int32_t reach = 0;

    length_probe(const uint8_t *text, int32_t e) : t(text), end(e) {}

    bool in(int32_t i) {
        if (i < end) return true;
        reach = end;
        return false;
    }
    uint8_t at(int32_t i) {
        if (i + 1 > reach) reach = i + 1;
        return t[i];
    }
    int32_t skip_ws(int32_t i) {
        while (in(i) && is_ws(at(i))) ++i;
        return i;
    }
    // As parse_int_at over t[0..end).
    int32_t parse_int(int32_t *pos) {
        int32_t i = skip_ws(*pos);
        if (!in(i)) return -1;
        bool neg = false;
        if (at(i) == '-') {
            neg = true;
            if (!in(++i)) return -1;
        }
        if (!in(i) || !is_digit(at(i))) return -1;
        const int64_t lim = neg ? 2147483648LL : 2147483647LL;
        int64_t v = 0;
        while (in(i) && is_digit(at(i))) {
            v = v * 10 + (t[i] - '0');
            if (v > lim) return -1;
            ++i;
        }
        *pos = i;
        return static_cast<int32_t>(neg ? -v : v);
    }
    // The occurrence at p: true with *out_len or *out_ref when it decides.
    bool decide(int32_t p, int32_t *out_len, int32_t *out_ref) {
        int32_t i = skip_ws(p + 8);  // the byte right after the name is the separator
        if (!in(i)) return false;
        const uint8_t c = at(i);
        if (is_digit(c) || c == '-') {
            const int32_t n = parse_int(&i);
            if (n < 0) return false;
            const int32_t j = skip_ws(i);
            if (in(j) && is_digit(at(j))) {
                int32_t g = j;
                parse_int(&g);
                if (g != j) {
                    const int32_t k = skip_ws(g);
                    if (in(k) && at(k) == 'R' && (!in(k + 1) || !is_alnum(at(k + 1)))) {
                        *out_ref = n;
                        return true;
                    }
                }
            }
            *out_len = n;
            return true;
        }
        if (c == '[') {
            int32_t last = -1;
            ++i;
            while (in(i) && at(i) != ']') {
                int32_t q = i;
                const int32_t v = parse_int(&q);
                if (q != i && v >= 0) last = v;
                i = q != i ? q : i + 1;
            }
            if (last >= 0) {
                *out_len = last;
                return true;
            }
        }
        return false;
    }
};

// /Length of overlapping dictionary regions. Every occurrence of /Length in
// the file is listed once; each is evaluated once against the whole file and
// that answer reused for every region that contains all the bytes it read.
// Occurrences that decide nothing and read no further than the next
// occurrence are jumped over (path-compressed), so regions that share long
// runs of them do not walk those runs again.
struct length_regions {
    const uint8_t *t;
    int32_t len;
    std::vector<int32_t> occ;
    struct eval {
        bool done = false, decided = false;
        int32_t l = -1, r = -1, reach = 0;
    };
    std::vector<eval> whole;     // evaluation against the whole file, by occurrence
    std::vector<int32_t> next;   // next occurrence not known to be skippable

    length_regions(const doc *d)
        : t(d->data), len(d->len), occ(name_occurrences(d, "Length", [](int32_t) { return true; })),
          whole(occ.size()), next(occ.size() + 1) {
        for (size_t k = 0; k < next.size(); ++k) next[k] = static_cast<int32_t>(k);
    }

    int32_t find(int32_t i) {
        int32_t r = i;
        while (next[static_cast<size_t>(r)] != r) r = next[static_cast<size_t>(r)];
        while (next[static_cast<size_t>(i)] != r) {
            const int32_t up = next[static_cast<size_t>(i)];
            next[static_cast<size_t>(i)] = r;
            i = up;
        }
        return r;
    }

    const eval &whole_eval(int32_t i) {
        eval &e = whole[static_cast<size_t>(i)];
        if (!e.done) {
            length_probe pr(t, len);
            e.decided = pr.decide(occ[static_cast<size_t>(i)], &e.l, &e.r);
            e.reach = pr.reach;
            e.done = true;
        }
        return e;
    }

    // Results for the region [start, end): as parse_length(t, len, start, end).
    void region(int32_t start, int32_t end, int32_t *out_len, int32_t *out_ref) {
        *out_len = -1;
        *out_ref = -1;
        const int32_t m = static_cast<int32_t>(occ.size());
        int32_t i = static_cast<int32_t>(std::lower_bound(occ.begin(), occ.end(), start) - occ.begin());
        // The last occurrence whose name ends by `end`.
        const int32_t last =
            static_cast<int32_t>(std::upper_bound(occ.begin(), occ.end(), static_cast<int64_t>(end) - 7,
                                                  [](int64_t v, int32_t o) { return v < o; }) -
                                 occ.begin()) -
            1;
        while (i <= last) {
            i = find(i);
            if (i > last) {
                // Every occurrence up to `last` was jumped; all but `last` read
                // nothing beyond the next one, but `last` may have read past end.
                length_probe pr(t, end);
                pr.decide(occ[static_cast<size_t>(last)], out_len, out_ref);
                return;
            }
            const eval &e = whole_eval(i);
            const int32_t after = i + 1 < m ? occ[static_cast<size_t>(i) + 1] : len;
            if (!e.decided && e.reach <= after) {
                next[static_cast<size_t>(i)] = i + 1;
                continue;
            }
            if (e.reach <= end) {
                if (e.decided) {
                    *out_len = e.l;
                    *out_ref = e.r;
                    return;
                }
            } else {
                length_probe pr(t, end);
                if (pr.decide(occ[static_cast<size_t>(i)], out_len, out_ref)) return;
            }
            ++i;
        }
    }
};

}  // namespace

struct stream_lengths::shared : length_regions {
    using length_regions::length_regions;
};

stream_lengths::stream_lengths(const doc *d) : d_(d) {
    if (stream_regions_overlap(d, d->objs.count)) shared_ = std::make_unique<shared>(d);
}

stream_lengths::~stream_lengths() = default;

void stream_lengths::of(const objent &e, int32_t *len, int32_t *ref) {
    *len = -1;
    *ref = -1;
    if (e.in_objstm || !e.has_stream || e.dict_pos < 0) return;
    if (shared_)
        shared_->region(e.dict_pos, std::min(d_->len, e.stream_pos), len, ref);
    else
        parse_length(d_->data, d_->len, e.dict_pos, e.stream_pos, len, ref);
}

}  // namespace plenvo
