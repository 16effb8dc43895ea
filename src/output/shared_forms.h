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

// For each page k (0-based), the page whose form page k draws: k itself, or
// an earlier page whose form would be exactly the one page k would get (the
// same /Contents reference or array of references, or none; the same
// resources dictionary; the same box, compared bit for bit; the same
// rotation). A page whose content is written inside its own object is never
// shared. keys[k] are page k's keys (find_page_keys), cl the copy list
// (its page_res located). Throws std::bad_alloc.
std::vector<int32_t> shared_forms(const doc *d, const page_keys *keys, const copy_list &cl);

}  // namespace plenvo
