// What the writer keeps from page to page: the texts fixed by a page's box
// and rotation, and the rewritten resources texts by dictionary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>

#include "base/number_text.h"
#include "output/copy_list.h"
#include "output/placement.h"
#include "reader/doc.h"

namespace plenvo {

// The texts fixed by a page's box and rotation, kept from the last page
// placed: pages of one size (the usual case) reuse them instead of placing
// and formatting again. Placement depends on nothing else of the page.
struct geometry_memo {
    bool valid = false;
    double box[4] = {};
    int r = 0;
    placement pl{};
    char media[2 * NUMTEXT_SIZE + 2];  // "W H" of the new /MediaBox
    size_t media_len = 0;
    char line[PLACE_LINE_SIZE];  // the drawing line
    size_t line_len = 0;
    char head[FORM_HEAD_SIZE];  // the form dictionary's fixed part
    size_t head_len = 0;

    // Brings the memo to page p (placed by mode, W, H, f as compute_placement
    // takes them); false, the memo left invalid, when the page cannot be
    // placed. Never sets the error text.
    bool place(const doc *d, const pageinfo *p, int mode, double W, double H, double f);
};

// A page's rewritten resources text, or none.
struct rewritten_resources {
    bool present = false;
    std::string text;
};

// Rewritten resources texts by the location of their dictionary: pages that
// share one dictionary (a referenced resources object, or one inherited from
// the page tree) get the same text, made once. Texts are kept while they
// total at most 16 MiB.
struct resources_memo {
    static constexpr uint64_t LIMIT = uint64_t(16) << 20;
    struct key_hash {
        size_t operator()(const std::pair<const uint8_t *, const uint8_t *> &k) const {
            return std::hash<const uint8_t *>()(k.first) * 31 + std::hash<const uint8_t *>()(k.second);
        }
    };
    std::unordered_map<std::pair<const uint8_t *, const uint8_t *>, rewritten_resources, key_hash> kept;
    uint64_t bytes = 0;
    rewritten_resources fresh;

    // Page k's text, its location as build_copy_list found it (cl.page_res),
    // references rewritten by cl. Valid until the next call. Throws
    // std::bad_alloc; never changes the doc.
    const rewritten_resources &of(const doc *d, int32_t k, const copy_list &cl);
};

}  // namespace plenvo
