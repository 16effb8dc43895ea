// Page dictionary keys: where a page's /Contents and /Resources keys stand.
#include "output/page_keys.h"
#include "reader/scan.h"

namespace plenvo {

// Positions of the /Contents and /Resources keys of the page's dictionary,
// each at the dictionary's top level when it stands there, else its first
// occurrence anywhere; -1 when absent or when the page has no dictionary.
// One walk serves both keys.
page_keys find_page_keys(const doc *d, const objent *page) {
    page_keys k{-1, -1};
    if (!d || !page) return k;
    const text_range r = dict_range(d, page);
    if (r.start < 0) return k;
    static const char *const names[2] = {"Contents", "Resources"};
    int32_t at[2];
    find_names_top(r.base, r.end, r.start, r.end, names, 2, at);
    for (int i = 0; i < 2; ++i)
        if (at[i] < 0) at[i] = find_name(r.base, r.end, r.start, r.end, names[i]);
    k.contents = at[0];
    k.resources = at[1];
    return k;
}

}  // namespace plenvo
