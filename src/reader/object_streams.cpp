// Placeholder until the object-stream reader lands.
#include "reader/doc.h"
namespace plenvo {
void read_object_streams(doc *) {}
}  // namespace plenvo
