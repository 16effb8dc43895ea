// Whole-document fuzzing: load arbitrary bytes and answer the page-size query
// for every page. Any bytes must give a clean load or a clean failure (a
// message, nothing owned), and every answer must be one JSON line.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/error.h"
#include "interface/page_size.h"
#include "reader/doc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    plenvo::doc d;
    if (plenvo::doc_load_bytes(data, size, "fuzz", &d) != 0) {
        // A failed load sets a message and leaves the record owning nothing.
        if (plenvo::g_err[0] == 0 || d.data || d.objs.items || d.pages.items || d.arena.blocks || d.index)
            std::abort();
        return 0;
    }
    if (d.pages.count < 1) std::abort();
    char answer[plenvo::PSIZE_OUT_SIZE];
    for (int32_t i = 1; i <= d.pages.count; ++i) {
        plenvo::format_page_size(&d, i, answer, sizeof answer);
        const size_t n = std::strlen(answer);
        if (std::strncmp(answer, "{\"width_pt\":", 12) != 0 || n == 0 || answer[n - 1] != '}') std::abort();
    }
    plenvo::doc_free(&d);
    return 0;
}
