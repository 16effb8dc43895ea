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

std::vector<page_keys> page_keys_of(const doc *d) {
    const int32_t n = d->pages.count > 0 ? d->pages.count : 0;
    std::vector<page_keys> keys(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; ++k) {
        const pageinfo &p = d->pages.items[k];
        keys[k] = p.dict_read ? page_keys{p.contents_key, p.resources_key} : find_page_keys(d, doc_lookup(d, p.objnum));
    }
    return keys;
}

}  // namespace plenvo
