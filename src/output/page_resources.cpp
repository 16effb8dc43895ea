// Page resources: the text of the /Resources dictionary a page uses, its own
// or the one it inherits from the page tree.
#include <cstdint>

#include "output/scale.h"
#include "reader/scan.h"

namespace plenvo {

namespace {

// Position of the '/' of the key `name` at the top level of the dictionary
// text [start, end) of base, or -1. A dictionary the structured search
// cannot walk is searched plainly instead.
int32_t find_key(const uint8_t *base, int32_t start, int32_t end, const char *name) {
    int32_t p = find_name_top(base, end, start, end, name);
    if (p < 0) p = find_name(base, end, start, end, name);
    return p;
}

// A copy of the dictionary that object e holds, or nullptr when its value
// is no dictionary.
char *object_dict_copy(const doc *d, const objent *e) {
    if (e->in_objstm) {
        int32_t p = 0;
        while (p < e->text_len && e->text[p] != '<') ++p;
        return dict_text_at(e->text, e->text_len, p);
    }
    if (e->dict_pos < 0) return nullptr;
    text_range r = dict_range(d, e);
    return dict_text_at(d->data, r.end, e->dict_pos);
}

// The /Resources dictionary of object e: an inline dictionary or a reference
// to a dictionary object, copied. Returns nullptr when there is none; sets
// *absent when e has no /Resources key or its value stands for nothing (null,
// or a reference to an object that does not exist), so that an inherited
// dictionary applies instead.
char *resources_of(const doc *d, const objent *e, bool *absent) {
    *absent = false;
    text_range r = dict_range(d, e);
    if (r.start < 0) {
        *absent = true;
        return nullptr;
    }
    const uint8_t *t = r.base;
    int32_t at = find_key(t, r.start, r.end, "Resources");
    if (at < 0) {
        *absent = true;
        return nullptr;
    }
    int32_t v = skip_ws(t, at + 10, r.end);
    if (v >= r.end) return nullptr;
    if (t[v] == '<') {
        if (v + 1 < r.end && t[v + 1] == '<') return dict_text_at(t, r.end, v);
        return nullptr;
    }
    if (is_digit(t[v])) {
        int32_t p = v;
        int32_t n = parse_int_at(t, r.end, &p);
        const objent *target = n > 0 ? doc_lookup(d, n) : nullptr;
        if (!target) {
            *absent = true;
            return nullptr;
        }
        return object_dict_copy(d, target);
    }
    if (kw_at(t, v, r.end, "null")) *absent = true;
    return nullptr;
}

}  // namespace

// See scale.h. Reads the page's own /Resources; only when the page has none
// is the nearest /Pages ancestor holding one (p->res_node) consulted.
// Returns a malloc'd copy or nullptr; never changes the doc.
char *page_resources_dict(const doc *d, const objent *page, const pageinfo *p) {
    if (!d) return nullptr;
    bool absent = true;
    if (page) {
        char *own = resources_of(d, page, &absent);
        if (own || !absent) return own;
    }
    if (!p || p->res_node < 0) return nullptr;
    const objent *node = doc_lookup(d, p->res_node);
    if (!node) return nullptr;
    return resources_of(d, node, &absent);
}

}  // namespace plenvo
