// Whole-document fuzzing: load arbitrary bytes and read every page as the
// page-size query does. Any bytes must give a clean load or a clean failure.
#include <cstdint>
#include <cstring>

#include "reader/doc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    plenvo::doc d;
    if (plenvo::doc_load_bytes(data, size, "fuzz", &d) != 0) return 0;
    volatile double sum = 0;
    for (int32_t i = 0; i < d.pages.count; ++i) {
        const plenvo::pageinfo &p = d.pages.items[i];
        const plenvo::objent *e = plenvo::doc_lookup(&d, p.objnum);
        int r = e ? plenvo::obj_rotate_own(&d, e) : -1;
        sum = sum + (p.urx - p.llx) + (p.ury - p.lly) + r;
    }
    plenvo::doc_free(&d);
    return 0;
}
