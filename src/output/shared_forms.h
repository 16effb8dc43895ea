// Pages that draw the same form: in merged or templated documents many pages
// share their content streams, resources, box and rotation, and their forms
// would be the same object text. Such pages all draw the first one's form.
#pragma once

#include <cstdint>
#include <vector>

#include "output/copy_list.h"
#include "output/page_keys.h"
#include "reader/doc.h"

namespace plenvo {

// Which form each page draws, and the keys its content is gathered by.
struct form_sharing {
    std::vector<int32_t> owner;    // per page k (0-based): k itself, or the earlier page whose form k draws
    std::vector<page_keys> drawn;  // the pages' keys, /Contents dropped (-1) for a page that draws another's form
};

// For each page k (0-based), the page whose form page k draws: k itself, or
// the first page whose form would be exactly the one page k would get (the
// same /Contents reference or array of references, or none; the same
// resources dictionary text; the same box, compared bit for bit; the same
// rotation). A page whose content is written inside its own object is never
// shared. keys are the pages' keys (page_keys_of), cl the copy list (its
// page_res located). Never changes the doc. Throws std::bad_alloc.
form_sharing find_shared_forms(const doc *d, const std::vector<page_keys> &keys, const copy_list &cl);

}  // namespace plenvo
