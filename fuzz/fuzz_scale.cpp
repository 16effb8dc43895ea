// Whole-document fuzzing through the output builder: load arbitrary bytes and
// rescale them in both modes. Output goes to a per-process temporary file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "output/scale.h"
#include "reader/doc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string out = "/tmp/plenvo-fuzz-scale-" + std::to_string(getpid()) + ".pdf";
    plenvo::doc d;
    if (plenvo::doc_load_bytes(data, size, "fuzz", &d) != 0) return 0;
    // The first byte picks the mode so both paths are explored.
    uint8_t sel = size ? data[size - 1] : 0;
    try {
        if (sel & 1)
            plenvo::scale_doc(&d, out.c_str(), plenvo::MODE_PERCENT, 0.0, 0.0, 0.5 + (sel >> 4));
        else
            plenvo::scale_doc(&d, out.c_str(), plenvo::MODE_FIT, 595.28, 841.89, 1.0);
    } catch (...) {
        // The exports turn exceptions into messages; memory exhaustion is the only one.
    }
    std::remove(out.c_str());
    plenvo::doc_free(&d);
    return 0;
}
