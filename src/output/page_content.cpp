// Page content: the bytes a page draws, read from its /Contents (a stream, an
// array of streams, an array object, or a stream written inline) and decoded
// through each stream's filters. Nothing here fails: what cannot be read is
// left out.
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <new>

#include "output/page_content.h"
#include "reader/decoded_stream.h"
#include "reader/scan.h"

namespace plenvo {

namespace {

const uint8_t k_empty[1] = {0};

// Decoded content kept for the places still to draw it stays below this.
constexpr uint64_t CACHE_LIMIT = uint64_t(32) << 20;

// A form's content must stay below this (with its NUL): the whole output
// stays below 2 GiB, and a /Length is a 32-bit number.
constexpr uint64_t MAX_CONTENT = uint64_t(INT32_MAX);

// What one gathering works with: the document, and the cache of streams
// drawn at several places.
struct gather_ctx {
    const doc *d;
    content_cache *cache;
};

// The data of stream e, as decoded_stream gives it (appended to b, or in
// place). A stream that content_cache_count found at two or more places is
// decoded once: the first use keeps a copy (while the kept copies stay within
// CACHE_LIMIT), later uses get the copy (a pointer into the cache, valid until
// the next gathering starts), and the last use lets it go.
const uint8_t *stream_data(const gather_ctx &g, const objent *e, buf *b, int32_t *n) {
    content_cache *c = g.cache;
    auto use = c->uses.find(e->num);
    if (use == c->uses.end()) return decoded_stream(g.d, e, b, n);
    if (--use->second <= 0) {
        c->uses.erase(use);
        c->spent.push_back(e->num);
    }
    auto hit = c->kept.find(e->num);
    if (hit != c->kept.end()) {
        *n = static_cast<int32_t>(hit->second.size());
        return hit->second.data();
    }
    const uint64_t before = b->data ? b->len : 0;
    const uint8_t *p = decoded_stream(g.d, e, b, n);
    // Only decoded data is kept: data read in place costs nothing to hand out.
    if (p && *n > 0 && b->data && p == b->data + before && c->bytes + static_cast<uint64_t>(*n) <= CACHE_LIMIT) {
        c->kept.emplace(e->num, std::vector<uint8_t>(p, p + *n));
        c->bytes += static_cast<uint64_t>(*n);
    }
    return p;
}

// Drops the kept copies whose last use has been handed out.
void drop_spent(content_cache *c) {
    for (const int32_t num : c->spent) {
        auto it = c->kept.find(num);
        if (it == c->kept.end()) continue;
        c->bytes -= it->second.size();
        c->kept.erase(it);
    }
    c->spent.clear();
}

// Reads a non-negative integer at *pos (a digit run of any length); returns
// it, or -1 when the run does not fit in 32 bits. *pos always ends past the
// digits.
int32_t read_number(const uint8_t *t, int32_t end, int32_t *pos) {
    int32_t v = parse_int_at(t, end, pos);
    if (v < 0) {
        while (*pos < end && is_digit(t[*pos])) ++*pos;
        return -1;
    }
    return v;
}

// Drops b back to `mark` bytes (an unused separator) and re-terminates it.
void truncate_to(buf *b, uint64_t mark) {
    if (b->data && b->len > mark) {
        b->len = mark;
        b->data[mark] = 0;
    }
}

// Empties out->owned, keeping its storage for the pages that follow.
void empty_owned(page_content *out) { truncate_to(&out->owned, 0); }

// What the gathering of one content array has found so far.
struct parts {
    bool any = false;       // some part yielded data
    bool too_long = false;  // the parts reached MAX_CONTENT together: gathering stopped
};

// True when n more bytes (and the NUL) would take b's content to
// MAX_CONTENT or beyond.
bool over_limit(const buf *b, uint64_t n) {
    const uint64_t have = b->data ? b->len : 0;
    return have + n + 1 > MAX_CONTENT;
}

// Appends the decoded data of stream e to b, after one line feed when an
// earlier part already yielded data (ps->any). Sets ps->any when this part
// adds data. Decoded data lands in b directly; data stored unfiltered is
// copied from the input once. An unreadable part adds nothing. Sets
// ps->too_long (and adds nothing) when the content would reach MAX_CONTENT.
// Throws std::bad_alloc when b loses its storage: the parts gathered before
// are gone then, and the content must not silently become what follows.
void append_part(const gather_ctx &g, const objent *e, buf *b, parts *ps) {
    if (!e->has_stream) return;
    uint64_t mark = b->data ? b->len : 0;
    if (ps->any) {
        buf_append(b, "\n", 1);
        if (!b->data) throw std::bad_alloc();
    }
    const bool had_storage = b->data != nullptr;
    uint64_t before = had_storage ? b->len : 0;
    int32_t n = 0;
    const uint8_t *p = stream_data(g, e, b, &n);
    if (had_storage && !b->data) throw std::bad_alloc();
    if (!p || n <= 0) {
        truncate_to(b, mark);
        return;
    }
    bool appended = b->data && b->len == before + static_cast<uint64_t>(n) && p == b->data + before;
    if (appended ? b->len + 1 > MAX_CONTENT : over_limit(b, static_cast<uint64_t>(n))) {
        truncate_to(b, mark);
        ps->too_long = true;
        return;
    }
    if (!appended) {
        buf_append(b, p, static_cast<uint64_t>(n));
        if (!b->data) throw std::bad_alloc();
    }
    ps->any = true;
}

// Walks the array whose elements start at pos (just past its '[') up to
// its ']' or end, appending the data of every element that names a stream.
// A bare number without R counts as an element; elements that are missing
// or not streams are skipped. Stops when the content grows too long.
void gather_array(const gather_ctx &g, const uint8_t *t, int32_t pos, int32_t end, buf *b, parts *ps) {
    const doc *d = g.d;
    int32_t n = 0;
    while (!ps->too_long && next_content_element(t, end, &pos, &n)) {
        const objent *e = n > 0 ? doc_lookup(d, n) : nullptr;
        if (e) append_part(g, e, b, ps);
    }
}

// Hands the gathered array data to out, or leaves out empty when no part
// yielded data or the parts were too long together (out->too_long set).
void finish_array(page_content *out, const parts &ps) {
    buf *b = &out->owned;
    if (ps.any && !ps.too_long && b->data && b->len > 0 && b->len < MAX_CONTENT) {
        out->data = b->data;
        out->len = static_cast<int32_t>(b->len);
    } else {
        empty_owned(out);
        if (ps.too_long) out->too_long = 1;
    }
}

// The value text of object e when that value is an array: sets *start just
// past its '[' and *end to the end of the object's text. False otherwise
// (a stream, a dictionary, anything but an array).
bool array_value(const doc *d, const objent *e, const uint8_t **base, int32_t *start, int32_t *end) {
    if (e->has_stream) return false;
    int32_t p, lim;
    if (e->in_objstm) {
        *base = e->text;
        lim = e->text_len;
        p = skip_blank(e->text, 0, lim);
    } else {
        if (e->dict_pos >= 0 || e->hdr_pos < 0) return false;
        *base = d->data;
        lim = e->endobj_pos > 0 ? e->endobj_pos : d->len;
        p = e->hdr_pos;
        if (parse_int_at(d->data, lim, &p) < 0) return false;
        p = skip_ws(d->data, p, lim);
        if (p < lim && is_digit(d->data[p]) && parse_int_at(d->data, lim, &p) < 0) return false;
        p = skip_ws(d->data, p, lim);
        if (!kw_at(d->data, p, lim, "obj")) return false;
        p = skip_blank(d->data, p + 3, lim);
    }
    if (p >= lim || (*base)[p] != '[') return false;
    *start = p + 1;
    *end = lim;
    return true;
}

// /Contents N 0 R: a stream is the content itself; an array object is read
// as the array it holds.
void gather_ref(const gather_ctx &g, const uint8_t *t, int32_t pos, int32_t end, page_content *out) {
    const doc *d = g.d;
    int32_t n = read_number(t, end, &pos);
    const objent *e = n > 0 ? doc_lookup(d, n) : nullptr;
    if (!e) return;
    if (e->has_stream) {
        int32_t len = 0;
        const uint8_t *p = stream_data(g, e, &out->owned, &len);
        if (p && len > 0) {
            out->data = p;
            out->len = len;
        } else {
            empty_owned(out);
        }
        return;
    }
    const uint8_t *base = nullptr;
    int32_t s = 0, lim = 0;
    if (!array_value(d, e, &base, &s, &lim)) return;
    parts ps;
    gather_array(g, base, s, lim, &out->owned, &ps);
    finish_array(out, ps);
}

// /Contents << ... >> stream ... endstream written inside the page object.
// The /Length is direct or a reference to a plain integer object. The data
// is decoded through the dictionary's filters like any stream; on a page
// held in an object stream (where streams cannot be) it is taken as stored
// when it names no filter.
void gather_inline(const gather_ctx &g, const objent *page, const uint8_t *t, int32_t pos, int32_t end,
                   page_content *out) {
    const doc *d = g.d;
    int32_t k = dict_stream_kw(t, end, pos);
    if (k < 0) return;
    int32_t len = -1, ref = -1;
    parse_length(t, end, pos, k, &len, &ref);
    if (len < 0 && ref > 0) {
        const objent *r = doc_lookup(d, ref);
        if (r && !r->in_objstm && !r->has_stream && r->hdr_pos >= 0)
            len = read_obj_int_value(d->data, d->len, r->hdr_pos);
    }
    if (len < 0) return;
    int32_t data = k + 6;
    if (k + 6 < end) data = (t[k + 6] == '\r' && k + 7 < end && t[k + 7] == '\n') ? k + 8 : k + 7;
    if (static_cast<int64_t>(data) + len > end || len == 0) return;

    if (page->in_objstm) {
        if (find_name(t, k, pos, k, "Filter") >= 0) return;
        buf_append(&out->owned, t + data, static_cast<uint64_t>(len));
        if (out->owned.data) {
            out->data = out->owned.data;
            out->len = len;
        }
        return;
    }
    objent s{};
    s.num = page->num;
    s.hdr_pos = -1;
    s.dict_pos = pos;
    s.stream_pos = k;
    s.data_pos = data;
    s.data_end = data + len;
    s.data_len = len;
    s.endobj_pos = page->endobj_pos;
    s.end_pos = page->end_pos;
    s.has_stream = 1;
    int32_t n = 0;
    const uint8_t *p = decoded_stream(d, &s, &out->owned, &n);
    if (p && n > 0) {
        out->data = p;
        out->len = n;
    } else {
        empty_owned(out);
    }
}

// Gathers the content of `page` into *out (data, len, owned as set up by
// the caller). contents_key: where the page dictionary's /Contents key
// stands (find_page_keys), -1 when it has none.
void gather(const gather_ctx &g, const objent *page, int32_t contents_key, page_content *out) {
    const doc *d = g.d;
    out->data = k_empty;
    out->len = 0;
    out->too_long = 0;
    if (!d || !page) return;
    text_range r = dict_range(d, page);
    if (r.start < 0) return;
    const uint8_t *t = r.base;
    if (contents_key < 0) return;
    const int32_t v = contents_value_at(t, contents_key, r.end);
    if (v >= r.end) return;
    if (is_digit(t[v])) {
        gather_ref(g, t, v, r.end, out);
    } else if (t[v] == '[') {
        parts ps;
        gather_array(g, t, v + 1, r.end, &out->owned, &ps);
        finish_array(out, ps);
    } else if (t[v] == '<' && v + 1 < r.end && t[v + 1] == '<') {
        gather_inline(g, page, t, v, r.end, out);
    }
    if (out->len == 0) out->data = k_empty;
}

// Counts one drawing of object num when it is a stream.
void count_use(const doc *d, int32_t num, std::vector<int32_t> *uses) {
    const objent *e = num > 0 ? doc_lookup(d, num) : nullptr;
    if (!e || !e->has_stream || e->in_objstm) return;
    if (static_cast<size_t>(num) >= uses->size()) uses->resize(static_cast<size_t>(num) + 1, 0);
    ++(*uses)[static_cast<size_t>(num)];
}

// Counts the streams an array of content parts names, read as gather_array
// reads it (up to its ']' or the end).
void count_array(const doc *d, const uint8_t *t, int32_t pos, int32_t end, std::vector<int32_t> *uses) {
    int32_t n = 0;
    while (next_content_element(t, end, &pos, &n))
        if (n > 0) count_use(d, n, uses);
}

// Counts the streams page p draws through its /Contents (key at `at`, -1
// when none): a stream, an array of them, or an array object.
void count_page(const doc *d, const pageinfo &p, int32_t at, std::vector<int32_t> *uses) {
    if (at < 0) return;
    const objent *page = doc_lookup(d, p.objnum);
    if (!page) return;
    const text_range r = dict_range(d, page);
    if (r.start < 0) return;
    const uint8_t *t = r.base;
    const int32_t v = contents_value_at(t, at, r.end);
    if (v >= r.end) return;
    if (is_digit(t[v])) {
        int32_t pos = v;
        const int32_t n = read_number(t, r.end, &pos);
        const objent *e = n > 0 ? doc_lookup(d, n) : nullptr;
        if (!e) return;
        if (e->has_stream) {
            count_use(d, n, uses);
            return;
        }
        const uint8_t *base = nullptr;
        int32_t s = 0, lim = 0;
        if (array_value(d, e, &base, &s, &lim)) count_array(d, base, s, lim, uses);
    } else if (t[v] == '[') {
        count_array(d, t, v + 1, r.end, uses);
    }
}

}  // namespace

// Counts, over every page in order, the places that draw each stream object:
// a /Contents reference to a stream, and each element of a content array
// (inline or held in an array object), read as gathering reads them. Only
// streams drawn at two or more places are kept in c->uses.
void content_cache_count(const doc *d, const page_keys *keys, content_cache *c) {
    c->uses.clear();
    c->kept.clear();
    c->spent.clear();
    c->bytes = 0;
    // Counted by object number.
    std::vector<int32_t> uses(static_cast<size_t>(d->max_num > 0 ? d->max_num : 0) + 1, 0);
    for (int32_t k = 0; k < d->pages.count; ++k) count_page(d, d->pages.items[k], keys[k].contents, &uses);
    for (size_t num = 0; num < uses.size(); ++num)
        if (uses[num] >= 2) c->uses.emplace(static_cast<int32_t>(num), uses[num]);
}

// See page_content.h. out->owned keeps its storage from page to page (the
// caller releases it once at the end), and streams counted by
// content_cache_count are decoded once. out->data stays valid until the next
// call.
void gather_content_reusing(const doc *d, const objent *page, int32_t contents_key, content_cache *c,
                            page_content *out) {
    drop_spent(c);
    truncate_to(&out->owned, 0);
    gather(gather_ctx{d, c}, page, contents_key, out);
}

int32_t contents_value_at(const uint8_t *t, int32_t key, int32_t end) {
    return skip_blank(t, key + 9, end);  // past "/Contents"
}

bool next_content_element(const uint8_t *t, int32_t end, int32_t *pos, int32_t *num) {
    int32_t p = *pos;
    for (;;) {
        p = skip_blank(t, p, end);
        if (p >= end || t[p] == ']') {
            *pos = p;
            return false;
        }
        if (is_digit(t[p])) break;
        ++p;
    }
    *num = read_number(t, end, &p);
    p = skip_blank(t, p, end);
    if (p < end && is_digit(t[p])) read_number(t, end, &p);
    p = skip_blank(t, p, end);
    if (p < end && t[p] == 'R') ++p;
    *pos = p;
    return true;
}

}  // namespace plenvo
