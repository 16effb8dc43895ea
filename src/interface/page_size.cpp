// Placeholder until the page-size query lands.
#include "interface/error.h"
#include "plenvo.h"
extern "C" PLENVO_API const char *plenvo_page_size(const char *input_path, int page) {
    if (!input_path) { plenvo::set_error("NULL path argument"); return nullptr; }
    if (page < 1) { plenvo::set_error("page must be >= 1 (got %d)", page); return nullptr; }
    plenvo::set_error("page-size query not available yet");
    return nullptr;
}
