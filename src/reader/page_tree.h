// Page objects and the page tree: what a page object says of itself (its
// type, its own rotation) and the walk that lists the pages.
#pragma once

#include <cstdint>

#include "reader/doc.h"
#include "reader/page_box.h"

namespace plenvo {

// 1 for /Type /Page, 2 for /Type /Pages, 0 otherwise.
int obj_type(const doc *d, const objent *e);
// The object's own /Rotate normalised into 0..359, or -1 when absent or not
// an integer.
int obj_rotate_own(const doc *d, const objent *e);
// The same for a page of the list: what the loader kept (p->own_rotate) when
// it read the page's dictionary, else looked up; -1 when the page has none.
int page_rotate_own(const doc *d, const pageinfo *p);

// The /Rotate value whose key's '/' stands at p in the dictionary text r (an
// integer, or a reference to an integer object), normalised into 0..359; -1
// when p is -1 or the value is not an integer. obj_rotate_own's answer when p
// is the key's first occurrence.
int rotate_value_at(const doc *d, const text_range &r, int32_t p);

// Walks the page tree below object num depth-first in /Kids order, appending
// one pageinfo per page to `pages`. visited holds d->max_num + 1 zeroed bytes;
// each /Pages node entered gets its byte set. Returns 1 when num is a /Page
// (its entry appended), the page count of the whole list when num is a
// /Pages node, -2 when num's own /Kids holds an inline dictionary, and -1
// when the tree is broken (missing or untyped node or kid, a node reached
// twice, a nested inline dictionary); entries appended before a failure may
// stay. Throws std::bad_alloc, also when the list cannot grow.
int resolve_pages(const doc *d, int32_t num, pagevec *pages, uint8_t *visited,
                  const page_attrs *inherited);

}  // namespace plenvo
