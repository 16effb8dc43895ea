// Placeholder until the page tree lands.
#include "interface/error.h"
#include "reader/doc.h"
namespace plenvo {
int load_page_tree(doc *) { set_error("document has no pages"); return -1; }
int obj_type(const doc *, const objent *) { return 0; }
int obj_rotate_own(const doc *, const objent *) { return -1; }
}  // namespace plenvo
