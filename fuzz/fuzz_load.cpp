// Whole-document fuzzing: load arbitrary bytes and answer the page-size query
// for every page. Any bytes must give a clean load or a clean failure (a
// message, nothing owned), and every answer must be one JSON line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "base/error.h"
#include "interface/page_size.h"
#include "reader/doc.h"
#include "reader/helper_thread.h"
#include "reader/scan_phases.h"

namespace {

// A file of this process's own, removed when the process ends.
struct own_file {
    std::string path = "/tmp/fuzz_load_" + std::to_string(static_cast<long>(getpid())) + ".pdf";
    ~own_file() { std::remove(path.c_str()); }
};

// Writes the input to that file and loads the file.
int load_from_file(const uint8_t *data, size_t size, plenvo::doc *d) {
    static const own_file file;
    FILE *f = std::fopen(file.path.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) std::abort();
    return plenvo::doc_load(file.path.c_str(), d);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Inputs of odd length are loaded as large files are: with the helper
    // thread, the scan and the page tree in pieces; one in two of them is
    // read from a file in small blocks that the helper searches as they come.
    plenvo::split_min_bytes = size % 2 ? 0 : INT64_MAX;
    plenvo::read_block_bytes = 1 + static_cast<int64_t>(size / 4 % 4096);
    plenvo::doc d;
    const int rc = size % 4 == 3 ? load_from_file(data, size, &d) : plenvo::doc_load_bytes(data, size, "fuzz", &d);
    if (rc != 0) {
        // A failed load sets a message and leaves the record owning nothing.
        if (plenvo::g_err[0] == 0 || d.data || d.objs.items || d.pages.items || d.arena.blocks || d.index ||
            d.helper)
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
