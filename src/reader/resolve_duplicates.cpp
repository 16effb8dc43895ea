// Placeholder until duplicate resolution lands.
#include "reader/doc.h"
namespace plenvo {
void resolve_duplicates(doc *) {}
}  // namespace plenvo
