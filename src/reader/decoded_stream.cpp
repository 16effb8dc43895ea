// The data of one stream object: in place when unfiltered, otherwise decoded
// through its /Filter chain with its /DecodeParms.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "inflate/filters.h"
#include "inflate/inflate.h"
#include "reader/decoded_stream.h"
#include "reader/doc.h"
#include "reader/scan.h"

namespace plenvo {

namespace {

// Chains longer than this are refused; real files use one to three filters.
constexpr size_t MAX_CHAIN = 16;

// A position inside a text that ends at `end`.
struct cursor {
    const uint8_t *t;
    int32_t pos;
    int32_t end;
};

inline int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Skips white space and comments.
void skip_blank(cursor &c) {
    for (;;) {
        c.pos = skip_ws(c.t, c.pos, c.end);
        if (c.pos >= c.end || c.t[c.pos] != '%') return;
        while (c.pos < c.end && c.t[c.pos] != '\n' && c.t[c.pos] != '\r') ++c.pos;
    }
}

// True when the keyword kw stands at the cursor (followed by a delimiter,
// white space or the end); the cursor then moves past it.
bool take_kw(cursor &c, const char *kw) {
    int32_t p = c.pos;
    for (; *kw; ++kw, ++p)
        if (p >= c.end || c.t[p] != static_cast<uint8_t>(*kw)) return false;
    if (p < c.end && is_alnum(c.t[p])) return false;
    c.pos = p;
    return true;
}

// Reads the name at the cursor's '/' into out (without the slash, #xx
// escapes decoded) and moves past it. False when no name stands there.
bool read_name(cursor &c, std::string &out) {
    if (c.pos >= c.end || c.t[c.pos] != '/') return false;
    ++c.pos;
    out.clear();
    // Most names hold no #xx escape: taken in one piece.
    int32_t e = c.pos;
    while (e < c.end && !is_ws(c.t[e]) && !is_delim(c.t[e]) && c.t[e] != '#') ++e;
    if (e == c.end || c.t[e] != '#') {
        out.assign(reinterpret_cast<const char *>(c.t + c.pos), static_cast<size_t>(e - c.pos));
        c.pos = e;
        return true;
    }
    while (c.pos < c.end && !is_ws(c.t[c.pos]) && !is_delim(c.t[c.pos])) {
        uint8_t ch = c.t[c.pos++];
        if (ch == '#' && c.pos + 1 < c.end && hex_value(c.t[c.pos]) >= 0 &&
            hex_value(c.t[c.pos + 1]) >= 0) {
            ch = static_cast<uint8_t>(hex_value(c.t[c.pos]) << 4 | hex_value(c.t[c.pos + 1]));
            c.pos += 2;
        }
        out.push_back(static_cast<char>(ch));
    }
    return true;
}

// Reads "N G R" at the cursor and moves past it; the object number, or -1
// (cursor unchanged) when no reference stands there.
int32_t read_ref(cursor &c) {
    int32_t p = c.pos;
    const int32_t num = parse_int_at(c.t, c.end, &p);
    if (num <= 0) return -1;
    const int32_t gen = parse_int_at(c.t, c.end, &p);
    if (gen < 0) return -1;
    p = skip_ws(c.t, p, c.end);
    if (p >= c.end || c.t[p] != 'R' || (p + 1 < c.end && is_alnum(c.t[p + 1]))) return -1;
    c.pos = p + 1;
    return num;
}

// The text of object num's value: a member's whole text; for a direct object
// from its dictionary (or from after "obj") up to "endobj". pos = -1 when the
// object is missing or its value cannot be located.
cursor object_value(const doc *d, int32_t num) {
    const objent *e = doc_lookup(d, num);
    if (!e) return {nullptr, -1, -1};
    if (e->in_objstm) return {e->text, 0, e->text_len};
    const int32_t end = e->endobj_pos > 0 && e->endobj_pos <= d->len ? e->endobj_pos : d->len;
    if (e->dict_pos >= 0) return {d->data, e->dict_pos, end};
    if (e->hdr_pos < 0) return {nullptr, -1, -1};
    const int32_t kw = find_kw(d->data, end, e->hdr_pos, "obj");
    if (kw < 0) return {nullptr, -1, -1};
    return {d->data, kw + 3, end};
}

// The position just past the ">>" that closes the dictionary opening at the
// cursor's "<<", or -1. Strings, hex strings and comments are stepped over.
int32_t dict_end(const cursor &c) {
    int depth = 0;
    int32_t i = c.pos;
    while (i < c.end) {
        const uint8_t ch = c.t[i];
        if (ch == '<') {
            if (i + 1 < c.end && c.t[i + 1] == '<') {
                ++depth;
                i += 2;
            } else {
                while (i < c.end && c.t[i] != '>') ++i;
                ++i;
            }
        } else if (ch == '>') {
            if (i + 1 < c.end && c.t[i + 1] == '>') {
                i += 2;
                if (--depth == 0) return i;
            } else {
                ++i;
            }
        } else if (ch == '(') {
            int nest = 0;
            for (; i < c.end; ++i) {
                if (c.t[i] == '\\') {
                    ++i;
                } else if (c.t[i] == '(') {
                    ++nest;
                } else if (c.t[i] == ')' && --nest == 0) {
                    break;
                }
            }
            ++i;
        } else if (ch == '%') {
            while (i < c.end && c.t[i] != '\n' && c.t[i] != '\r') ++i;
        } else {
            ++i;
        }
    }
    return -1;
}

// Reads the /Filter value at the cursor: a name, an array of names, null, or
// a reference to one of these (followed once). False when it is anything else.
bool parse_filters(const doc *d, cursor c, std::vector<filter_spec> &chain, bool follow) {
    skip_blank(c);
    if (c.pos >= c.end) return false;
    std::string name;
    const uint8_t ch = c.t[c.pos];
    if (ch == '/') {
        read_name(c, name);
        chain.push_back(filter_spec{std::move(name), filter_parms{}});
        return true;
    }
    if (ch == '[') {
        ++c.pos;
        for (;;) {
            skip_blank(c);
            if (c.pos >= c.end) return false;
            if (c.t[c.pos] == ']') return true;
            if (chain.size() >= MAX_CHAIN) return false;
            if (c.t[c.pos] == '/') {
                read_name(c, name);
                chain.push_back(filter_spec{std::move(name), filter_parms{}});
                continue;
            }
            // An element given by reference must itself be a name.
            const int32_t num = follow ? read_ref(c) : -1;
            if (num < 0) return false;
            cursor v = object_value(d, num);
            if (v.pos < 0) return false;
            skip_blank(v);
            if (!read_name(v, name)) return false;
            chain.push_back(filter_spec{std::move(name), filter_parms{}});
        }
    }
    if (take_kw(c, "null")) return true;
    if (!follow) return false;
    const int32_t num = read_ref(c);
    if (num < 0) return false;
    const cursor v = object_value(d, num);
    return v.pos >= 0 && parse_filters(d, v, chain, false);
}

// The integer value of key in the dictionary [start, end) of text t (a direct
// integer or a reference to an integer object), or `dflt` when absent or not
// an integer.
int parms_int(const doc *d, const uint8_t *t, int32_t start, int32_t end, const char *key,
              int dflt) {
    const int32_t at = find_name_top(t, end, start, end, key);
    if (at < 0) return dflt;
    cursor c{t, at + 1 + static_cast<int32_t>(std::char_traits<char>::length(key)), end};
    skip_blank(c);
    cursor r = c;
    const int32_t num = read_ref(r);
    if (num > 0) {
        const objent *e = doc_lookup(d, num);
        if (!e) return dflt;
        int32_t v;
        if (e->in_objstm) {
            int32_t p = 0;
            v = parse_int_at(e->text, e->text_len, &p);
        } else {
            v = e->hdr_pos >= 0 ? read_obj_int_value(d->data, d->len, e->hdr_pos) : -1;
        }
        return v >= 0 ? v : dflt;
    }
    int32_t p = c.pos;
    const int32_t v = parse_int_at(t, end, &p);
    if (p == c.pos) return dflt;
    // A real number such as 1.0 is not an integer parameter.
    if (p < end && c.t[p] == '.') return dflt;
    return v;
}

// Reads one /DecodeParms entry at the cursor: a dictionary, null, or a
// reference to a dictionary (followed once). Unreadable entries give the
// defaults.
filter_parms parse_parms(const doc *d, cursor c, bool follow) {
    filter_parms p;
    skip_blank(c);
    if (c.pos + 1 < c.end && c.t[c.pos] == '<' && c.t[c.pos + 1] == '<') {
        const int32_t end = dict_end(c);
        if (end < 0) return p;
        p.predictor = parms_int(d, c.t, c.pos, end, "Predictor", p.predictor);
        p.colors = parms_int(d, c.t, c.pos, end, "Colors", p.colors);
        p.bits_per_component = parms_int(d, c.t, c.pos, end, "BitsPerComponent", p.bits_per_component);
        p.columns = parms_int(d, c.t, c.pos, end, "Columns", p.columns);
        p.early_change = parms_int(d, c.t, c.pos, end, "EarlyChange", p.early_change);
        return p;
    }
    if (!follow) return p;
    const int32_t num = read_ref(c);
    if (num < 0) return p;
    const cursor v = object_value(d, num);
    return v.pos >= 0 ? parse_parms(d, v, false) : p;
}

// Fills the chain's parameters from the /DecodeParms value at the cursor: an
// array gives one entry per filter in order; a single entry belongs to a
// chain of one filter and is ignored for longer chains.
void apply_parms(const doc *d, cursor c, std::vector<filter_spec> &chain, bool follow) {
    skip_blank(c);
    if (c.pos >= c.end) return;
    if (c.t[c.pos] == '[') {
        ++c.pos;
        for (size_t i = 0; i < chain.size(); ++i) {
            skip_blank(c);
            if (c.pos >= c.end || c.t[c.pos] == ']') return;
            if (c.t[c.pos] == '<') {
                chain[i].parms = parse_parms(d, c, true);
                const int32_t end = dict_end(c);
                if (end < 0) return;
                c.pos = end;
            } else if (take_kw(c, "null")) {
                // this filter keeps its defaults
            } else {
                cursor r = c;
                if (read_ref(r) < 0) return;  // not an entry: stop reading the array
                chain[i].parms = parse_parms(d, c, true);
                c = r;
            }
        }
        return;
    }
    if (follow && is_digit(c.t[c.pos])) {
        cursor r = c;
        const int32_t num = read_ref(r);
        if (num < 0) return;
        const cursor v = object_value(d, num);
        if (v.pos < 0) return;
        cursor vc = v;
        skip_blank(vc);
        // A referenced array of parameters.
        if (vc.pos < vc.end && vc.t[vc.pos] == '[') {
            apply_parms(d, vc, chain, false);
            return;
        }
    }
    if (chain.size() == 1) chain[0].parms = parse_parms(d, c, follow);
}

}  // namespace

bool is_flate(const std::string &name) { return name == "FlateDecode" || name == "Fl"; }

bool read_filter_chain(const doc *d, const uint8_t *t, int32_t end, int32_t filter, int32_t parms,
                       std::vector<filter_spec> *chain) {
    chain->clear();
    if (!parse_filters(d, cursor{t, filter, end}, *chain, true)) return false;
    if (parms >= 0 && !chain->empty()) apply_parms(d, cursor{t, parms, end}, *chain, true);
    return true;
}

namespace {

// True when the /Filter value at the cursor is a single Flate name written
// without #xx escapes, the one form read_name and is_flate accept that needs
// no std::string: "/FlateDecode" or "/Fl" ending at white space, a delimiter
// or the end of the region (a '#' after it would make it an escaped name).
bool single_plain_flate(cursor c) {
    skip_blank(c);
    if (c.pos >= c.end || c.t[c.pos] != '/') return false;
    const int32_t from = c.pos + 1;
    const int32_t left = c.end - from;
    const char *name = reinterpret_cast<const char *>(c.t + from);
    int32_t n = 0;
    if (left >= 11 && std::memcmp(name, "FlateDecode", 11) == 0)
        n = 11;
    else if (left >= 2 && std::memcmp(name, "Fl", 2) == 0)
        n = 2;
    else
        return false;
    if (n == left) return true;
    const uint8_t after = c.t[from + n];
    return is_ws(after) || is_delim(after);
}

struct free_deleter {
    void operator()(uint8_t *p) const { std::free(p); }
};

// Appends n decoded bytes to b; the address where they begin, or nullptr
// when b could not grow.
const uint8_t *hand_out(buf *b, const uint8_t *bytes, size_t n, int32_t *out_len) {
    const uint64_t old = b->data ? b->len : 0;
    buf_append(b, bytes, n);
    if (!b->data) return nullptr;
    *out_len = static_cast<int32_t>(n);
    return b->data + old;
}

// Inflates src[0..n) straight into the room after b's data, with the block
// sizes flate_decode_alloc tries (n * 20 + 4096 first, then four times larger,
// up to the decoder's limit), so that it succeeds and fails exactly where
// that would. Returns false, with b unchanged, only when the room cannot be
// reserved (the caller then decodes through a separate block); otherwise true
// with *p the start of the appended bytes, or nullptr when decoding failed.
bool inflate_into(buf *b, const uint8_t *src, size_t n, int32_t *out_len, const uint8_t **p) {
    const size_t max_cap = FILTER_MAX_OUT < INFLATE_MAX_CAP ? FILTER_MAX_OUT : INFLATE_MAX_CAP;
    size_t cap = max_cap < 4096 || n > (max_cap - 4096) / 20 ? max_cap : n * 20 + 4096;
    for (;;) {
        if (!buf_try_reserve(b, cap)) return false;
        uint8_t *dst = b->data + b->len;
        size_t produced = 0;
        inflate_why why = INFLATE_DONE;
        const int rc = inflate_decompress_ex(src, n, dst, cap, &produced, &why);
        if (rc == 0) {
            b->len += produced;
            b->data[b->len] = 0;
            *out_len = static_cast<int32_t>(produced);
            *p = dst;
            return true;
        }
        b->data[b->len] = 0;  // the failed attempt may have written over the NUL
        if (why != INFLATE_NO_ROOM || cap >= max_cap) {
            *p = nullptr;
            return true;
        }
        cap = cap > max_cap / 4 ? max_cap : cap * 4;
    }
}

// Inflates raw[0..raw_n) and appends the result to b: straight into b's
// room when it can be reserved, otherwise through a separate block. The
// address of the appended bytes, or nullptr when decoding fails.
const uint8_t *inflate_appended(buf *b, const uint8_t *raw, size_t raw_n, int32_t *out_len) {
    const uint8_t *p = nullptr;
    if (inflate_into(b, raw, raw_n, out_len, &p)) return p;
    size_t produced = 0;
    std::unique_ptr<uint8_t, free_deleter> block(flate_decode_alloc(raw, raw_n, FILTER_MAX_OUT, &produced));
    if (!block) return nullptr;
    return hand_out(b, block.get(), produced, out_len);
}

}  // namespace

// The data of stream object e; see buf.h. The filter chain is read from the
// stream's own dictionary only (a /Filter inside a nested dictionary does not
// count); /Filter and /DecodeParms are found in one walk. A single Flate
// filter without a predictor is inflated straight into one block and
// appended (a plain "/FlateDecode" or "/Fl" without /DecodeParms builds no
// chain at all); every other chain goes through decode_chain.
const uint8_t *decoded_stream(const doc *d, const objent *e, buf *b, int32_t *out_len) {
    if (!e || !e->has_stream || e->in_objstm) return nullptr;
    if (e->data_pos < 0 || e->data_end > d->len || e->data_end <= e->data_pos) return nullptr;
    const uint8_t *raw = d->data + e->data_pos;
    const size_t raw_n = static_cast<size_t>(e->data_end - e->data_pos);

    if (e->dict_pos < 0) {
        *out_len = static_cast<int32_t>(raw_n);
        return raw;
    }
    const int32_t end = e->stream_pos > 0 ? e->stream_pos : e->endobj_pos > 0 ? e->endobj_pos : d->len;
    const int32_t region = end <= d->len ? end : d->len;
    static const char *const keys[2] = {"Filter", "DecodeParms"};
    int32_t at[2] = {-1, -1};
    find_names_top(d->data, region, e->dict_pos, region, keys, 2, at);
    const int32_t f = at[0], p = at[1];
    if (f < 0) {
        *out_len = static_cast<int32_t>(raw_n);
        return raw;
    }
    if (p < 0 && single_plain_flate(cursor{d->data, f + 7, region}))
        return inflate_appended(b, raw, raw_n, out_len);

    std::vector<filter_spec> chain;
    if (!read_filter_chain(d, d->data, region, f + 7, p >= 0 ? p + 12 : -1, &chain)) return nullptr;
    if (chain.empty()) {
        *out_len = static_cast<int32_t>(raw_n);
        return raw;
    }
    if (chain.size() == 1 && is_flate(chain[0].name) && chain[0].parms.predictor < 2)
        return inflate_appended(b, raw, raw_n, out_len);
    std::vector<uint8_t> out;
    if (!decode_chain(raw, raw_n, chain, out, FILTER_MAX_OUT)) return nullptr;
    return hand_out(b, out.data(), out.size(), out_len);
}

}  // namespace plenvo
