// Placeholder until the object scan lands.
#include "reader/doc.h"
namespace plenvo {
void scan_objects(doc *) {}
}  // namespace plenvo
