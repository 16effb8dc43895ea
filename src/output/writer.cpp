// Placeholder until the output writer lands.
#include "interface/error.h"
#include "output/scale.h"
namespace plenvo {
int scale_doc(const doc *, const char *, int, double, double, double) {
    set_error("failed to build output (output writer not available in this build)");
    return 0;
}
}  // namespace plenvo
