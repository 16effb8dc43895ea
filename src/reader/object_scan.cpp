// The direct object scan: every object header in the file, where each
// stream's data begins and ends, and the clean-up of false hits.
//
// Every search here is done once for the whole file or remembered, so that no
// pass does work proportional to (number of objects) x (file length), even on
// files made of thousands of unterminated objects or streams.
#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <new>
#include <utility>

#include "reader/scan.h"
#include "reader/scan_phases.h"

namespace plenvo {
namespace {

// Positions of the "obj" and "endobj" keywords of the file, increasing.
// "obj" positions stop at len - 4: a header keyword needs a byte after it.
// Also every position of the bytes "/ObjStm", increasing (whatever follows).
struct keyword_table {
    std::vector<int32_t> obj;
    std::vector<int32_t> endobj;
    std::vector<int32_t> objstm_names;
};

// Both keywords end in "obj", and "/ObjStm" has a 'j' too: one jump from
// 'j' to 'j' finds them all.
keyword_table find_obj_keywords(const uint8_t *t, int32_t len) {
    keyword_table k;
    const uint8_t *p = t;
    const uint8_t *end = t + len;
    while (p < end) {
        const void *hit = std::memchr(p, 'j', static_cast<size_t>(end - p));
        if (!hit) break;
        const int32_t jp = static_cast<int32_t>(static_cast<const uint8_t *>(hit) - t);
        p = static_cast<const uint8_t *>(hit) + 1;
        if (jp < 2 || t[jp - 1] != 'b') continue;
        if (t[jp - 2] == 'O') {
            if (jp >= 3 && static_cast<int64_t>(jp) + 4 <= len && std::memcmp(t + jp - 3, "/ObjStm", 7) == 0)
                k.objstm_names.push_back(jp - 3);
            continue;
        }
        if (t[jp - 2] != 'o') continue;
        if (jp + 1 < len && is_alnum(t[jp + 1])) continue;
        const int32_t o = jp - 2;
        if (o >= 3 && t[o - 1] == 'd' && t[o - 2] == 'n' && t[o - 3] == 'e') {
            const int32_t e = o - 3;
            if (e == 0 || !is_alnum(t[e - 1])) k.endobj.push_back(e);
            continue;  // "obj" after a letter is no keyword
        }
        if (o > len - 4) continue;
        if (o > 0 && is_alnum(t[o - 1])) continue;
        k.obj.push_back(o);
    }
    return k;
}

// First position in `v` (increasing) at or after `from`, or -1.
int32_t first_at_or_after(const std::vector<int32_t> &v, int64_t from) {
    auto it = std::lower_bound(v.begin(), v.end(), from, [](int32_t a, int64_t b) { return a < b; });
    return it == v.end() ? -1 : *it;
}

// The same over one list for queries that mostly grow: steps forward from
// the previous answer while that is short, and searches only otherwise.
struct sorted_cursor {
    const std::vector<int32_t> &v;
    size_t k = 0;

    explicit sorted_cursor(const std::vector<int32_t> &list) : v(list) {}

    int32_t first_at_or_after(int64_t from) {
        if (k > 0 && v[k - 1] >= from) {
            k = static_cast<size_t>(std::lower_bound(v.begin(), v.end(), from, [](int32_t a, int64_t b) { return a < b; }) - v.begin());
        } else {
            for (int steps = 0; k < v.size() && v[k] < from; ++k)
                if (++steps == 8) {
                    k = static_cast<size_t>(std::lower_bound(v.begin() + static_cast<std::ptrdiff_t>(k), v.end(), from,
                                                             [](int32_t a, int64_t b) { return a < b; }) -
                                            v.begin());
                    break;
                }
        }
        return k < v.size() ? v[k] : -1;
    }
};

// The value of the digit run t[b..e), or false when it leaves the 32-bit range.
bool digit_run_value(const uint8_t *t, int32_t b, int32_t e, int32_t *out) {
    int64_t v = 0;
    for (int32_t i = b; i < e; ++i) {
        v = v * 10 + (t[i] - '0');
        if (v > 0x7FFFFFFF) return false;
    }
    *out = static_cast<int32_t>(v);
    return true;
}

// Reads the header "<num> <gen> " backwards from the "obj" keyword at o:
// space bytes, the generation's digits, space bytes, the object number's
// digits, not preceded by a letter or digit. The generation must not reach
// offset 0, both numbers must fit 32 bits and the number must be above 0.
bool header_before(const uint8_t *t, int32_t o, int32_t *num, int32_t *gen, int32_t *hdr_pos) {
    int32_t i = o - 1;
    if (i < 0 || !is_space_byte(t[i])) return false;
    while (i >= 0 && is_space_byte(t[i])) --i;
    if (i < 0 || !is_digit(t[i])) return false;
    const int32_t gen_end = i + 1;
    while (i >= 0 && is_digit(t[i])) --i;
    const int32_t gen_begin = i + 1;
    if (i < 0 || !is_space_byte(t[i])) return false;
    while (i >= 0 && is_space_byte(t[i])) --i;
    if (i < 0 || !is_digit(t[i])) return false;
    const int32_t num_end = i + 1;
    while (i >= 0 && is_digit(t[i])) --i;
    const int32_t num_begin = i + 1;
    if (i >= 0 && is_alnum(t[i])) return false;
    if (!digit_run_value(t, num_begin, num_end, num) || *num <= 0) return false;
    if (!digit_run_value(t, gen_begin, gen_end, gen)) return false;
    *hdr_pos = num_begin;
    return true;
}

// First byte of stream data after the "stream" keyword at s: after the LF, or
// the CR (and a LF right after it) that ends the keyword's line, SP and HT
// allowed before; otherwise one byte past the keyword.
int32_t stream_data_start(const uint8_t *t, int32_t len, int32_t s) {
    const int32_t after = s + 6;
    if (after >= len) return after;
    int32_t i = after;
    while (i < len && (t[i] == ' ' || t[i] == '\t')) ++i;
    if (i < len && t[i] == '\n') return i + 1;
    if (i < len && t[i] == '\r') return (i + 1 < len && t[i + 1] == '\n') ? i + 2 : i + 1;
    return after + 1;
}

// skip_ws, inlined into the per-header loops.
inline int32_t skip_white(const uint8_t *t, int32_t i, int32_t end) {
    while (i < end && is_ws(t[i])) ++i;
    return i;
}

// kw_at(t, p, len, "stream"), the keyword's length known in advance.
inline bool stream_kw_at(const uint8_t *t, int32_t p, int32_t len) {
    if (p < 0 || static_cast<int64_t>(p) + 6 > len) return false;
    if (std::memcmp(t + p, "stream", 6) != 0) return false;
    if (p > 0 && is_alnum(t[p - 1])) return false;
    return p + 6 == len || !is_alnum(t[p + 6]);
}

objent blank_entry() {
    objent e;
    e.num = 0;
    e.gen = 0;
    e.hdr_pos = -1;
    e.dict_pos = -1;
    e.stream_pos = -1;
    e.data_pos = -1;
    e.data_end = -1;
    e.endobj_pos = -1;
    e.end_pos = -1;
    e.data_len = -1;
    e.has_stream = 0;
    e.no_endstream = 0;
    e.in_objstm = 0;
    e.text = nullptr;
    e.text_len = 0;
    return e;
}

// ---- stream extents helpers ----

// The end of the run of space bytes (SP HT LF VT FF CR) that starts at i.
// Long runs are remembered, so that many streams whose declared ends fall
// into one long run cost one pass over it.
struct space_runs {
    space_runs(const uint8_t *text, int32_t n) : t(text), len(n) {}
    const uint8_t *t;
    int32_t len;
    std::map<int32_t, int32_t> known;  // [start, end) runs measured to their end

    int32_t skip(int32_t i) {
        const int32_t quick = static_cast<int32_t>(std::min<int64_t>(len, static_cast<int64_t>(i) + 64));
        int32_t j = i;
        while (j < quick && is_space_byte(t[j])) ++j;
        if (j < quick || j == len) return j;
        auto next = known.upper_bound(i);
        if (next != known.begin()) {
            auto prev = std::prev(next);
            if (prev->second > i) return prev->second;
        }
        const int32_t stop = next == known.end() ? len : next->first;
        while (j < stop && is_space_byte(t[j])) ++j;
        int32_t end = j;
        if (next != known.end() && j == stop) {
            end = next->second;
            known.erase(next);
        }
        known[i] = end;
        return end;
    }
};

// Finds the "endstream" keyword at or after a position. Searches directly,
// remembering the last answer; once the direct searches have together read
// more than the file's length, it lists every occurrence once and answers by
// binary search from then on.
struct endstream_finder {
    endstream_finder(const uint8_t *text, int32_t n) : t(text), len(n) {}
    const uint8_t *t;
    int32_t len;
    int64_t spent = 0;
    bool listed = false;
    std::vector<int32_t> all;
    int32_t memo_from = 0;
    int32_t memo_hit = -2;

    int32_t next(int64_t from) {
        if (from > len) return -1;
        const int32_t f = static_cast<int32_t>(from);
        if (listed) return first_at_or_after(all, f);
        if (memo_hit != -2 && memo_from <= f && (memo_hit == -1 || memo_hit >= f)) return memo_hit;
        if (spent > len) {
            for (int32_t p = find_kw(t, len, 0, "endstream"); p >= 0; p = find_kw(t, len, p + 9, "endstream"))
                all.push_back(p);
            listed = true;
            return first_at_or_after(all, f);
        }
        const int32_t hit = find_kw(t, len, f, "endstream");
        spent += (hit < 0 ? len : hit) - f;
        memo_from = f;
        memo_hit = hit;
        return hit;
    }
};

// Object number -> first table entry with that number, over the table as it
// stands (built on first use). Also remembers the integer value read for an
// entry, so that many streams naming one length object read it once.
struct first_entry_index {
    explicit first_entry_index(const doc *owner) : d(owner) {}
    const doc *d;
    bool built = false;
    std::vector<std::pair<int32_t, int32_t>> by_num;  // (num, index), sorted
    std::vector<int32_t> value;                        // -2: not read yet

    int32_t find(int32_t num) {
        if (!built) {
            by_num.reserve(static_cast<size_t>(d->objs.count));
            for (int32_t i = 0; i < d->objs.count; ++i) by_num.emplace_back(d->objs.items[i].num, i);
            if (!std::is_sorted(by_num.begin(), by_num.end())) std::sort(by_num.begin(), by_num.end());
            value.assign(static_cast<size_t>(d->objs.count), -2);
            built = true;
        }
        auto it = std::lower_bound(by_num.begin(), by_num.end(), std::make_pair(num, int32_t{-1}));
        return (it != by_num.end() && it->first == num) ? it->second : -1;
    }

    // The length held by object `num`: an integer of 0 or more in a plain
    // object, first in table order; -1 when there is none.
    int32_t length_object(int32_t num) {
        const int32_t i = find(num);
        if (i < 0) return -1;
        const objent &e = d->objs.items[i];
        if (e.has_stream || e.in_objstm) return -1;
        int32_t &v = value[static_cast<size_t>(i)];
        if (v == -2) v = read_obj_int_value(d->data, d->len, e.hdr_pos);
        return v;
    }
};

// The headers found by pass 1 so far, and what the rest of it needs.
struct header_list {
    std::vector<int32_t> after_obj;    // per entry from the first new one: the position right after its "obj"
    std::vector<int32_t> starts;       // dict_pos of entries whose value opens with '<'
    std::vector<int32_t> start_entry;  // their index in the table
};

// The entry of the header whose "obj" keyword is at o; false when no header
// stands before it.
bool header_entry(const uint8_t *t, int32_t len, int32_t o, objent *e) {
    *e = blank_entry();
    if (!header_before(t, o, &e->num, &e->gen, &e->hdr_pos)) return false;
    const int32_t val = skip_white(t, o + 3, len);
    if (val < len && t[val] == '<') e->dict_pos = val;
    return true;
}

// Pass 1, first part: one entry per object header of `obj`, appended in file
// order. Throws std::bad_alloc when the table cannot grow: an object left
// out would be an object missing from the output.
void add_headers(doc *d, const std::vector<int32_t> &obj, header_list *h) {
    objvec &v = d->objs;
    // Room for every keyword at once: no copy of the table while it grows.
    // When that much cannot be had, the table grows entry by entry instead.
    objvec_reserve(&v, static_cast<int64_t>(v.count) + static_cast<int64_t>(obj.size()));
    h->after_obj.reserve(obj.size());
    h->starts.reserve(obj.size());
    h->start_entry.reserve(obj.size());
    for (const int32_t o : obj) {
        objent e;
        if (!header_entry(d->data, d->len, o, &e)) continue;
        const int32_t before = v.count;
        objvec_push(&v, &e);
        if (v.count == before) throw std::bad_alloc();
        if (e.dict_pos >= 0) {
            h->starts.push_back(e.dict_pos);
            h->start_entry.push_back(before);
        }
        h->after_obj.push_back(o + 3);
    }
}

// Pass 1, the rest: for the entries from `first` on (h as add_headers left
// it), the dictionaries' ends, the "stream" keywords after them and the
// "endobj" of entries without stream; entries found unterminated leave.
void finish_headers(doc *d, int32_t first, const header_list &h, const keyword_table &kw) {
    const uint8_t *t = d->data;
    const int32_t len = d->len;
    objvec &v = d->objs;
    const std::vector<int32_t> &starts = h.starts;
    const std::vector<int32_t> &start_entry = h.start_entry;
    const std::vector<int32_t> &after_obj = h.after_obj;
    std::vector<int32_t> closes(starts.size(), -1);
    if (!starts.empty()) find_dict_closes(t, len, starts.data(), starts.size(), closes.data());

    // The "stream" keyword after each closed dictionary, and where its data
    // begins. Entries may share a closing ">>" (a hex string value walked on
    // into the next dictionary), so each distinct one is looked at about once:
    // closes come in increasing order as a rule and only the last of those is
    // kept; one met again out of that order is kept in a map.
    struct after_close {
        int32_t close, stream, data;
    };
    auto look_after = [&](int32_t c) {
        const int32_t p = skip_white(t, c + 2, len);
        after_close a{c, stream_kw_at(t, p, len) ? p : -1, -1};
        if (a.stream >= 0) a.data = stream_data_start(t, len, a.stream);
        return a;
    };
    after_close last{-1, -1, -1};
    std::map<int32_t, after_close> seen_out_of_order;
    for (size_t k = 0; k < starts.size(); ++k) {
        const int32_t c = closes[k];
        if (c < 0) continue;
        if (c > last.close) last = look_after(c);
        const after_close *a = &last;
        if (c < last.close) {
            auto m = seen_out_of_order.find(c);
            if (m == seen_out_of_order.end()) m = seen_out_of_order.emplace(c, look_after(c)).first;
            a = &m->second;
        }
        if (a->stream < 0) continue;
        objent &e = v.items[start_entry[k]];
        e.stream_pos = a->stream;
        e.has_stream = 1;
        e.data_pos = a->data;
    }

    // Objects without stream need their "endobj", searched from the '<' of
    // the value, else from right after "obj"; without one they are not
    // recorded. Stream objects get theirs with the stream extents. As a rule
    // nothing leaves: entries stay where they are.
    sorted_cursor endobj(kw.endobj);
    int32_t w = first;
    for (int32_t i = first; i < v.count; ++i) {
        objent &e = v.items[i];
        if (!e.has_stream) {
            const int32_t from = e.dict_pos >= 0 ? e.dict_pos : after_obj[static_cast<size_t>(i - first)];
            const int32_t ep = endobj.first_at_or_after(from);
            if (ep < 0) continue;
            e.endobj_pos = ep;
            e.end_pos = ep + 6;
        }
        if (w != i) v.items[w] = e;
        ++w;
    }
    v.count = w;
}

// Pass 2: where the data of each stream entry ends, and its "endobj".
void stream_extents_with(doc *d, const keyword_table &kw) {
    if (!d->data || d->objs.count == 0) return;
    stream_lengths lengths(d);
    first_entry_index index(d);
    const uint8_t *t = d->data;
    const int32_t len = d->len;
    space_runs spaces(t, len);
    endstream_finder endstream(t, len);
    sorted_cursor endobj(kw.endobj);
    static const char ENDSTREAM[] = "endstream";

    for (int32_t k = 0; k < d->objs.count; ++k) {
        objent &e = d->objs.items[k];
        if (!e.has_stream || e.in_objstm) continue;
        int32_t L, R;
        lengths.of(e, &L, &R);
        if (L < 0 && R >= 0) L = index.length_object(R);
        // A known length is right when "endstream" follows it (space bytes
        // allowed between); otherwise, and when the length is unknown (an
        // indirect length kept in an object stream, say), the keyword decides.
        bool declared_ok = false;
        if (L >= 0) {
            const int64_t E = static_cast<int64_t>(e.data_pos) + L;
            if (E < len) {
                const int32_t p = spaces.skip(static_cast<int32_t>(E));
                if (static_cast<int64_t>(p) + 9 <= len && std::memcmp(t + p, ENDSTREAM, 9) == 0) {
                    e.data_end = static_cast<int32_t>(E);
                    declared_ok = true;
                }
            }
        }
        if (!declared_ok) {
            const int32_t y = endstream.next(static_cast<int64_t>(e.data_pos) + 1);
            if (y < 0) {
                e.data_end = len;
                e.no_endstream = 1;
            } else {
                // The end of line right before the keyword is not data.
                int32_t end = y;
                if (t[y - 1] == '\n') {
                    end = y - 1;
                    if (y - 2 >= e.data_pos && t[y - 2] == '\r') end = y - 2;
                } else if (t[y - 1] == '\r') {
                    end = y - 1;
                }
                e.data_end = end;
            }
        }
        if (e.data_end < e.data_pos) e.data_end = e.data_pos;
        e.data_len = e.data_end - e.data_pos;
        const int32_t ep = endobj.first_at_or_after(static_cast<int64_t>(e.data_end) + 1);
        if (ep >= 0) {
            e.endobj_pos = ep;
            e.end_pos = ep + 6;
        } else {
            e.endobj_pos = -1;
        }
    }
}

// Pass 1 over the keyword table: one entry per object header.
void scan_headers_with(doc *d, const keyword_table &kw) {
    if (!d->data || d->len <= 3) return;
    const int32_t first = d->objs.count;
    header_list h;
    add_headers(d, kw.obj, &h);
    finish_headers(d, first, h, kw);
}

}  // namespace

void scan_headers(doc *d) {
    if (!d->data || d->len <= 0) return;
    scan_headers_with(d, find_obj_keywords(d->data, d->len));
}

void stream_extents(doc *d) {
    if (!d->data || d->len <= 0) return;
    stream_extents_with(d, find_obj_keywords(d->data, d->len));
}

void cleanup_entries(doc *d) {
    objvec &v = d->objs;
    std::vector<std::pair<int32_t, int32_t>> ranges;  // (start, end) of stream data
    std::vector<int32_t> max_end;                     // running maximum of the ends
    try {
        ranges.reserve(static_cast<size_t>(v.count) + 1);
        max_end.reserve(static_cast<size_t>(v.count) + 1);
    } catch (const std::bad_alloc &) {
        cleanup_entries_unindexed(d);
        return;
    }
    for (int32_t k = 0; k < v.count; ++k) {
        const objent &e = v.items[k];
        if (e.has_stream && e.data_pos >= 0 && e.data_pos < e.data_end) ranges.emplace_back(e.data_pos, e.data_end);
    }
    const auto by_start = [](const std::pair<int32_t, int32_t> &a, const std::pair<int32_t, int32_t> &b) {
        return a.first < b.first;
    };
    if (!std::is_sorted(ranges.begin(), ranges.end(), by_start)) std::sort(ranges.begin(), ranges.end(), by_start);
    int32_t m = -1;
    for (const auto &r : ranges) {
        m = std::max(m, r.second);
        max_end.push_back(m);
    }
    // Inside some range <=> among the ranges starting at or before the
    // position, the largest end lies beyond it. Kept entries keep their order.
    // Headers come in file order as a rule: the count of ranges starting at
    // or before the header then only grows and is stepped forward; a header
    // before the previous one is looked up by binary search.
    const size_t nr = ranges.size();
    size_t below = 0;  // ranges starting at or before the previous header
    int32_t prev = INT32_MIN;
    int32_t w = 0;
    for (int32_t k = 0; k < v.count; ++k) {
        const objent &e = v.items[k];
        bool drop = e.has_stream && e.endobj_pos < 0;
        if (!drop && !e.in_objstm && nr > 0) {
            const int32_t pos = e.hdr_pos;
            if (pos >= prev) {
                while (below < nr && ranges[below].first <= pos) ++below;
            } else {
                below = static_cast<size_t>(
                    std::upper_bound(ranges.begin(), ranges.end(), pos,
                                     [](int32_t x, const std::pair<int32_t, int32_t> &r) { return x < r.first; }) -
                    ranges.begin());
            }
            prev = pos;
            if (below > 0 && pos < max_end[below - 1]) drop = true;
        }
        if (drop) continue;
        // As a rule nothing is dropped: entries stay where they are.
        if (w != k) v.items[w] = e;
        ++w;
    }
    v.count = w;
}

void cleanup_entries_unindexed(doc *d) {
    objvec &v = d->objs;
    const int32_t n = v.count;
    auto inside = [](const objent &s, int32_t pos) {
        return s.has_stream && s.data_pos >= 0 && s.data_pos < s.data_end && s.data_pos <= pos && pos < s.data_end;
    };
    // Kept entries are compacted into [0, w); entries after k are still in
    // place; removed ones no longer count.
    int32_t w = 0;
    for (int32_t k = 0; k < n; ++k) {
        const objent e = v.items[k];
        bool drop = e.has_stream && e.endobj_pos < 0;
        for (int32_t j = 0; !drop && !e.in_objstm && j < w; ++j) drop = inside(v.items[j], e.hdr_pos);
        for (int32_t j = k + 1; !drop && !e.in_objstm && j < n; ++j) drop = inside(v.items[j], e.hdr_pos);
        if (!drop) v.items[w++] = e;
    }
    v.count = w;
}

void scan_objects(doc *d, std::vector<int32_t> *objstm_names) {
    if (objstm_names) objstm_names->clear();
    if (!d->data || d->len <= 0) return;
    keyword_table kw = find_obj_keywords(d->data, d->len);
    scan_headers_with(d, kw);
    stream_extents_with(d, kw);
    cleanup_entries(d);
    if (objstm_names) *objstm_names = std::move(kw.objstm_names);
}

}  // namespace plenvo
