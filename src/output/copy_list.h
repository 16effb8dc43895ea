// The objects copied into the output: the closure of what the pages'
// resources refer to, their new numbers, and their rewritten texts.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/buf.h"
#include "output/page_keys.h"
#include "output/page_resources.h"
#include "reader/doc.h"

namespace plenvo {

struct carry_plan;

// The objects reachable from the pages' resources, in order of discovery, and
// the map from old to new numbers.
struct copy_list {
    std::vector<int32_t> old_nums;   // position j gets new number first_new + j
    std::vector<int32_t> new_of;     // old number -> new number, 0 when not copied (size max_num+1);
                                     // 3k for page k of the page list (its new page object);
                                     // -1 for another page, a page-tree node or the catalog (written as null)
    std::unordered_map<int32_t, int32_t> far_new;  // numbers above max_num (never in the table)
    std::vector<resources_at> page_res;            // per page: where its resources lie (as located)
    int32_t first_new = 0;
    carry_plan *carry = nullptr;  // set: the document-level objects are carried too (carried.h)
    int32_t new_number(int32_t old_num) const;  // 0 when not copied
};

// Builds the closure, the first copied object numbered first_new; keys[k]
// holds page k's keys (page_keys_of). With cl->carry set, the document-level
// objects and what they reach follow the resources (take_carried). Throws
// std::bad_alloc when memory runs out; never changes the doc.
void build_copy_list(const doc *d, int32_t first_new, copy_list *cl, const page_keys *keys);

// The text with every reference to a copied object rewritten to its new
// number, references to the pages of the page list to their new pages, and
// references to other pages, page-tree nodes and the catalog written as null.
// Literal strings, hex strings and comments are copied unchanged.
std::string rewrite_refs(const uint8_t *t, size_t n, const doc *d, const copy_list &cl);

// Appends object e's text under number newnum to b, references rewritten
// (never inside stream data); a carried object with a role is written as its
// role rewrites it (copy_carried_object).
void copy_object(const doc *d, const objent *e, int32_t newnum, const copy_list &cl, buf *b);

}  // namespace plenvo
