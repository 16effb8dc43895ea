// Page resources: where the /Resources dictionary a page uses lies, its own
// or the one it inherits from the page tree, and its text.
#pragma once

#include <cstdint>

#include "output/page_keys.h"
#include "reader/doc.h"

namespace plenvo {

// Where a /Resources dictionary lies: dict_text_at(t, len, pos) copies it.
// t is null when there is none. Two pages with equal locations have equal
// resources texts.
struct resources_at {
    const uint8_t *t;
    int32_t len;
    int32_t pos;
};

// The location of the dictionary that page_resources_dict copies. Never
// allocates, never changes the doc.
// own_key: the position of the page's own /Resources key (find_page_keys),
// or KEY_UNKNOWN to search for it.
resources_at locate_page_resources(const doc *d, const objent *page, const pageinfo *p,
                                   int32_t own_key = KEY_UNKNOWN);

// A malloc'd copy of the page's /Resources dictionary text ("<<" .. ">>"), its
// own or, when it has none, the nearest ancestor's (p->res_node); nullptr when
// there is none. The caller frees it with free().
char *page_resources_dict(const doc *d, const objent *page, const pageinfo *p);

}  // namespace plenvo
