// Placeholder until the cross-reference walk lands.
#include "reader/doc.h"
namespace plenvo {
void xref_walk(doc *) {}
}  // namespace plenvo
