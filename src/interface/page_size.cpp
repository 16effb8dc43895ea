// plenvo_page_size: the displayed size of one page and its paper name.
#include "interface/page_size.h"

#include <cmath>
#include <cstdio>
#include <new>

#include "base/error.h"
#include "base/number_text.h"
#include "plenvo.h"
#include "reader/doc.h"
#include "reader/page_tree.h"

namespace plenvo {

const papier PAPIERS[PAPIER_COUNT] = {
    {"A0", 2383.94, 3369.39},   {"A1", 1683.78, 2383.94}, {"A2", 1190.55, 1683.78},
    {"A3", 841.89, 1190.55},    {"A4", 595.28, 841.89},   {"A5", 419.53, 595.28},
    {"A6", 297.64, 419.53},     {"4A", 3369.39, 4767.17}, {"B5", 498.9, 708.66},
    {"Letter", 612, 792},       {"Legal", 612, 1008},     {"Tabloid", 792, 1224},
    {"Executive", 540, 720},
};

char g_psize_out[PSIZE_OUT_SIZE];

int nearest_papier(double w, double h) {
    const double tolerance = 2.0;
    int best = -1;
    double bestdev = 1e18;
    if (!std::isfinite(w) || !std::isfinite(h)) return best;
    for (int i = 0; i < PAPIER_COUNT; ++i) {
        const double W = PAPIERS[i].w, H = PAPIERS[i].h;
        double d1 = std::fmax(std::fabs(w - W), std::fabs(h - H));
        if (d1 < tolerance && d1 < bestdev) {
            best = i;
            bestdev = d1;
        }
        double d2 = std::fmax(std::fabs(w - H), std::fabs(h - W));
        if (d2 < tolerance && d2 < bestdev) {
            best = i;
            bestdev = d2;
        }
    }
    return best;
}

void format_page_size(const doc *d, int page, char *out, size_t size) {
    const pageinfo &e = d->pages.items[page - 1];

    // The page's own /Rotate wins over the one inherited from its ancestors.
    int r = e.rotate % 360;
    const int own = page_rotate_own(d, &e);
    if (own >= 0) r = own % 360;
    double w = e.urx - e.llx, h = e.ury - e.lly;
    if (r == 90 || r == 270) {
        double t = w;
        w = h;
        h = t;
    }
    char wt[NUMTEXT_SIZE], ht[NUMTEXT_SIZE];
    number_text(w, wt);
    number_text(h, ht);
    int best = nearest_papier(w, h);
    std::snprintf(out, size, "{\"width_pt\":%s,\"height_pt\":%s,\"page\":%d,\"size\":\"%s\"}", wt, ht,
                  page, best < 0 ? "Custom" : PAPIERS[best].name);
}

namespace {

// The query proper; may throw std::bad_alloc from the loader's containers.
const char *page_size(const char *input_path, int page) {
    if (!input_path) {
        set_error("NULL path argument");
        return nullptr;
    }
    if (page < 1) {
        set_error("page must be >= 1 (got %d)", page);
        return nullptr;
    }
    doc d;
    if (doc_load(input_path, &d) != 0) return nullptr;
    const int n = d.pages.count;
    if (n < page) {
        set_error("page %d out of range (document has %d page%s)", page, n, n == 1 ? "" : "s");
        doc_free(&d);
        return nullptr;
    }
    format_page_size(&d, page, g_psize_out, sizeof g_psize_out);
    doc_free(&d);
    clear_error();
    return g_psize_out;
}

}  // namespace

}  // namespace plenvo

extern "C" PLENVO_API const char *plenvo_page_size(const char *input_path, int page) {
    try {
        return plenvo::page_size(input_path, page);
    } catch (const std::bad_alloc &) {
        plenvo::set_error("out of memory");
    } catch (...) {
        plenvo::set_error("internal error");
    }
    return nullptr;
}
