// Page resources: the text of the /Resources dictionary a page uses, its own
// or the one it inherits from the page tree.
#include <cstdint>

#include "output/page_resources.h"
#include "reader/scan.h"

namespace plenvo {

namespace {

// A key position not known yet: resources_of searches for the key.
constexpr int32_t KEY_UNKNOWN = -2;

// Position of the '/' of the key `name` at the top level of the dictionary
// text [start, end) of base, or -1. A dictionary the structured search
// cannot walk is searched plainly instead.
int32_t find_key(const uint8_t *base, int32_t start, int32_t end, const char *name) {
    int32_t p = find_name_top(base, end, start, end, name);
    if (p < 0) p = find_name(base, end, start, end, name);
    return p;
}

// Where the dictionary that object e holds lies; t null when its value is
// no dictionary.
resources_at object_dict_at(const doc *d, const objent *e) {
    if (e->in_objstm) {
        int32_t p = 0;
        while (p < e->text_len && e->text[p] != '<') ++p;
        return {e->text, e->text_len, p};
    }
    if (e->dict_pos < 0) return {nullptr, 0, -1};
    text_range r = dict_range(d, e);
    return {d->data, r.end, e->dict_pos};
}

// Where the /Resources dictionary of object e lies: an inline dictionary or
// a reference to a dictionary object. t null when there is none; sets
// *absent when e has no /Resources key or its value stands for nothing (null,
// or a reference to an object that does not exist), so that an inherited
// dictionary applies instead. key: where e's /Resources key stands (-1 when
// none), or KEY_UNKNOWN to search for it.
resources_at resources_of(const doc *d, const objent *e, bool *absent, int32_t key) {
    const resources_at none{nullptr, 0, -1};
    *absent = false;
    text_range r = dict_range(d, e);
    if (r.start < 0) {
        *absent = true;
        return none;
    }
    const uint8_t *t = r.base;
    int32_t at = key == KEY_UNKNOWN ? find_key(t, r.start, r.end, "Resources") : key;
    if (at < 0) {
        *absent = true;
        return none;
    }
    int32_t v = skip_ws(t, at + 10, r.end);
    if (v >= r.end) return none;
    if (t[v] == '<') {
        if (v + 1 < r.end && t[v + 1] == '<') return {t, r.end, v};
        return none;
    }
    if (is_digit(t[v])) {
        int32_t p = v;
        int32_t n = parse_int_at(t, r.end, &p);
        const objent *target = n > 0 ? doc_lookup(d, n) : nullptr;
        if (!target) {
            *absent = true;
            return none;
        }
        return object_dict_at(d, target);
    }
    if (kw_at(t, v, r.end, "null")) *absent = true;
    return none;
}

}  // namespace

// See page_resources.h. Reads the page's own /Resources; only when the page has none
// is the nearest /Pages ancestor holding one (p->res_node) consulted.
resources_at locate_page_resources(const doc *d, const objent *page, const pageinfo *p, int32_t own_key) {
    const resources_at none{nullptr, 0, -1};
    if (!d) return none;
    bool absent = true;
    if (page) {
        resources_at own = resources_of(d, page, &absent, own_key);
        if (own.t || !absent) return own;
    }
    if (!p || p->res_node < 0) return none;
    const objent *node = doc_lookup(d, p->res_node);
    if (!node) return none;
    return resources_of(d, node, &absent, KEY_UNKNOWN);
}

// See page_resources.h. Never changes the doc.
char *page_resources_dict(const resources_at &at) {
    return at.t ? dict_text_at(at.t, at.len, at.pos) : nullptr;
}

}  // namespace plenvo
