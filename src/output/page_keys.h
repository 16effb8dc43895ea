// Where a page dictionary's /Contents and /Resources keys stand: found once
// per page and handed to the readers of its content and resources.
#pragma once

#include <cstdint>
#include <vector>

#include "reader/doc.h"

namespace plenvo {

// Positions of the '/' of a page dictionary's /Contents and /Resources keys
// (top level first, else anywhere), -1 when absent.
struct page_keys {
    int32_t contents;
    int32_t resources;
};

// Both keys of the page's dictionary, found in one walk. Never allocates.
page_keys find_page_keys(const doc *d, const objent *page);

// The keys of every page of d->pages, in page order: what the loader kept
// when it read the page's dictionary, else find_page_keys' answer ({-1, -1}
// for a page whose object is missing). Throws std::bad_alloc.
std::vector<page_keys> page_keys_of(const doc *d);

}  // namespace plenvo
