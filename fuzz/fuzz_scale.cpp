// Whole-document fuzzing through the output builder: load arbitrary bytes and
// rescale them in fit or percent mode into a per-process temporary file.
// Beyond "no crash", it checks the builder's contract: success leaves a file
// and an empty error text; failure leaves a message and no file. The output
// is loaded again; with PLENVO_FUZZ_RELOAD_DIR set, inputs whose output does
// not load with the same page count are saved there for study.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "base/error.h"
#include "output/scale.h"
#include "reader/doc.h"

static bool file_exists(const std::string &p) { return access(p.c_str(), F_OK) == 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string out = "/tmp/plenvo-fuzz-scale-" + std::to_string(getpid()) + ".pdf";
    std::remove(out.c_str());
    // The last byte picks the mode (and the percent factor) so both paths are
    // explored.
    const uint8_t sel = size ? data[size - 1] : 0;
    plenvo::doc d;
    if (plenvo::doc_load_bytes(data, size, "fuzz", &d) != 0) return 0;
    int ok = 0;
    try {
        if (sel & 1)
            ok = plenvo::scale_doc(&d, out.c_str(), plenvo::MODE_PERCENT, 0.0, 0.0, 0.5 + (sel >> 4));
        else
            ok = plenvo::scale_doc(&d, out.c_str(), plenvo::MODE_FIT, 595.28, 841.89, 1.0);
    } catch (...) {
        // Only memory exhaustion may escape; the exports turn it into a message.
        ok = -1;
    }
    if (ok == 1) {
        if (plenvo::g_err[0] != 0 || !file_exists(out)) std::abort();
        plenvo::doc again;
        int same = plenvo::doc_load(out.c_str(), &again) == 0 && again.pages.count == d.pages.count;
        plenvo::doc_free(&again);
        static const char *keep = std::getenv("PLENVO_FUZZ_RELOAD_DIR");
        if (!same && keep && *keep) {
            static int saved = 0;
            if (saved < 200) {
                std::ofstream f(std::string(keep) + "/reload-" + std::to_string(getpid()) + "-" +
                                    std::to_string(saved++),
                                std::ios::binary);
                f.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
            }
        }
    } else if (ok == 0) {
        if (plenvo::g_err[0] == 0 || file_exists(out)) std::abort();
    }
    std::remove(out.c_str());
    plenvo::doc_free(&d);
    return 0;
}
