// Page resources: where the /Resources dictionary a page uses lies, its own
// or the one it inherits from the page tree, and its text.
#pragma once

#include <cstdint>

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

// Where the page's /Resources dictionary lies: its own or, when it has none,
// the nearest ancestor's (p->res_node); t null when there is none. own_key:
// the position of the page's own /Resources key (page_keys_of or
// find_page_keys, -1 when none). Never allocates, never changes the doc.
resources_at locate_page_resources(const doc *d, const objent *page, const pageinfo *p, int32_t own_key);

// A malloc'd copy of the dictionary text ("<<" .. ">>") at `at`, as
// locate_page_resources found it; nullptr when there is none or it cannot be
// copied. The caller frees it with free().
char *page_resources_dict(const resources_at &at);

}  // namespace plenvo
