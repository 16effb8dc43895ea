// The page-size query's paper table and nearest-size search.
#pragma once

#include <cstddef>

namespace plenvo {

// One named paper size in points, stored portrait (w < h).
struct papier {
    const char *name;
    double w, h;
};

constexpr int PAPIER_COUNT = 13;
extern const papier PAPIERS[PAPIER_COUNT];

// Size of the page-size answer buffer, g_psize_out.
constexpr int PSIZE_OUT_SIZE = 512;
extern char g_psize_out[PSIZE_OUT_SIZE];

// Index of the paper row nearest to w x h (either orientation), or -1 when no
// row lies strictly within 2 points on both sides. Ties go to the earlier row,
// and within a row to the portrait match.
int nearest_papier(double w, double h);

struct doc;
// Formats the answer for page `page` (1..d->pages.count) of a loaded document
// into out (size bytes, NUL-terminated): displayed width and height, the page
// number and the nearest paper name. Never fails; never touches the error text.
void format_page_size(const doc *d, int page, char *out, size_t size);

}  // namespace plenvo
