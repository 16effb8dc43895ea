// The output builder's entry: writes a loaded document, every page rescaled,
// into a new file.
#pragma once

#include "reader/doc.h"

namespace plenvo {

// How the new page size is chosen: fit into a target size, or scale by a factor.
enum scale_mode { MODE_FIT = 0, MODE_PERCENT = 1 };

// Writes the rescaled document to out_path. Returns 1 with the error text
// emptied, or 0 with a message set; an existing file at out_path is left
// untouched on every failure. Never modifies d.
int scale_doc(const doc *d, const char *out_path, int mode, double W, double H, double f);

}  // namespace plenvo
